#pragma once

#include "controls/player_control.h"

#include <QWidget>
#include <memory>

class MediaEngine;
class QLabel;
class QMediaPlayer;
class QSlider;
class QToolButton;

// The embedded player: the video picture on top and its own 44-pixel control bar below
// (play/pause, stop, position, time). Plays one pass of a medium and shows no error dialogs.
// The multimedia stack (a module of its own) is loaded when the first medium is given, not
// at start-up.
class MediaPlayerWidget : public QWidget, public PlayerControl {
    Q_OBJECT
public:
    static constexpr int ControlBarHeight = 44;
    static constexpr int DesignVolume = 50;

    explicit MediaPlayerWidget(QWidget *parent = nullptr);
    ~MediaPlayerWidget() override;

    void setURL(const QString &url) override;
    void prepare() override { ensureMedia(); }
    QString URL() const override { return url_; }
    void play() override;
    void pause() override;
    int volume() const override;
    void setVolume(int volume) override;
    void setPlayerVisible(bool visible) override { setVisible(visible); }
    bool playerVisible() const override { return !isHidden(); }

    // The multimedia parts, created the first time a medium is given; null before.
    QMediaPlayer *mediaPlayer() const;
    QWidget *controlBar() const { return bar_; }
    QLabel *timeReadout() const { return time_; }
    QToolButton *stopButton() const { return stopButton_; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    bool ensureMedia();
    void failLater();
    void passEnded();
    void updateBar();

    std::unique_ptr<MediaEngine> media_;
    QWidget *screen_;  // black, where the picture will be until media exist
    QWidget *bar_;
    QToolButton *playButton_;
    QToolButton *stopButton_;
    QSlider *position_;
    QLabel *time_;
    QString url_;
    int volume_ = DesignVolume;  // the volume, kept here until the audio output exists
    bool passActive_ = false;    // a loaded medium has not yet reported its stop
    quint64 loadCount_ = 0;      // tells a late notification of an earlier medium from the current
};
