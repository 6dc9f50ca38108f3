// From the start of playback to the first video frame drawn, on a loopback clip: "ours" is
// the window, from the release of the mouse over the play symbol, the pointer having come
// over it 300 ms before (its first play: the multimedia module is loaded then); "bare" is a
// minimal program with a QMediaPlayer and a QVideoWidget made at start, from setSource +
// play. Prints the milliseconds.
#include "controls/alpha_image.h"
#include "main_window/form1.h"
#include "record/hosts.h"
#include "controls/media_player.h"

#include <QApplication>
#include <QAudioOutput>
#include <QElapsedTimer>
#include <QLibrary>
#include <QMediaPlayer>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>
#include <cstdio>

namespace {

// Ends the program with the time to the first valid frame that reaches sink.
void reportFirstFrame(QVideoSink *sink, const QElapsedTimer &clock)
{
    QObject::connect(sink, &QVideoSink::videoFrameChanged, qApp, [&clock](const QVideoFrame &frame) {
        if (!frame.isValid())
            return;
        std::printf("%lld\n", clock.elapsed());
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: first_frame ours|bare URL\n");
        return 2;
    }
    const QUrl clip(args[2]);
    QTimer::singleShot(30000, &app, [] { QCoreApplication::exit(1); });
    QElapsedTimer clock;

    if (args[1] == u"bare") {
        QWidget window;
        window.setFixedSize(777, 571);
        QMediaPlayer player;
        QAudioOutput audio;
        auto *video = new QVideoWidget(&window);
        video->setGeometry(376, 104, 377, 397);
        player.setAudioOutput(&audio);
        player.setVideoOutput(video);
        window.show();
        QTimer::singleShot(500, &app, [&] {
            reportFirstFrame(video->videoSink(), clock);
            clock.start();
            player.setSource(clip);
            player.play();
        });
        return app.exec();
    }

    if (qEnvironmentVariableIsSet("FIRST_FRAME_PRELOAD")) {
        QElapsedTimer t;
        t.start();
        QLibrary(qEnvironmentVariable("QUORVIN_MEDIA_MODULE")).load();
        std::fprintf(stderr, "preloaded in %lld ms\n", t.elapsed());
    }
    setHosts(Hosts::allOn(clip.authority()));
    Seams seams = Seams::system();
    seams.messageBox = [](QWidget *, const MessageRequest &) { return int(IDOK); };
    Form1 window(seams);
    window.Timer1->stop();
    window.Result.ResultSlots[SlotVideoUrl] = clip.toString();
    window.show();
    // As a person plays: the pointer comes over the play symbol, the click follows.
    QTimer::singleShot(200, &app, [&] { window.aicAlphaImage1_MouseMove(); });
    QTimer::singleShot(500, &app, [&] {
        clock.start();
        window.aicAlphaImage2_MouseUp();
        if (qEnvironmentVariableIsSet("FIRST_FRAME_SPLIT"))
            std::fprintf(stderr, "click handled in %lld ms\n", clock.elapsed());
        // The video widget is made by the module on this first play.
        QVideoWidget *video = window.W1->findChild<QVideoWidget *>();
        if (!video) {
            std::fprintf(stderr, "first_frame: no video widget after play\n");
            QCoreApplication::exit(1);
            return;
        }
        reportFirstFrame(video->videoSink(), clock);
    });
    return app.exec();
}
