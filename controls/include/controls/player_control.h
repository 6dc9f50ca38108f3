// What the window asks of its media player: load (playback starts by itself), unload,
// play, pause, volume 0-100, visibility, and the notification that playback stopped.
#pragma once

#include <QString>
#include <functional>

class PlayerControl {
public:
    static constexpr int Stopped = 1;  // the state value the stop notification carries

    virtual ~PlayerControl() = default;
    // Loads a medium and starts it; "" unloads and stops without a notification.
    virtual void setURL(const QString &url) = 0;
    // Makes ready what playing needs (a player's first start is slow), without playing.
    virtual void prepare() {}
    virtual QString URL() const = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual int volume() const = 0;
    virtual void setVolume(int volume) = 0;
    virtual void setPlayerVisible(bool visible) = 0;
    virtual bool playerVisible() const = 0;

    // Raised with Stopped once when one pass of the medium ends or the medium fails.
    std::function<void(int NewState)> PlayStateChange;
};
