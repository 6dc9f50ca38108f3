// The start-up cost the player would add if it were made at start: the bare window of
// minimal_window plus a media player, an audio output and a video widget, as the window
// used to create them before anything was played.
#include <QApplication>
#include <QAudioOutput>
#include <QMediaPlayer>
#include <QVideoWidget>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(777, 571);
    QMediaPlayer player;
    QAudioOutput audio;
    auto *video = new QVideoWidget(&window);
    player.setAudioOutput(&audio);
    player.setVideoOutput(video);
    video->hide();
    window.show();
    return app.exec();
}
