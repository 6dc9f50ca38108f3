#include "row_painter.h"

#include "download/download_text.h"
#include "downloads/download_list.h"
#include "downloads/download_rows.h"
#include "sites/sites.h"

#include <QApplication>
#include <QFileInfo>
#include <QPainter>
#include <QSortFilterProxyModel>

namespace {

constexpr int ThumbWidth = 80;
constexpr int ThumbHeight = 45;
constexpr int MinBar = 60;  // the progress bar's least width beside the rate

struct Shown {
    QString text;
    QColor colour;
};

// One line of a row: the left text elided to what the right one leaves it; the right one
// whole, as far as the line allows.
void drawBeside(QPainter *painter, const QRect &line, const Shown &left, const Shown &right)
{
    const QFontMetrics metrics = painter->fontMetrics();
    const int rightWidth = right.text.isEmpty() ? 0 : qMin(line.width(), metrics.horizontalAdvance(right.text) + 8);
    painter->setPen(left.colour);
    painter->drawText(line.adjusted(0, 0, -rightWidth, 0), Qt::AlignLeft,
        metrics.elidedText(left.text, Qt::ElideRight, line.width() - rightWidth));
    painter->setPen(right.colour);
    painter->drawText(QRect(line.right() - rightWidth, line.top(), rightWidth, line.height()), Qt::AlignRight,
        metrics.elidedText(right.text, Qt::ElideRight, rightWidth));
}

void paintThumbnail(QPainter *painter, const QRect &thumb, const QPixmap &picture)
{
    painter->fillRect(thumb, QColor(230, 230, 230));
    if (picture.isNull())
        return;
    const QPixmap fitted = picture.scaled(thumb.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    painter->drawPixmap(thumb.left() + (thumb.width() - fitted.width()) / 2,
        thumb.top() + (thumb.height() - fitted.height()) / 2, fitted);
}

QString sizeText(const DownloadRow &r)
{
    // A converting row counts percent in its progress, not bytes.
    const bool bytes = r.progress.total >= 0 && r.entry.state != history::State::Converting;
    const qint64 total = bytes ? r.progress.total : r.entry.size;
    return total >= 0 ? byteSize(total) : QString();
}

// A running row's second line: the bar, then rate, time left and size, which keep their room.
void paintProgress(QPainter *painter, const QRect &line, const DownloadRow &r)
{
    QStringList numbers = {QStringLiteral("%1/s").arg(byteSize(qint64(r.progress.bytesPerSecond))),
        QStringLiteral("剩余 ") + timeLeftText(r.progress.secondsLeft), sizeText(r)};
    numbers.removeAll(QString());
    const QString right = numbers.join(QStringLiteral("  "));
    const QFontMetrics metrics = painter->fontMetrics();
    const int rightWidth = qMin(metrics.horizontalAdvance(right) + 8, qMax(0, line.width() - MinBar));
    QStyleOptionProgressBar bar;
    bar.rect = line.adjusted(0, 0, -rightWidth - 8, 0);
    bar.minimum = 0;
    bar.maximum = 1000;
    bar.progress = r.progress.total > 0 ? int(r.progress.done * 1000 / r.progress.total) : 0;
    QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
    painter->drawText(QRect(line.right() - rightWidth, line.top(), rightWidth, line.height()), Qt::AlignRight,
        metrics.elidedText(right, Qt::ElideRight, rightWidth));
}

}  // namespace

QSize RowPainter::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(0, RowHeight);  // as wide as the view: texts are elided, never scrolled
}

QPixmap RowPainter::thumbnail(qint64 id) const
{
    if (QPixmap *cached = thumbnails_.object(id))
        return *cached;
    // Read once and kept for the rows on screen: scrolling never waits for the disk twice.
    // An id is never given to another row, so what is kept stays true; a row without one
    // yet (another window writes it just after its row) is asked again.
    QPixmap pixmap = QPixmap::fromImage(covers_->get(id));
    if (!pixmap.isNull())
        thumbnails_.insert(id, new QPixmap(pixmap));
    return pixmap;
}

void RowPainter::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const DownloadRow *r = rows_->at(filter_->mapToSource(index).row());
    if (!r)
        return;
    painter->save();
    painter->setFont(option.font);
    QStyleOptionViewItem base = option;
    initStyleOption(&base, index);
    base.text.clear();
    QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &base, painter);
    const QRect area = option.rect.adjusted(6, 6, -6, -6);
    paintThumbnail(painter, QRect(area.left(), area.top() + (area.height() - ThumbHeight) / 2, ThumbWidth, ThumbHeight),
        thumbnail(r->entry.id));
    const QRect text = area.adjusted(ThumbWidth + 10, 0, 0, 0);
    const QFontMetrics metrics(option.font);
    // The title gives way first: the state, the size and the rate keep their whole width;
    // the tooltip holds everything. A running row's second line is its progress: its state
    // is the word alone. A state longer than half the row (a reason, a note) takes the
    // second line for itself.
    const bool running = r->entry.state == history::State::Running && !r->elsewhere;
    const QString state = running ? QStringLiteral("下载中") : stateText(*r);
    const bool stateBelow = !running && metrics.horizontalAdvance(state) + 8 > text.width() / 2;
    const QRect first(text.left(), text.top(), text.width(), metrics.height());
    const QRect second = first.translated(0, metrics.height() + 4);
    const QColor textColour =
        option.palette.color(option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text);
    const QColor quiet = option.palette.color(QPalette::PlaceholderText);
    drawBeside(painter, first, {rowTitle(*r), textColour}, {stateBelow ? QString() : state, textColour});
    if (running) {
        paintProgress(painter, second, *r);
    } else if (stateBelow) {
        drawBeside(painter, second, {state, textColour}, {sizeText(*r), quiet});
    } else {
        const int site = siteFromName(r->entry.video.site);
        QStringList who = {r->entry.video.author.simplified(), site >= 0 ? siteCaption(site) : r->entry.video.site};
        who.removeAll(QString());
        // The file's format beside its size: two rows of one video in two formats differ.
        // Each format the row holds, its own first ("MP4 · FLV": a conversion kept its original).
        QStringList formats;
        if (const QString own = formatBadge(*r); !own.isEmpty()) {
            formats << own;
            for (const QString &path : rowMediaFiles(*r)) {
                const QString format = QFileInfo(path).suffix().toUpper();
                if (!formats.contains(format))
                    formats << format;
            }
        }
        QStringList right = {formats.join(QStringLiteral(" · ")), sizeText(*r)};
        right.removeAll(QString());
        drawBeside(
            painter, second, {who.join(QStringLiteral(" · ")), quiet}, {right.join(QStringLiteral("  ")), quiet});
    }
    painter->restore();
}
