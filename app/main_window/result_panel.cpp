#include "result_panel.h"

#include "controls/alpha_image.h"
#include "download/video_name.h"
#include "main_window/form1.h"
#include "picture/picture.h"
#include "record/hosts.h"

#include <QFile>
#include <QLabel>
#include <QPushButton>

ResultPanel::ResultPanel(const Controls &controls, QString facePath, QObject *parent)
    : QObject(parent), c_(controls), facePath_(std::move(facePath))
{
}

void ResultPanel::runStarted()
{
    ++display_;
    pictures_ = false;
    heldStatus_.reset();
    heldEnabled_.reset();
}

void ResultPanel::runFinished(const ExtractionRequest &request, const ExtractedVideo &video)
{
    if (!video.view.display)
        return;
    // The same name the command line gives this video, from the address the run started
    // with (text typed in the box meanwhile stays there, for the next run).
    const DisplayPlan &plan = *video.view.display;
    shown_.video = videoFields(request.address, plan.site, plan, video.record, hosts());
    shown_.video.uploaderUrl = video.video.uploaderUrl;  // the author's page its share page links
    shown_.name = videoName(shown_.video);
}

void ResultPanel::hideBadges()
{
    c_.weishiBadge->hide();
    c_.miaopaiBadge->hide();
}

void ResultPanel::setStatus(const QString &text)
{
    if (pictures_)
        heldStatus_ = text;  // the run's last word comes after its pictures
    else if (showStatus)
        showStatus(text);
}

void ResultPanel::setExtractEnabled(bool enabled)
{
    if (pictures_)
        heldEnabled_ = enabled;
    else
        c_.extract->setEnabled(enabled);
}

void ResultPanel::resetForExtraction()
{
    // The result area as it looks at start-up, so nothing of the previous video stays.
    setCaption(c_.author, Form1::StartAuthorText);
    setCaption(c_.description, Form1::StartDescriptionText);
    setCaption(c_.date, Form1::StartDateText);
    hideBadges();
    c_.cover->setPixmap(QPixmap());
    c_.avatar->setPixmap(QPixmap());
    c_.face->setPictureResource(QStringLiteral(":/assets/avatar_default.png"));
    c_.face->show();
    // The avatar file of an earlier video goes, so a failed extraction cannot show it.
    QFile::remove(facePath_);
    shown_ = Shown();
    if (resetRest)
        resetRest();
}

void ResultPanel::applyDisplay(const DisplayPlan &plan)
{
    shown_.cover = plan.cover;
    shown_.avatar = plan.avatarUrl();
    // Cover and avatar (for 快手 the download of "face") are fetched side by side and
    // decoded off this thread; then everything is shown in the display step's order, and
    // the run's last status after it.
    const QString face = plan.avatarViaFile ? facePath_ : QString();
    pictures_ = true;
    LoadPictures(
        {{plan.loadCover ? plan.cover : QString(), QString()}, {plan.loadAvatar ? plan.avatar : QString(), face}}, this,
        [this, plan, display = display_](const QList<QImage> &pictures) {
            if (display != display_)
                return;  // a later extraction started meanwhile
            pictures_ = false;
            showDisplay(plan, pictures);
            if (const std::optional<bool> enabled = std::exchange(heldEnabled_, std::nullopt))
                setExtractEnabled(*enabled);
            if (const std::optional<QString> status = std::exchange(heldStatus_, std::nullopt))
                setStatus(*status);
            emit displayShown();
        });
}

void ResultPanel::showDisplay(const DisplayPlan &plan, const QList<QImage> &pictures)
{
    const QString &date = plan.shownDate;
    const QPixmap cover = QPixmap::fromImage(pictures[0]);
    shown_.coverPicture = cover;
    const QImage &avatar = pictures[1];

    if (plan.avatarViaFile) {
        setCaption(c_.date, date);
        setCaption(c_.author, plan.authorCaption);
        setCaption(c_.description, plan.descriptionCaption);
        c_.cover->setPixmap(cover);
        c_.avatar->show();
        c_.face->show();
        if (!avatar.isNull())  // the face file, as the download left it
            c_.face->setPicture(QPixmap::fromImage(avatar));
        return;
    }

    setCaption(c_.author, plan.authorCaption);
    AlphaImage *badge = plan.badge == Badge::Weishi ? c_.weishiBadge
        : plan.badge == Badge::Miaopai              ? c_.miaopaiBadge
                                                    : nullptr;
    if (badge) {
        badge->setLeft(c_.author->x() + c_.author->width() + plan.badgeOffset);
        badge->show();
    }
    setCaption(c_.description, plan.descriptionCaption);
    setCaption(c_.date, date);
    c_.avatar->show();
    c_.face->hide();
    c_.cover->setPixmap(cover);
    c_.avatar->setPixmap(QPixmap::fromImage(avatar));
}
