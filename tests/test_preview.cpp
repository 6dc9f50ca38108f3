#include "controls/alpha_image.h"
#include "controls/media_player.h"
#include "controls/player_control.h"
#include "window_harness.h"

#include <QBuffer>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QMediaPlayer>
#include <QPushButton>
#include <QSlider>
#include <QAudioOutput>
#include <QCursor>
#include <QTest>

namespace {

// Records what the window asks of its player; the volume reads back rounded to tens, so a
// test can tell the read-back value from the slider's.
class FakePlayer : public PlayerControl {
public:
    QStringList calls;
    QString url;
    int vol = 50;
    bool visible = false;

    void setURL(const QString &u) override
    {
        url = u;
        calls << "URL=" + u;
    }
    QString URL() const override { return url; }
    void play() override { calls << "play"; }
    void pause() override { calls << "pause"; }
    int volume() const override { return vol; }
    void setVolume(int v) override
    {
        vol = (v / 10) * 10;
        calls << "volume=" + QString::number(v);
    }
    void setPlayerVisible(bool v) override { visible = v; }
    bool playerVisible() const override { return visible; }
};

// A usable window driving a fake player.
struct FakePlayerWindow : WindowHarness {
    FakePlayer player;
    Form1 &f;
    FakePlayerWindow() : f(*form) { f.setPlayer(&player); }
};

enum Look { Idle, Highlighted, Playing };

Look look(const Form1 &f)
{
    if (f.Image1->isHidden() && f.aicAlphaImage1->isHidden() && f.aicAlphaImage2->isHidden())
        return Playing;
    if (!f.aicAlphaImage2->isHidden() && f.aicAlphaImage1->isHidden())
        return Highlighted;
    return Idle;
}

QByteArray sampleClip()
{
    QFile file(QStringLiteral(QUORVIN_SIM_MEDIA "/sample.mp4"));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

}  // namespace

class TestPreview : public QObject {
    Q_OBJECT
private slots:
    void hoverAndRelease()
    {
        FakePlayerWindow h;
        FakePlayer &player = h.player;
        Form1 &f = h.f;

        // Before any extraction: the symbol still highlights, a release is refused.
        f.aicAlphaImage1_MouseMove();
        QCOMPARE(look(f), Highlighted);
        f.aicAlphaImage2_MouseUp();
        QCOMPARE(h.recorder.boxes.size(), 1);
        QCOMPARE(h.recorder.boxes.first().text, QString("请先获取视频!"));
        QCOMPARE(h.recorder.boxes.first().icon, BoxIcon::Information);
        QCOMPARE(look(f), Highlighted);
        QVERIFY(player.calls.isEmpty());
        f.aicAlphaImage2_MouseLeave();
        QCOMPARE(look(f), Idle);

        f.Result.ResultSlots[SlotVideoUrl] = "http://v.test/1.mp4";
        f.aicAlphaImage1_MouseMove();
        f.aicAlphaImage2_MouseUp();
        QCOMPARE(look(f), Playing);
        QCOMPARE(player.calls, QStringList {"URL=http://v.test/1.mp4"});
        QVERIFY(player.visible);
        QCOMPARE(f.Result.IsPlaying, 1);
        QCOMPARE(f.Label5->text(), QString("正在播放视频.."));
        QCOMPARE(f.Command4->text(), QString("播放视频"));

        // While playing, pointer movements over the overlays change nothing.
        f.aicAlphaImage1_MouseMove();
        f.aicAlphaImage2_MouseLeave();
        QCOMPARE(look(f), Playing);

        // The player reports the end of the pass.
        f.W1_PlayStateChange(3);
        QCOMPARE(look(f), Playing);
        f.W1_PlayStateChange(PlayerControl::Stopped);
        QCOMPARE(look(f), Idle);
        QVERIFY(!player.visible);
        QCOMPARE(player.url, QString());
        QCOMPARE(f.Result.IsPlaying, 0);
        QCOMPARE(f.Label5->text(), QString("视频已停止.."));
    }

    void extractionDuringPlaybackBringsTheCoverBack()
    {
        FakePlayerWindow h;
        FakePlayer &player = h.player;
        Form1 &f = h.f;
        f.Result.ResultSlots[SlotVideoUrl] = "http://v.test/1.mp4";
        f.aicAlphaImage2_MouseUp();
        QVERIFY(player.visible);
        h.server.route("/t/1", "<title>x</title>");
        f.Text1->setText(h.server.url("/t/1"));
        extractNow(f);
        QVERIFY(!player.visible);
        QCOMPARE(player.url, QString());
        QVERIFY(!f.Image1->isHidden());
        QVERIFY(!f.aicAlphaImage1->isHidden());
        QCOMPARE(f.Result.IsPlaying, 0);
    }

    void realHoverEventsReachTheHandlers()
    {
        FakePlayerWindow h;
        Form1 &f = h.f;
        f.show();
        QTest::mouseMove(f.aicAlphaImage1, QPoint(100, 100));
        QCOMPARE(look(f), Highlighted);
        QCursor::setPos(f.mapToGlobal(QPoint(5, 300)));  // the pointer really left
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(f.aicAlphaImage2, &leave);
        QCOMPARE(look(f), Idle);
    }

