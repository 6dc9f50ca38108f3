// The preview: the play symbol over the cover, play/pause, volume, and the return of the
// cover when playback stops.
#include "controls/alpha_image.h"
#include "main_window/form1.h"
#include "result_panel.h"
#include "controls/player_control.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace {
const QString PlayCaption = QStringLiteral("播放视频");
const QString PauseCaption = QStringLiteral("暂停视频");
}  // namespace

void Form1::aicAlphaImage1_MouseMove()
{
    if (Result.IsPlaying == 1)
        return;
    aicAlphaImage1->hide();
    aicAlphaImage2->show();
    // A click is likely next: the player is made now, so the picture comes sooner after it.
    if (!videoLink().isEmpty())
        player_->prepare();
}

void Form1::aicAlphaImage2_MouseLeave()
{
    if (Result.IsPlaying == 1)
        return;
    aicAlphaImage1->show();
    aicAlphaImage2->hide();
}

void Form1::aicAlphaImage2_MouseUp()
{
    const QString link = videoLink();
    if (link.isEmpty()) {
        refuseWithoutVideo();
        return;
    }
    aicAlphaImage1->hide();
    aicAlphaImage2->hide();
    Image1->hide();
    player_->setURL(link);
    // The picture is shown where the cover was, for as long as it plays.
    player_->setPlayerVisible(true);
    Result.IsPlaying = 1;
    setStatus(QStringLiteral("正在播放视频.."));
}

void Form1::Command4_Click()
{
    const QString caption = Command4->text();
    if (caption == PlayCaption) {
        const QString link = videoLink();
        if (link.isEmpty()) {
            refuseWithoutVideo();
            return;
        }
        // With nothing loaded, play the extracted link rather than nothing at all.
        if (player_->URL().isEmpty())
            player_->setURL(link);
        else
            player_->play();
        // The picture is shown where the cover was, whichever control started playback.
        aicAlphaImage1->hide();
        aicAlphaImage2->hide();
        Image1->hide();
        player_->setPlayerVisible(true);
        setStatus(QStringLiteral("视频正在播放.."));
        Command4->setText(PauseCaption);
    } else if (caption == PauseCaption) {
        Command4->setText(PlayCaption);
        player_->pause();
        setStatus(QStringLiteral("视频已暂停.."));
    }
}

void Form1::W1_PlayStateChange(int NewState)
{
    if (NewState == PlayerControl::Stopped)
        tzstop();
}

void Form1::tzstop()
{
    player_->setURL(QString());
    player_->setPlayerVisible(false);
    // The cover the last extraction showed (for Kuaishou it is not in the cover slot).
    Image1->setPixmap(result_->shown().coverPicture);
    Image1->show();
    aicAlphaImage1->show();
    aicAlphaImage2->hide();
    Result.IsPlaying = 0;
    Command4->setText(PlayCaption);  // a stopped player is not paused
    setStatus(QStringLiteral("视频已停止.."));
}

void Form1::Slider1_Scroll()
{
    player_->setVolume(Slider1->value());
    setStatus(QStringLiteral("当前音量为:") + QString::number(player_->volume()));
}
