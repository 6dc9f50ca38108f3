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

QString sizeText(const DownloadRow &r)
{
    const qint64 total = r.progress.total >= 0 ? r.progress.total : r.entry.size;
    return total >= 0 ? byteSize(total) : QString();
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
    const QPixmap pixmap = QPixmap::fromImage(covers_->get(id));
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
    QStyleOptionViewItem base = option;
    initStyleOption(&base, index);
    base.text.clear();
    QApplication::style()->drawControl(QStyle::CE_ItemViewItem, &base, painter);
    const QRect area = option.rect.adjusted(6, 6, -6, -6);
    const QRect thumb(area.left(), area.top() + (area.height() - ThumbHeight) / 2, ThumbWidth, ThumbHeight);
    const QPixmap picture = thumbnail(r->entry.id);
    painter->fillRect(thumb, QColor(230, 230, 230));
    if (!picture.isNull()) {
        const QPixmap fitted = picture.scaled(thumb.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
        painter->drawPixmap(thumb.left() + (thumb.width() - fitted.width()) / 2,
            thumb.top() + (thumb.height() - fitted.height()) / 2, fitted);
    }
    const QRect text = area.adjusted(ThumbWidth + 10, 0, 0, 0);
    const QFontMetrics metrics(option.font);
    // The title gives way first: the state, the size and the rate keep their whole width;
    // the tooltip holds everything. A running row's second line is its progress: its state
    // is the word alone.
    const bool running = r->entry.state == history::State::Running && !r->elsewhere;
    const QString state = running ? QStringLiteral("下载中") : stateText(*r);
    const int second = text.top() + metrics.height() + 4;
    // A state longer than half the row (a reason, a note) takes the second line for itself.
    const bool stateBelow = metrics.horizontalAdvance(state) + 8 > text.width() / 2;
    const int stateWidth = stateBelow ? 0 : metrics.horizontalAdvance(state) + 8;
    painter->setPen(
        option.palette.color(option.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(QRect(text.left(), text.top(), text.width() - stateWidth, metrics.height()), Qt::AlignLeft,
        metrics.elidedText(rowTitle(*r), Qt::ElideRight, text.width() - stateWidth));
    if (!stateBelow)
        painter->drawText(
            QRect(text.right() - stateWidth, text.top(), stateWidth, metrics.height()), Qt::AlignRight, state);
    if (running) {
        QStringList numbers = {QStringLiteral("%1/s").arg(byteSize(qint64(r->progress.bytesPerSecond))),
            QStringLiteral("剩余 ") + timeLeftText(r->progress.secondsLeft), sizeText(*r)};
        numbers.removeAll(QString());
        const QString right = numbers.join(QStringLiteral("  "));
        const int rightWidth = qMin(metrics.horizontalAdvance(right) + 8, qMax(0, text.width() - MinBar));
        QStyleOptionProgressBar bar;
        bar.rect = QRect(text.left(), second, text.width() - rightWidth - 8, metrics.height());
        bar.minimum = 0;
        bar.maximum = 1000;
        bar.progress = r->progress.total > 0 ? int(r->progress.done * 1000 / r->progress.total) : 0;
        QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
        painter->drawText(QRect(text.right() - rightWidth, second, rightWidth, metrics.height()), Qt::AlignRight,
            metrics.elidedText(right, Qt::ElideRight, rightWidth));
    } else if (stateBelow) {
        const QString size = sizeText(*r);
        const int sizeWidth = size.isEmpty() ? 0 : metrics.horizontalAdvance(size) + 8;
        painter->drawText(QRect(text.left(), second, text.width() - sizeWidth, metrics.height()), Qt::AlignLeft,
            metrics.elidedText(state, Qt::ElideRight, text.width() - sizeWidth));
        painter->setPen(option.palette.color(QPalette::PlaceholderText));
        painter->drawText(QRect(text.right() - sizeWidth, second, sizeWidth, metrics.height()), Qt::AlignRight, size);
    } else {
        // Author and service give way to the size.
        const int site = siteFromName(r->entry.video.site);
        QStringList who = {r->entry.video.author.simplified(), site >= 0 ? siteCaption(site) : r->entry.video.site};
        who.removeAll(QString());
        const QString size = sizeText(*r);
        const int sizeWidth = size.isEmpty() ? 0 : metrics.horizontalAdvance(size) + 8;
        painter->setPen(option.palette.color(QPalette::PlaceholderText));
        painter->drawText(QRect(text.left(), second, text.width() - sizeWidth, metrics.height()), Qt::AlignLeft,
            metrics.elidedText(who.join(QStringLiteral(" · ")), Qt::ElideRight, text.width() - sizeWidth));
        painter->drawText(QRect(text.right() - sizeWidth, second, sizeWidth, metrics.height()), Qt::AlignRight, size);
    }
    painter->restore();
}
