#include "works_window/followed_window.h"

#include "desktop/seams.h"
#include "download/video_name.h"
#include "downloads/download_list.h"
#include "downloads/follow_check.h"
#include "picture/picture.h"
#include "record/hosts.h"
#include "sites/sites.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int KeyRole = Qt::UserRole;  // "site/id"

QString keyOf(const QString &site, const QString &id)
{
    return site + u'/' + id;
}

QString rowText(const history::FollowedAuthor &a)
{
    QString text = (a.name.isEmpty() ? a.id : a.name.simplified().left(60)) + u'\n';
    text += a.newWorks > 0 ? QStringLiteral("%1 个新作品").arg(a.newWorks) : QStringLiteral("没有新作品");
    text += QStringLiteral(" · ") + siteCaption(siteFromName(a.site));
    if (a.checked.isValid())
        text += QStringLiteral(" · 上次检查 ") + a.checked.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return text;
}

}  // namespace

FollowedWindow::FollowedWindow(DownloadList &list, const Seams &seams, QWidget *parent)
    : QWidget(parent, Qt::Window), list_(list), seams_(seams)
{
    setWindowTitle(QStringLiteral("关注的作者"));
    resize(460, 480);
    auto *layout = new QVBoxLayout(this);
    status_ = new QLabel(this);
    status_->setTextFormat(Qt::PlainText);
    layout->addWidget(status_);
    view_ = new QListWidget(this);
    view_->setIconSize(QSize(40, 40));
    view_->setAccessibleName(QStringLiteral("关注的作者"));
    view_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    layout->addWidget(view_, 1);
    auto *buttons = new QHBoxLayout;
    check_ = new QPushButton(QStringLiteral("检查新作品"), this);
    download_ = new QPushButton(QStringLiteral("下载新作品"), this);
    download_->setToolTip(QStringLiteral("下载所选作者的新作品"));
    downloadAll_ = new QPushButton(QStringLiteral("全部下载新作品"), this);
    works_ = new QPushButton(QStringLiteral("查看作品"), this);
    unfollow_ = new QPushButton(QStringLiteral("取消关注"), this);
    for (QPushButton *b : {check_, download_, downloadAll_, works_, unfollow_})
        buttons->addWidget(b);
    layout->addLayout(buttons);
    wire();
    refresh();
}

void FollowedWindow::wire()
{
    follow_ = new FollowCheck(hosts(), list_.store(), this);
    follow_->setSaved(
        [this](const QString &site, const QString &id) { return list_.savedVideo(site, id).has_value(); });
    connect(follow_, &FollowCheck::authorChecked, this, &FollowedWindow::authorChecked);
    connect(follow_, &FollowCheck::finished, this, &FollowedWindow::checkFinished);
    connect(check_, &QPushButton::clicked, this, [this] { checkAll(false); });
    connect(downloadAll_, &QPushButton::clicked, this, [this] { checkAll(true); });
    connect(download_, &QPushButton::clicked, this, [this] { checkAuthors(chosenAuthors(), true); });
    connect(works_, &QPushButton::clicked, this, [this] {
        for (const history::FollowedAuthor &a : chosenAuthors())
            emit worksAsked(siteFromName(a.site), a.address);
    });
    connect(view_, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
        const QString key = item->data(KeyRole).toString();
        const std::optional<history::FollowedAuthor> a =
            list_.store().followedAuthor(key.section(u'/', 0, 0), key.section(u'/', 1));
        if (a)
            emit worksAsked(siteFromName(a->site), a->address);
    });
    connect(unfollow_, &QPushButton::clicked, this, [this] {
        for (const history::FollowedAuthor &a : chosenAuthors())
            list_.store().unfollow(a.site, a.id);
        refresh();
    });
    // Another window (or this one) follows or unfollows: the rows follow the database.
    auto *watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, [this] {
        if (list_.store().dataVersion() != seenVersion_)
            refresh();
    });
    // A follow written through this very connection does not move the data version: the rows
    // are compared too while the window is shown.
    connect(watch, &QTimer::timeout, this, [this] {
        if (isVisible() && signature() != shownSignature_)
            refresh();
    });
    watch->start(1000);
}

void FollowedWindow::present()
{
    reported_ = follow_->running();
    refresh();
    show();
    raise();
    activateWindow();
}

bool FollowedWindow::checking() const
{
    return follow_->running();
}

void FollowedWindow::checkAll(bool download)
{
    checkAuthors(list_.store().followedAuthors(), download);
}

