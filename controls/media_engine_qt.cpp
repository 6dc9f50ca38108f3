// The media engine on Qt Multimedia, built into the module the player loads on first use.
#include "media_engine.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>
#include <QVideoWidget>

namespace {

class QtMediaEngine final : public MediaEngine {
public:
    explicit QtMediaEngine(QWidget *parent)
        : player_(new QMediaPlayer(parent)), audio_(new QAudioOutput(parent)), video_(new QVideoWidget(parent))
    {
        player_->setAudioOutput(audio_);
        player_->setVideoOutput(video_);
        player_->setLoops(1);
        video_->setAspectRatioMode(Qt::KeepAspectRatio);
        video_->setStyleSheet(QStringLiteral("background: black;"));
        const auto moved = [this] {
            if (changed)
                changed();
        };
        QObject::connect(player_, &QMediaPlayer::durationChanged, player_, moved);
        QObject::connect(player_, &QMediaPlayer::positionChanged, player_, moved);
        QObject::connect(player_, &QMediaPlayer::playbackStateChanged, player_, moved);
        QObject::connect(player_, &QMediaPlayer::mediaStatusChanged, player_, [this](QMediaPlayer::MediaStatus status) {
            if ((status == QMediaPlayer::EndOfMedia || status == QMediaPlayer::InvalidMedia) && ended)
                ended();
        });
        // After a failing medium the player may still claim to be playing: the pass ends.
        QObject::connect(player_, &QMediaPlayer::errorOccurred, player_, [this](QMediaPlayer::Error error) {
            if (error != QMediaPlayer::NoError && ended)
                ended();
        });
    }

    ~QtMediaEngine() override
    {
        // A player going away may still report a state change: nobody hears it now.
        changed = nullptr;
        ended = nullptr;
        delete player_;
        delete audio_;
        delete video_;
    }

    QWidget *video() const override { return video_; }
    QMediaPlayer *player() const override { return player_; }
    void setSource(const QString &url) override { player_->setSource(url.isEmpty() ? QUrl() : QUrl(url)); }
    bool hasSource() const override { return !player_->source().isEmpty(); }
    void play() override { player_->play(); }
    void pause() override { player_->pause(); }
    void stop() override { player_->stop(); }
    bool isPlaying() const override { return player_->playbackState() == QMediaPlayer::PlayingState; }
    bool isStopped() const override { return player_->playbackState() == QMediaPlayer::StoppedState; }
    qint64 duration() const override { return player_->duration(); }
    qint64 position() const override { return player_->position(); }
    void setPosition(qint64 ms) override { player_->setPosition(ms); }
    float volume() const override { return audio_->volume(); }
    void setVolume(float volume) override { audio_->setVolume(volume); }

private:
    // Children of the player widget, deleted with the engine.
    QMediaPlayer *player_;
    QAudioOutput *audio_;
    QVideoWidget *video_;
};

}  // namespace

extern "C" Q_DECL_EXPORT MediaEngine *quorvin_create_media_engine(QWidget *parent)
{
    return new QtMediaEngine(parent);
}
