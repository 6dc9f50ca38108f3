#include "works_window/works_window.h"

#include "works_model.h"

#include "desktop/seams.h"
#include "download/video_name.h"
#include "downloads/download_list.h"
#include "picture/picture.h"
#include "record/hosts.h"
#include "sites/sites.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Covers fetched at once for the rows in view.
constexpr int CoversAtOnce = 8;

}  // namespace

WorksWindow::WorksWindow(DownloadList &list, const Seams &seams, QWidget *parent)
    : QWidget(parent, Qt::Window), list_(list), seams_(seams), model_(new WorksModel(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    build();
    connect(model_, &WorksModel::chosenChanged, this, &WorksWindow::showChosen);
}

WorksWindow::~WorksWindow() = default;

void WorksWindow::build()
{
    setWindowTitle(QStringLiteral("作者的全部作品"));
    resize(560, 640);
    auto *layout = new QVBoxLayout(this);
    QPushButton *followed = nullptr;
    layout->addLayout(headRow(&followed));

    auto *line = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    stop_ = new QPushButton(QStringLiteral("停止"), this);
    line->addWidget(status_, 1);
    line->addWidget(stop_);
    layout->addLayout(line);
    QPushButton *byDate = nullptr;
    layout->addLayout(chooseRow(&byDate));

    view_ = new QListView(this);
    view_->setModel(model_);
    view_->setUniformItemSizes(true);  // a thousand rows lay out at once
    view_->setIconSize(QSize(WorksModel::CoverSize, WorksModel::CoverSize));
    view_->setAccessibleName(QStringLiteral("作品列表"));
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    layout->addWidget(view_, 1);

    auto *bottom = new QHBoxLayout;
    download_ = new QPushButton(this);
    bottom->addStretch();
    bottom->addWidget(download_);
    layout->addLayout(bottom);
    showChosen(0);
    wire(followed, byDate);
}

// The author's avatar, name and count, 关注 and 关注的作者.
QHBoxLayout *WorksWindow::headRow(QPushButton **followed)
{
    auto *head = new QHBoxLayout;
    avatar_ = new QLabel(this);
    avatar_->setFixedSize(48, 48);
    avatar_->setAccessibleName(QStringLiteral("作者头像"));
    name_ = new QLabel(this);
    name_->setTextFormat(Qt::PlainText);  // a name from the page is text, never markup
    QFont bold = name_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    name_->setFont(bold);
    count_ = new QLabel(this);
    count_->setTextFormat(Qt::PlainText);
    follow_ = new QPushButton(QStringLiteral("关注"), this);
    follow_->setCheckable(true);
    follow_->setToolTip(QStringLiteral("关注后可在“关注的作者”中检查新作品"));
    *followed = new QPushButton(QStringLiteral("关注的作者"), this);
    head->addWidget(avatar_);
    head->addWidget(name_);
    head->addWidget(count_);
    head->addStretch();
    head->addWidget(follow_);
    head->addWidget(*followed);
    return head;
}

// 全选, 只选新作品 and the date range.
QHBoxLayout *WorksWindow::chooseRow(QPushButton **byDate)
{
    auto *choose = new QHBoxLayout;
    all_ = new QCheckBox(QStringLiteral("全选"), this);
    newOnly_ = new QPushButton(QStringLiteral("只选新作品"), this);
    from_ = new QDateEdit(this);
    to_ = new QDateEdit(this);
    for (QDateEdit *edit : {from_, to_}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    from_->setAccessibleName(QStringLiteral("开始日期"));
    to_->setAccessibleName(QStringLiteral("结束日期"));
    *byDate = new QPushButton(QStringLiteral("按日期选择"), this);
    choose->addWidget(all_);
    choose->addWidget(newOnly_);
    choose->addStretch();
    choose->addWidget(from_);
    choose->addWidget(new QLabel(QStringLiteral("至"), this));
    choose->addWidget(to_);
    choose->addWidget(*byDate);
    return choose;
}

// The covers' timer, the buttons and the keys, connected.
void WorksWindow::wire(QPushButton *followed, QPushButton *byDate)
{
    // Covers only for the rows in view, asked a moment after the view settles.
    coverTimer_ = new QTimer(this);
    coverTimer_->setSingleShot(true);
    coverTimer_->setInterval(60);
    connect(coverTimer_, &QTimer::timeout, this, &WorksWindow::askCovers);
    // Pages arriving faster than the timer's wait do not put the covers off: a running wait is
    // left to end.
    const auto soon = [this] {
        if (!coverTimer_->isActive())
            coverTimer_->start();
    };
    connect(view_->verticalScrollBar(), &QScrollBar::valueChanged, this, soon);
    connect(model_, &QAbstractItemModel::rowsInserted, this, soon);

    connect(stop_, &QPushButton::clicked, this, [this] {
        if (listing_)
            listing_->stop();
    });
    connect(all_, &QCheckBox::clicked, model_, &WorksModel::chooseAll);
    connect(newOnly_, &QPushButton::clicked, model_, &WorksModel::chooseNew);
    connect(byDate, &QPushButton::clicked, this, [this] { chooseDays(from_->date(), to_->date()); });
    connect(download_, &QPushButton::clicked, this, &WorksWindow::downloadChosen);
    connect(follow_, &QPushButton::clicked, this, &WorksWindow::toggleFollow);
    connect(followed, &QPushButton::clicked, this, &WorksWindow::followedAsked);
    // Space in the list ticks the current row, as in a list of check boxes.
    auto *space = new QShortcut(QKeySequence(Qt::Key_Space), view_, nullptr, nullptr, Qt::WidgetShortcut);
    connect(space, &QShortcut::activated, this, [this] {
        const QModelIndex at = view_->currentIndex();
        if (at.isValid())
            model_->setData(at, at.data(Qt::CheckStateRole).toInt() == Qt::Checked ? Qt::Unchecked : Qt::Checked,
                Qt::CheckStateRole);
    });
}

const ListedAuthor &WorksWindow::author() const
{
    static const ListedAuthor none;
    return listing_ ? listing_->author() : none;
}

bool WorksWindow::listing() const
{
    return listing_ && listing_->running();
}

void WorksWindow::open(int site, const QString &address)
{
    site_ = site;
    page_ = 0;
    model_->clear();
    name_->clear();
    count_->clear();
    avatar_->clear();
    setWindowTitle(QStringLiteral("作者的全部作品"));
    from_->setDate(QDate::currentDate());
    to_->setDate(QDate::currentDate());
    follow_->setEnabled(false);
    listing_ = std::make_unique<AuthorListing>(hosts());
    connect(listing_.get(), &AuthorListing::authorKnown, this, &WorksWindow::authorKnown);
    connect(listing_.get(), &AuthorListing::worksFound, this, &WorksWindow::worksFound);
    connect(
        listing_.get(), &AuthorListing::ended, this, [this](ListingEnd end, const QString &said) { ended(end, said); });
    stop_->show();
    say(QStringLiteral("正在读取作者主页…"));
    listing_->start(site, address);
    show();
    raise();
    activateWindow();
    view_->setFocus(Qt::OtherFocusReason);  // the keys start in the list, where the works come
}

void WorksWindow::authorKnown(const ListedAuthor &author)
{
    name_->setText(author.name);
    setWindowTitle(
        author.name.isEmpty() ? QStringLiteral("作者的全部作品") : author.name.left(60) + QStringLiteral("的全部作品"));
    const std::optional<history::FollowedAuthor> followed = list_.store().followedAuthor(siteName(site_), author.id);
    follow_->setEnabled(!author.id.isEmpty());
    follow_->setChecked(followed.has_value());
    follow_->setText(followed ? QStringLiteral("已关注") : QStringLiteral("关注"));
    if (author.avatar.isEmpty())
        return;
    LoadPictures({{author.avatar, QString()}}, this, [this](const QList<QImage> &pictures) {
        if (!pictures.value(0).isNull())
            avatar_->setPixmap(
                QPixmap::fromImage(pictures.value(0).scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    });
}

void WorksWindow::worksFound(const QList<ListedWork> &works, int page)
{
    page_ = page;
    const QString site = siteName(site_);
    model_->append(works, [this, &site](const QString &id) { return list_.savedVideo(site, id).has_value(); });
    count_->setText(QStringLiteral("已读取 %1 个作品").arg(model_->rowCount()));
    say(QStringLiteral("正在读取第 %1 页…").arg(page + 1));
    showDays();
}

// The date range spans the works listed so far.
void WorksWindow::showDays()
{
    const auto [earliest, latest] = model_->dayRange();
    if (earliest.isValid()) {
        from_->setDate(earliest);
        to_->setDate(latest);
    }
}

void WorksWindow::ended(ListingEnd end, const QString &said)
{
    stop_->hide();
    const int count = model_->rowCount();
    count_->setText(QStringLiteral("共 %1 个作品").arg(count));
    const QString counted = QStringLiteral("共 %1 个作品，其中 %2 个新作品").arg(count).arg(model_->newCount());
    if (end == ListingEnd::Done)
        say(count == 0 ? QStringLiteral("该作者还没有作品") : counted);
    else if (end == ListingEnd::Stopped)
        say(QStringLiteral("已停止读取。") + counted);
    else
        say(said + (count > 0 ? QStringLiteral("。") + counted : QString()));
    showDays();
}

void WorksWindow::say(const QString &text)
{
    status_->setText(text);
    // Heard by a screen reader as it changes (the name's change is announced): the pages
    // read, the counts.
    status_->setAccessibleName(text);
}

void WorksWindow::showChosen(int count)
{
    download_->setText(QStringLiteral("下载所选 (%1)").arg(count));
    download_->setEnabled(count > 0);
    all_->setChecked(count > 0 && count == model_->rowCount());
}

void WorksWindow::chooseDays(const QDate &from, const QDate &to)
{
    model_->chooseDays(from, to);
}

void WorksWindow::askCovers()
{
    const int first = qMax(0, view_->indexAt(QPoint(1, 1)).row());
    QModelIndex bottom = view_->indexAt(QPoint(1, view_->viewport()->height() - 2));
    const int last = bottom.isValid() ? bottom.row() : model_->rowCount() - 1;
    const QList<int> rows = model_->coversToAsk(first, last, CoversAtOnce - coversAsked_);
    if (rows.isEmpty())
        return;
    QList<PictureJob> jobs;
    for (int row : rows)
        jobs.append({model_->work(row).cover, QString()});
    coversAsked_ += int(rows.size());
    LoadPictures(jobs, this, [this, rows](const QList<QImage> &pictures) {
        coversAsked_ -= int(rows.size());
        const int top = qMax(0, view_->indexAt(QPoint(1, 1)).row());
        for (qsizetype i = 0; i < rows.size(); ++i)
            model_->setCover(rows[i], pictures.value(i), top, top + 20);
        coverTimer_->start();  // the rest of the view, if any
    });
}

void WorksWindow::downloadChosen()
{
    QStringList addresses;
    for (const ListedWork &work : model_->chosenWorks())
        addresses << work.address;
    if (addresses.isEmpty())
        return;
    const QString folder = list_.settings().value(Settings::Key::AuthorFolder).toBool() && !author().name.isEmpty()
        ? safeFileName(author().name.left(80))
        : QString();
    list_.addAddresses(addresses, folder);
    say(QStringLiteral("已将 %1 个作品加入下载列表").arg(addresses.size()));
    emit handedToList(int(addresses.size()));
}

void WorksWindow::toggleFollow()
{
    const ListedAuthor &a = author();
    history::Store &store = list_.store();
    if (!follow_->isChecked()) {
        store.unfollow(siteName(site_), a.id);
        follow_->setText(QStringLiteral("关注"));
        say(QStringLiteral("已取消关注 ") + a.name);
        return;
    }
    history::FollowedAuthor f;
    f.site = siteName(site_);
    f.id = a.id;
    f.name = a.name;
    f.avatar = a.avatar;
    f.address = a.address;
    // What the window lists now has been seen: the next check finds what comes after.
    f.newestSeen = model_->rowCount() > 0 ? model_->work(0).id : QString();
    f.followed = QDateTime::currentDateTime();  // not checked yet: the list was just read
    if (!store.follow(f)) {
        follow_->setChecked(false);
        say(QStringLiteral("无法保存关注的作者"));
        return;
    }
    follow_->setText(QStringLiteral("已关注"));
    say(QStringLiteral("已关注 ") + a.name);
}