void FollowedWindow::checkAuthors(const QList<history::FollowedAuthor> &authors, bool download)
{
    if (authors.isEmpty() || follow_->running()) {
        if (authors.isEmpty())
            say(QStringLiteral("还没有关注的作者：在作者的作品窗口中点“关注”"));
        return;
    }
    downloadAfter_ = download;
    reported_ = true;
    say(QStringLiteral("正在检查 %1 位作者的新作品…").arg(authors.size()));
    follow_->check(authors);
}

void FollowedWindow::authorChecked(const FollowCheckResult &result)
{
    history::FollowedAuthor a = result.author;
    if (downloadAfter_ && !result.newWorks.isEmpty()) {
        QStringList addresses;
        for (const ListedWork &w : result.newWorks)
            addresses << w.address;
        const QString folder = list_.settings().value(Settings::Key::AuthorFolder).toBool() && !a.name.isEmpty()
            ? safeFileName(a.name.left(80))
            : QString();
        list_.addAddresses(addresses, folder);
        // Taken: the next check finds what comes after them.
        a.newestSeen = result.newWorks.first().id;
        a.newWorks = 0;
        list_.store().follow(a);
    }
    refresh();
}

void FollowedWindow::checkFinished(int authors, int works)
{
    const QString text = works == 0 ? QStringLiteral("没有新作品")
        : downloadAfter_ ? QStringLiteral("已将 %1 位作者的 %2 个新作品加入下载列表").arg(authors).arg(works)
                         : QStringLiteral("%1 位作者有 %2 个新作品").arg(authors).arg(works);
    say(text);
    if (works > 0 && !isActiveWindow() && !downloadAfter_) {
        if (seams_.notifyClickable)
            seams_.notifyClickable(QStringLiteral("关注的作者有新作品"), text, [this] { present(); });
        else if (seams_.notify)
            seams_.notify(QStringLiteral("关注的作者有新作品"), text);
    }
    downloadAfter_ = false;
    emit checked(authors, works);
}

int FollowedWindow::newWorksOf(const QString &site, const QString &id) const
{
    const std::optional<history::FollowedAuthor> a = list_.store().followedAuthor(site, id);
    return a ? a->newWorks : 0;
}

QList<history::FollowedAuthor> FollowedWindow::chosenAuthors() const
{
    QList<history::FollowedAuthor> out;
    for (const QListWidgetItem *item : view_->selectedItems()) {
        const QString key = item->data(KeyRole).toString();
        if (std::optional<history::FollowedAuthor> a =
                list_.store().followedAuthor(key.section(u'/', 0, 0), key.section(u'/', 1)))
            out.append(*a);
    }
    return out;
}

QString FollowedWindow::signature() const
{
    QString out;
    for (const history::FollowedAuthor &a : list_.store().followedAuthors())
        out += keyOf(a.site, a.id) + u' ' + QString::number(a.newWorks) + u' ' + a.name + u'\n';
    return out;
}

void FollowedWindow::refresh()
{
    seenVersion_ = list_.store().dataVersion();
    shownSignature_ = signature();
    const QString current = view_->currentItem() ? view_->currentItem()->data(KeyRole).toString() : QString();
    view_->clear();
    int fresh = 0;
    for (const history::FollowedAuthor &a : list_.store().followedAuthors()) {
        auto *item = new QListWidgetItem(rowText(a), view_);
        item->setData(KeyRole, keyOf(a.site, a.id));
        item->setData(Qt::AccessibleTextRole, QString(rowText(a)).replace(u'\n', QStringLiteral(", ")));
        fresh += a.newWorks > 0 ? 1 : 0;
        if (keyOf(a.site, a.id) == current)
            view_->setCurrentItem(item);
        if (const QImage avatar = avatars_.value(a.avatar); !avatar.isNull()) {
            item->setIcon(QPixmap::fromImage(avatar));
        } else if (!a.avatar.isEmpty() && !avatars_.contains(a.avatar)) {
            avatars_.insert(a.avatar, QImage());  // asked once
            LoadPictures({{a.avatar, QString()}}, this, [this, address = a.avatar](const QList<QImage> &pictures) {
                avatars_.insert(
                    address, pictures.value(0).scaled(40, 40, Qt::KeepAspectRatio, Qt::SmoothTransformation));
                refresh();
            });
        }
    }
    // The counts are said when nothing else is: a check's outcome stays until the next one.
    if (!follow_->running() && !reported_)
        say(view_->count() == 0 ? QStringLiteral("还没有关注的作者")
                                : QStringLiteral("关注了 %1 位作者，%2 位有新作品").arg(view_->count()).arg(fresh));
}

void FollowedWindow::say(const QString &text)
{
    status_->setText(text);
    status_->setAccessibleName(text);  // announced as it changes
}
