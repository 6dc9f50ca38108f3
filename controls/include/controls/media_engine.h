// The multimedia half of the embedded player: a media player with its audio output and
// video picture. It lives in a module of its own (modules/libquorvin-media.so) loaded the
// first time something is played, so the window starts without the multimedia libraries
// and everything they pull in (GStreamer, PulseAudio, codecs).
#pragma once

#include <QString>
#include <functional>

class QMediaPlayer;
class QWidget;

class MediaEngine {
public:
    virtual ~MediaEngine() = default;

    // The picture, a child of the widget the engine was made for.
    virtual QWidget *video() const = 0;
    virtual QMediaPlayer *player() const = 0;

    // An empty address unloads the medium.
    virtual void setSource(const QString &url) = 0;
    virtual bool hasSource() const = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void stop() = 0;
    virtual bool isPlaying() const = 0;
    virtual bool isStopped() const = 0;
    virtual qint64 duration() const = 0;
    virtual qint64 position() const = 0;
    virtual void setPosition(qint64 ms) = 0;
    // 0.0 - 1.0
    virtual float volume() const = 0;
    virtual void setVolume(float volume) = 0;

    // Duration, position or playing state moved.
    std::function<void()> changed;
    // The pass is over: the medium ended, could not be loaded, or failed while playing.
    std::function<void()> ended;
};

// Loads the module on first use and makes an engine for `parent`; null when the module
// cannot be loaded, in which case nothing can be played.
MediaEngine *createMediaEngine(QWidget *parent);

// The module's one entry point, an unmangled function of this type under this name.
using CreateMediaEngineFunction = MediaEngine *(*)(QWidget *parent);
inline constexpr char CreateMediaEngineSymbol[] = "quorvin_create_media_engine";
