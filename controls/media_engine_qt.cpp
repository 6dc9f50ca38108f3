// The media engine on Qt Multimedia, built into the module the player loads on first use.
#include "controls/media_engine.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QUrl>
#include <QVideoWidget>
#include <memory>

namespace {

class QtMediaEngine final : public MediaEngine {
public:
    explicit QtMediaEngine(QWidget *parent)
        : video_(std::make_unique<QVideoWidget>(parent)), audio_(std::make_unique<QAudioOutput>(parent)),
          player_(std::make_unique<QMediaPlayer>(parent))
    {
        player_->setAudioOutput(audio_.get());
        player_->setVideoOutput(video_.get());
        player_->setLoops(1);
        video_->setAspectRatioMode(Qt::KeepAspectRatio);
        video_->setStyleSheet(QStringLiteral("background: black;"));
        const auto moved = [this] {
            if (changed)
                changed();
        };
        QMediaPlayer *player = player_.get();
        QObject::connect(player, &QMediaPlayer::durationChanged, player, moved);
        QObject::connect(player, &QMediaPlayer::positionChanged, player, moved);
        QObject::connect(player, &QMediaPlayer::playbackStateChanged, player, moved);
        QObject::connect(player, &QMediaPlayer::mediaStatusChanged, player, [this](QMediaPlayer::MediaStatus status) {
            if ((status == QMediaPlayer::EndOfMedia || status == QMediaPlayer::InvalidMedia) && ended)
                ended();
        });
        // After a failing medium the player may still claim to be playing: the pass ends.
        QObject::connect(player, &QMediaPlayer::errorOccurred, player, [this](QMediaPlayer::Error error) {
            if (error != QMediaPlayer::NoError && ended)
                ended();
        });
    }

    ~QtMediaEngine() override
    {
        // A player going away may still report a state change: nobody hears it now. The
        // members then go in reverse order: the player first, its outputs after it.
        changed = nullptr;
        ended = nullptr;
    }
    Q_DISABLE_COPY_MOVE(QtMediaEngine)

    QWidget *video() const override { return video_.get(); }
    QMediaPlayer *player() const override { return player_.get(); }
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
    // Children of the player widget, owned by the engine and deleted with it.
    std::unique_ptr<QVideoWidget> video_;
    std::unique_ptr<QAudioOutput> audio_;
    std::unique_ptr<QMediaPlayer> player_;
};

}  // namespace

extern "C" Q_DECL_EXPORT MediaEngine *quorvin_create_media_engine(QWidget *parent)
{
    return new QtMediaEngine(parent);
}
