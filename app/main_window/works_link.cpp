// The main window's ways to an author's works: "查看作者全部作品" under the author when the
// video's page links its author (keyboard reachable, with a tooltip), a click on the avatar or
// the author's name, and an author's page pressed in the address box.
#include "main_window/form1.h"
#include "result_panel.h"

#include "controls/alpha_image.h"
#include "downloads/download_list.h"
#include "extract/author_listing.h"
#include "record/hosts.h"
#include "sites/sites.h"
#include "works_window/followed_window.h"
#include "works_window/works_window.h"

#include <QCursor>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSlider>

void Form1::setupWorks()
{
    authorLink_ = new QPushButton(QStringLiteral("查看作者全部作品"), this);
    authorLink_->setObjectName(QStringLiteral("authorLink"));
    authorLink_->setFlat(true);
    authorLink_->setCursor(Qt::PointingHandCursor);
    // A link's look: blue and underlined, no button face.
    authorLink_->setStyleSheet(QStringLiteral(
        "QPushButton#authorLink { color: #1a5fb4; text-decoration: underline; border: none; text-align: left; "
        "padding: 0px; background: transparent; } QPushButton#authorLink:focus { outline: 1px dotted #1a5fb4; }"));
    const int h = authorLink_->fontMetrics().height() + 4;
    authorLink_->setGeometry(Label1->x(), Slider1->y() - h - 2, authorLink_->sizeHint().width(), h);
    authorLink_->hide();
    connect(authorLink_, &QPushButton::clicked, this, &Form1::openShownAuthor);
    connect(result_, &ResultPanel::displayShown, this, &Form1::showAuthorLink);
    for (QWidget *w : {static_cast<QWidget *>(Label1), static_cast<QWidget *>(aicAlphaImage3)})
        w->installEventFilter(this);
    auto *followed = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), this);
    followed->setContext(Qt::ApplicationShortcut);
    connect(followed, &QShortcut::activated, this, &Form1::openFollowed);
}

void Form1::showAuthorLink()
{
    const VideoFields &video = result_->shown().video;
    const bool linked = !video.uploaderUrl.isEmpty();
    authorLink_->setVisible(linked);
    if (linked)
        authorLink_->setToolTip(QStringLiteral("打开 %1 的全部作品").arg(video.author.left(40)));
    for (QWidget *w : {static_cast<QWidget *>(Label1), static_cast<QWidget *>(aicAlphaImage3)})
        w->setCursor(linked ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void Form1::openShownAuthor()
{
    const VideoFields &video = result_->shown().video;
    const int site = siteFromName(video.site);
    if (!video.uploaderUrl.isEmpty() && site >= 0)
        openWorks(site, video.uploaderUrl);
}

WorksWindow *Form1::openWorks(int site, const QString &address)
{
    auto *works = findChild<WorksWindow *>(QString(), Qt::FindDirectChildrenOnly);
    if (!works) {
        works = new WorksWindow(*downloads(), seams, this);
        connect(works, &WorksWindow::followedAsked, this, &Form1::openFollowed);
    }
    works->open(site, address);
    return works;
}

FollowedWindow *Form1::followedWindow()
{
    if (auto *made = findChild<FollowedWindow *>(QString(), Qt::FindDirectChildrenOnly))
        return made;
    auto *followed = new FollowedWindow(*downloads(), seams, this);
    connect(followed, &FollowedWindow::worksAsked, this, &Form1::openWorks);
    return followed;
}

void Form1::openFollowed()
{
    followedWindow()->present();
}
