#include "media_player.h"

#include "fetch.h"

#include <QAudioOutput>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaPlayer>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVideoWidget>
#include <cmath>

namespace {
QString clock(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2").arg(s / 60, 2, 10, QChar('0')).arg(s % 60, 2, 10, QChar('0'));
}
}  // namespace

MediaPlayerWidget::MediaPlayerWidget(QWidget *parent)
    : QWidget(parent),
      screen_(new QWidget(this)),
      bar_(new QWidget(this)),
      playButton_(new QToolButton(bar_)),
      stopButton_(new QToolButton(bar_)),
      position_(new QSlider(Qt::Horizontal, bar_)),
      time_(new QLabel(bar_))
{
    // Until something is played, a black screen stands where the picture will be; the
    // multimedia stack is loaded only then (see ensureMedia).
    screen_->setObjectName(QStringLiteral("W1Screen"));
    screen_->setAttribute(Qt::WA_StyledBackground);
    screen_->setStyleSheet(QStringLiteral("#W1Screen { background: black; }"));

    bar_->setObjectName(QStringLiteral("W1Bar"));
    bar_->setAttribute(Qt::WA_StyledBackground);
    // The bar keeps its own dark look whatever the window's skin says: a style sheet on the
    // bar itself wins over the application's.
    bar_->setStyleSheet(QStringLiteral(
        "#W1Bar { background: #202020; }"
        "QLabel { color: #F0F0F0; background: transparent; }"
        "QToolButton { color: #F0F0F0; background: transparent; border: none; font-size: 14px; }"
        "QToolButton:hover { color: #14B2A4; }"
        "QSlider::groove:horizontal { height: 4px; background: #505050; border-radius: 2px; }"
        "QSlider::sub-page:horizontal { background: #14B2A4; border-radius: 2px; }"
        "QSlider::handle:horizontal { background: #F0F0F0; width: 10px; margin: -4px 0; border-radius: 5px; }"));
    auto *layout = new QHBoxLayout(bar_);
    layout->setContentsMargins(8, 4, 8, 4);
    playButton_->setText(QStringLiteral("▶"));
    playButton_->setToolTip(QStringLiteral("播放/暂停"));
    position_->setRange(0, 0);
    time_->setText(clock(0) + " / " + clock(0));
    stopButton_->setText(QStringLiteral("■"));
    stopButton_->setToolTip(QStringLiteral("停止"));
    layout->addWidget(playButton_);
    layout->addWidget(stopButton_);
    layout->addWidget(position_, 1);
    layout->addWidget(time_);

    connect(playButton_, &QToolButton::clicked, this, [this] {
        if (player_ && player_->playbackState() == QMediaPlayer::PlayingState)
            pause();
        else
            play();
    });
    // Stopping ends the pass: the window hears that playback stopped.
    connect(stopButton_, &QToolButton::clicked, this, [this] { passEnded(); });
    connect(position_, &QSlider::sliderMoved, this, [this](int ms) {
        if (player_)
            player_->setPosition(ms);
    });
}

void MediaPlayerWidget::ensureMedia()
{
    if (player_)
        return;
    player_ = new QMediaPlayer(this);
    audio_ = new QAudioOutput(this);
    video_ = new QVideoWidget(this);
    player_->setAudioOutput(audio_);
    player_->setVideoOutput(video_);
    player_->setLoops(1);
    audio_->setVolume(volume_ / 100.0f);
    video_->setAspectRatioMode(Qt::KeepAspectRatio);
    video_->setStyleSheet(QStringLiteral("background: black;"));
    video_->setGeometry(screen_->geometry());
    video_->show();
    screen_->hide();
    connect(player_, &QMediaPlayer::durationChanged, this, &MediaPlayerWidget::updateBar);
    connect(player_, &QMediaPlayer::positionChanged, this, &MediaPlayerWidget::updateBar);
    connect(player_, &QMediaPlayer::playbackStateChanged, this, &MediaPlayerWidget::updateBar);
    connect(player_, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::EndOfMedia || status == QMediaPlayer::InvalidMedia)
            passEnded();
    });
    // After a failing medium the player may still claim to be playing: stop it here.
    connect(player_, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error error) {
        if (error != QMediaPlayer::NoError)
            passEnded();
    });
}

void MediaPlayerWidget::setURL(const QString &url)
{
    url_ = url;
    passActive_ = false;  // unloading or replacing a medium raises nothing
    ++loadCount_;
    if (player_)
        player_->stop();
    if (url.isEmpty()) {
        if (player_)
            player_->setSource(QUrl());
        return;
    }
    if (!fetch::isWebAddress(url)) {
        // Links come from pages: a local path, a pipe, a device or another scheme is never
        // opened (opening a pipe would block the window). It fails as a medium that cannot
        // be loaded does, with the stop notification once the caller has returned.
        if (player_)
            player_->setSource(QUrl());
        passActive_ = true;
        const quint64 load = loadCount_;
        QTimer::singleShot(0, this, [this, load] {
            if (load == loadCount_)
                passEnded();
        });
        return;
    }
    ensureMedia();
    player_->setSource(QUrl(url));
    passActive_ = true;
    player_->play();  // autoStart
}

void MediaPlayerWidget::play()
{
    if (player_ && !player_->source().isEmpty()) {
        if (player_->playbackState() == QMediaPlayer::StoppedState)
            passActive_ = true;
        player_->play();
    }
}

void MediaPlayerWidget::pause()
{
    if (player_)
        player_->pause();
}

int MediaPlayerWidget::volume() const
{
    return audio_ ? int(std::lround(audio_->volume() * 100.0f)) : volume_;
}

void MediaPlayerWidget::setVolume(int volume)
{
    volume_ = qBound(0, volume, 100);
    if (audio_)
        audio_->setVolume(volume_ / 100.0f);
}

void MediaPlayerWidget::passEnded()
{
    if (!passActive_)
        return;
    passActive_ = false;
    if (player_)
        player_->stop();
    if (PlayStateChange)
        PlayStateChange(Stopped);
}

void MediaPlayerWidget::updateBar()
{
    if (!player_)
        return;
    const qint64 duration = player_->duration();
    const qint64 pos = player_->position();
    if (!position_->isSliderDown()) {
        position_->setRange(0, int(duration));
        position_->setValue(int(pos));
    }
    time_->setText(clock(pos) + " / " + clock(duration));
    playButton_->setText(player_->playbackState() == QMediaPlayer::PlayingState ? QStringLiteral("❚❚")
                                                                                  : QStringLiteral("▶"));
}

void MediaPlayerWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int videoHeight = qMax(0, height() - ControlBarHeight);
    screen_->setGeometry(0, 0, width(), videoHeight);
    if (video_)
        video_->setGeometry(0, 0, width(), videoHeight);
    bar_->setGeometry(0, videoHeight, width(), ControlBarHeight);
}