    void playPauseToggle()
    {
        FakePlayerWindow h;
        FakePlayer &player = h.player;
        Form1 &f = h.f;

        f.Command4_Click();  // nothing extracted
        QCOMPARE(h.recorder.boxes.size(), 1);
        QCOMPARE(f.Command4->text(), QString("播放视频"));

        f.Result.ResultSlots[SlotVideoUrl] = "http://v.test/2.mp4";
        f.Command4_Click();  // nothing loaded: the extracted link is loaded and plays
        QCOMPARE(player.calls, QStringList {"URL=http://v.test/2.mp4"});
        QCOMPARE(f.Command4->text(), QString("暂停视频"));
        QCOMPARE(f.Label5->text(), QString("视频正在播放.."));
        f.Command4_Click();
        QCOMPARE(player.calls.last(), QString("pause"));
        QCOMPARE(f.Command4->text(), QString("播放视频"));
        QCOMPARE(f.Label5->text(), QString("视频已暂停.."));
        f.Command4_Click();  // something loaded: resume it
        QCOMPARE(player.calls.last(), QString("play"));

        // A stopped player is not paused: the stop handler and the unloading at the start of
        // an extraction both give the caption back.
        f.tzstop();
        QCOMPARE(f.Command4->text(), QString("播放视频"));
        f.Command4_Click();
        QCOMPARE(f.Command4->text(), QString("暂停视频"));
        h.server.route("/t/1", "<title>x</title>");
        f.Text1->setText(h.server.url("/t/1"));
        extractNow(f);
        QCOMPARE(f.Command4->text(), QString("播放视频"));
        QCOMPARE(player.calls.last(), QString("URL="));  // the extraction unloaded the player
        QCOMPARE(h.recorder.boxes.size(), 1);
    }

    void volumeReportsTheReadBackValue()
    {
        FakePlayerWindow h;
        FakePlayer &player = h.player;
        h.form->Slider1->setValue(37);
        QCOMPARE(player.calls, QStringList {"volume=37"});
        QCOMPARE(h.form->Label5->text(), QString("当前音量为:30"));
    }

    void stopRestoresTheShownCover()
    {
        FakePlayerWindow h;
        Form1 &f = h.f;
        QImage image(8, 6, QImage::Format_RGB32);
        image.fill(Qt::green);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        h.server.route("/cover.png", png, "image/png");
        // A Kuaishou page: the cover slot holds the description afterwards.
        h.server.route("/i/photo/1",
            h.expand("<div id=\"qqzone_web\"><span>a:描述</span></div>"
                     "<video poster=\"{{BASE}}/cover.png\" src=\"{{BASE}}/v.mp4\">")
                .toUtf8());
        f.Option1[2]->setChecked(true);
        f.Text1->setText(h.server.url("/i/photo/1"));
        extractNow(f);
        QCOMPARE(f.Result.ResultSlots[SlotCoverUrl], QString("描述"));
        f.aicAlphaImage2_MouseUp();
        QCOMPARE(look(f), Playing);
        f.W1_PlayStateChange(PlayerControl::Stopped);
        QCOMPARE(f.Image1->pixmap().size(), QSize(8, 6));
    }

