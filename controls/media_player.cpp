#include "controls/media_player.h"

#include "net/fetch.h"
#include "controls/media_engine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <cmath>

namespace {
QString clock(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2").arg(s / 60, 2, 10, QChar(u'0')).arg(s % 60, 2, 10, QChar(u'0'));
}
}  // namespace

MediaPlayerWidget::MediaPlayerWidget(QWidget *parent)
    : QWidget(parent), screen_(new QWidget(this)), bar_(new QWidget(this)), playButton_(new QToolButton(bar_)),
      stopButton_(new QToolButton(bar_)), position_(new QSlider(Qt::Horizontal, bar_)), time_(new QLabel(bar_))
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
    time_->setText(clock(0) + QStringLiteral(" / ") + clock(0));
    stopButton_->setText(QStringLiteral("■"));
    stopButton_->setToolTip(QStringLiteral("停止"));
    // A screen reader reads words, not the signs painted on the buttons.
    playButton_->setAccessibleName(QStringLiteral("播放"));
    stopButton_->setAccessibleName(QStringLiteral("停止"));
    position_->setAccessibleName(QStringLiteral("播放进度"));
    time_->setAccessibleName(QStringLiteral("播放时间"));
    layout->addWidget(playButton_);
    layout->addWidget(stopButton_);
    layout->addWidget(position_, 1);
    layout->addWidget(time_);

    connect(playButton_, &QToolButton::clicked, this, [this] {
        if (media_ && media_->isPlaying())
            pause();
        else
            play();
    });
    // Stopping ends the pass: the window hears that playback stopped.
    connect(stopButton_, &QToolButton::clicked, this, [this] { passEnded(); });
    connect(position_, &QSlider::sliderMoved, this, [this](int ms) {
        if (media_)
            media_->setPosition(ms);
    });
}

MediaPlayerWidget::~MediaPlayerWidget() = default;

QMediaPlayer *MediaPlayerWidget::mediaPlayer() const
{
    return media_ ? media_->player() : nullptr;
}

bool MediaPlayerWidget::ensureMedia()
{
    if (media_)
        return true;
    media_.reset(createMediaEngine(this));
    if (!media_)
        return false;
    media_->setVolume(volume_ / 100.0f);
    media_->video()->setGeometry(screen_->geometry());
    media_->video()->show();
    screen_->hide();
    media_->changed = [this] { updateBar(); };
    media_->ended = [this] { passEnded(); };
    return true;
}

void MediaPlayerWidget::failLater()
{
    // Fails as a medium that cannot be loaded does: the stop notification comes once the
    // caller has returned.
    passActive_ = true;
    const quint64 load = loadCount_;
    QTimer::singleShot(0, this, [this, load] {
        if (load == loadCount_)
            passEnded();
    });
}

void MediaPlayerWidget::setURL(const QString &url)
{
    url_ = url;
    passActive_ = false;  // unloading or replacing a medium raises nothing
    ++loadCount_;
    if (media_)
        media_->stop();
    if (url.isEmpty()) {
        if (media_)
            media_->setSource(QString());
        return;
    }
    if (!fetch::isWebAddress(url)) {
        // Links come from pages: a local path, a pipe, a device or another scheme is never
        // opened (opening a pipe would block the window).
        if (media_)
            media_->setSource(QString());
        failLater();
        return;
    }
    if (!ensureMedia()) {  // without the multimedia module nothing plays
        failLater();
        return;
    }
    media_->setSource(url);
    passActive_ = true;
    media_->play();  // autoStart
}

void MediaPlayerWidget::play()
{
    if (media_ && media_->hasSource()) {
        if (media_->isStopped())
            passActive_ = true;
        media_->play();
    }
}

void MediaPlayerWidget::pause()
{
    if (media_)
        media_->pause();
}

int MediaPlayerWidget::volume() const
{
    return media_ ? int(std::lround(media_->volume() * 100.0f)) : volume_;
}

void MediaPlayerWidget::setVolume(int volume)
{
    volume_ = qBound(0, volume, 100);
    if (media_)
        media_->setVolume(volume_ / 100.0f);
}

void MediaPlayerWidget::passEnded()
{
    if (!passActive_)
        return;
    passActive_ = false;
    if (media_)
        media_->stop();
    if (PlayStateChange)
        PlayStateChange(Stopped);
}

void MediaPlayerWidget::updateBar()
{
    if (!media_)
        return;
    const qint64 duration = media_->duration();
    const qint64 pos = media_->position();
    if (!position_->isSliderDown()) {
        position_->setRange(0, int(duration));
        position_->setValue(int(pos));
    }
    time_->setText(clock(pos) + QStringLiteral(" / ") + clock(duration));
    playButton_->setText(media_->isPlaying() ? QStringLiteral("❚❚") : QStringLiteral("▶"));
    playButton_->setAccessibleName(media_->isPlaying() ? QStringLiteral("暂停") : QStringLiteral("播放"));
}

void MediaPlayerWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int videoHeight = qMax(0, height() - ControlBarHeight);
    screen_->setGeometry(0, 0, width(), videoHeight);
    if (media_)
        media_->video()->setGeometry(0, 0, width(), videoHeight);
    bar_->setGeometry(0, videoHeight, width(), ControlBarHeight);
}