    void copy()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        QGuiApplication::clipboard()->setText("before");
        f.Command3_Click();
        QCOMPARE(h.recorder.boxes.size(), 1);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("before"));
        f.Result.ResultSlots[SlotVideoUrl] = "http://v.test/3.mp4";
        f.Command3_Click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("http://v.test/3.mp4"));
        QCOMPARE(f.Label5->text(), QString("视频链接地址已复制.."));
    }

    void download_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("box");
        QTest::newRow("nothing extracted") << ""
                                           << "请先获取视频!";
        QTest::newRow("http") << "http://v.test/4.mp4"
                              << "";
        QTest::newRow("https") << "https://v.test/4.mp4?x=1"
                               << "";
        QTest::newRow("further attributes after the value") << "http://v.test/4.mp4 class=player data-x={a|b} \\ 100%"
                                                            << "";
        QTest::newRow("local file") << "file:///etc/passwd"
                                    << "该视频地址无法下载!";
        QTest::newRow("spaces") << "   "
                                << "该视频地址无法下载!";
        QTest::newRow("bare path") << "/etc/passwd"
                                   << "该视频地址无法下载!";
        QTest::newRow("script") << "javascript:alert(1)"
                                << "该视频地址无法下载!";
        QTest::newRow("weipai default") << ".flv"
                                        << "该视频地址无法下载!";
    }
    void download()
    {
        QFETCH(QString, link);
        QFETCH(QString, box);
        WindowHarness h;
        h.form->Result.ResultSlots[SlotVideoUrl] = link;
        const QString status = h.form->Label5->text();
        h.form->Command2_Click();
        if (box.isEmpty()) {
            QCOMPARE(h.recorder.saveDialogs.size(), 1);
            QVERIFY(h.recorder.saveDialogs.first().startsWith("保存视频|"));
            QVERIFY(h.recorder.boxes.isEmpty());
        } else {
            QVERIFY(h.recorder.saveDialogs.isEmpty());
            QCOMPARE(h.recorder.boxes.size(), 1);
            QCOMPARE(h.recorder.boxes.first().text, box);
            QCOMPARE(h.recorder.boxes.first().title, QString("Quorvin系列软件"));
        }
        QCOMPARE(h.form->Label5->text(), status);
    }

    void playerWrapper()
    {
        RouteServer server;
        server.route("/clip.mp4", sampleClip(), "video/mp4");
        MediaPlayerWidget player;
        int stops = 0;
        player.PlayStateChange = [&](int state) { stops += state == PlayerControl::Stopped; };
        player.setVolume(37);
        QCOMPARE(player.volume(), 37);
        player.setURL(server.url("/clip.mp4"));
        QTRY_COMPARE_WITH_TIMEOUT(stops, 1, 20000);
        QTest::qWait(300);
        QCOMPARE(stops, 1);
        player.setURL(server.url("/missing.mp4"));
        QTRY_COMPARE_WITH_TIMEOUT(stops, 2, 20000);
        QCOMPARE(player.mediaPlayer()->playbackState(), QMediaPlayer::StoppedState);
        player.setURL(server.url("/clip.mp4"));
        player.setURL(QString());  // unloading raises nothing
        QTest::qWait(500);
        QCOMPARE(stops, 2);
    }

    // The multimedia stack waits for the first medium; the volume is kept until then.
    void playerLoadsMediaOnFirstUse()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        QVERIFY(!f.W1->mediaPlayer());
        QCOMPARE(f.Slider1->value(), 50);
        f.Slider1->setValue(73);
        f.Slider1_Scroll();
        QCOMPARE(f.Label5->text(), QStringLiteral("当前音量为:73"));
        QVERIFY(!f.W1->mediaPlayer());
        f.W1->setURL(QStringLiteral("file:///dev/zero"));  // refused: still nothing loaded
        QVERIFY(!f.W1->mediaPlayer());
        f.W1->setURL(h.server.url("/missing.mp4"));
        QVERIFY(f.W1->mediaPlayer());
        QCOMPARE(f.W1->volume(), 73);
        QCOMPARE(qRound(f.W1->mediaPlayer()->audioOutput()->volume() * 100), 73);
        f.W1->setURL(QString());
    }

    // The pointer over the play symbol makes the player ready, without playing, when there is
    // a video to play: its slow first start is then behind the user.
    void pointerOverPlayPreparesThePlayer()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        f.aicAlphaImage1_MouseMove();
        QVERIFY(!f.W1->mediaPlayer());  // nothing extracted
        f.aicAlphaImage2_MouseLeave();
        f.Result.ResultSlots[SlotVideoUrl] = h.server.url("/clip.mp4");
        f.aicAlphaImage1_MouseMove();
        QVERIFY(f.W1->mediaPlayer());
        QCOMPARE(f.W1->mediaPlayer()->playbackState(), QMediaPlayer::StoppedState);
        QVERIFY(f.W1->URL().isEmpty());
        QVERIFY(!f.W1->playerVisible());
    }

    // Run by its own CTest entry without the multimedia module: a link then fails as a medium
    // that cannot be loaded, with one stop notification and the cover back.
    void playWithoutTheMediaModule()
    {
        if (!qEnvironmentVariableIsEmpty("QUORVIN_MEDIA_MODULE"))
            QSKIP("the module is there; the CTest entry test_preview_no_module runs this");
        WindowHarness h;
        Form1 &f = *h.form;
        int stops = 0;
        f.W1->PlayStateChange = [&](int) {
            ++stops;
            f.tzstop();
        };
        f.W1->setVolume(20);
        f.W1->setURL(h.server.url("/clip.mp4"));
        QVERIFY(!f.W1->mediaPlayer());
        QTRY_COMPARE(stops, 1);
        QCOMPARE(f.W1->volume(), 20);
        QCOMPARE(f.Label5->text(), QStringLiteral("视频已停止.."));
        QTest::qWait(100);
        QCOMPARE(stops, 1);
    }

    void realPlaybackFromTheSymbol()
    {
        WindowHarness h;
        Form1 &f = *h.form;
        h.server.route("/clip.mp4", sampleClip(), "video/mp4");
        f.show();
        f.Result.ResultSlots[SlotVideoUrl] = h.server.url("/clip.mp4");
        f.aicAlphaImage1_MouseMove();
        f.aicAlphaImage2_MouseUp();
        QVERIFY(f.W1->isVisible());
        QCOMPARE(look(f), Playing);
        QTRY_COMPARE_WITH_TIMEOUT(f.Label5->text(), QString("视频已停止.."), 20000);
        QCOMPARE(look(f), Idle);
        QVERIFY(!f.W1->isVisible());
        QCOMPARE(f.Result.IsPlaying, 0);
    }
};

QTEST_MAIN(TestPreview)
#include "test_preview.moc"
