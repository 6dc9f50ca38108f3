// 下载视频 in the window, with the save dialog and the message boxes answered through the
// window's seams; and the file names and progress lines it shows.
#include "download/download_text.h"
#include "download/video_name.h"
#include "net/fetch.h"
#include "downloads/batch_run.h"
#include "downloads/download_list.h"
#include "downloads/download_rows.h"
#include "download_list/list_window.h"
#include "settings/settings.h"
#include "window_harness.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QMenu>
#include <QTest>
#include <sys/stat.h>

namespace {

// A window saving a clip that arrives a byte every 10 ms, so the download is still running
// while the test acts.
struct SlowSave {
    WindowHarness h;
    QTemporaryDir dir;
    QString target = dir.filePath("v.mp4");

    SlowSave()
    {
        HttpResponse slow = HttpResponse::text(patternBytes(5000), "video/mp4");
        slow.trickleMs = 10;
        h.server.route("/v/slow.mp4", slow);
        h.recorder.saveAnswer = target;
        h.form->Result.ResultSlots[SlotVideoUrl] = h.server.url("/v/slow.mp4");
        h.form->Command2_Click();
    }
};

}  // namespace

// A folder whose config/ holds the settings for the test's life: tests running beside it
// change the shared ones.
struct OwnSettings : QTemporaryDir {
    const QByteArray config = qgetenv("XDG_CONFIG_HOME");
    const bool set = qputenv("XDG_CONFIG_HOME", filePath("config").toUtf8());
    ~OwnSettings() { qputenv("XDG_CONFIG_HOME", config); }
};

class TestSaveVideo : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { fetch::setTimeout(0); }

    void fileNames_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("author");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("name");
        QTest::newRow("link's own name") << "http://v.test/a/clip01.mp4?x=1"
                                         << "作者"
                                         << "2015"
                                         << ""
                                         << "clip01.mp4";
        QTest::newRow("flv link") << "http://v.test/a/b.flv"
                                  << ""
                                  << ""
                                  << ""
                                  << "b.flv";
        QTest::newRow("percent-encoded chinese") << "http://v.test/%E8%A7%86%E9%A2%91.mp4"
                                                 << ""
                                                 << ""
                                                 << ""
                                                 << "视频.mp4";
        QTest::newRow("no file name: author and date") << "http://v.test/"
                                                       << "美拍小达人"
                                                       << "2015-07-08 18:00"
                                                       << ""
                                                       << "美拍小达人 2015-07-08 18-00.mp4";
        QTest::newRow("no extension: the answer's type") << "http://v.test/play?id=3"
                                                         << ""
                                                         << ""
                                                         << "video/x-flv"
                                                         << "play.flv";
        QTest::newRow("unknown extension") << "http://v.test/get.php"
                                           << ""
                                           << ""
                                           << ""
                                           << "get.mp4";
        QTest::newRow("separators and controls taken out") << "http://v.test/..%2F..%2Fetc%5Cx%0A.mp4"
                                                           << ""
                                                           << ""
                                                           << ""
                                                           << "etcx.mp4";
        QTest::newRow("author with a slash") << "http://v.test/"
                                             << "a/b\\c\u0001"
                                             << ""
                                             << ""
                                             << "abc.mp4";
        QTest::newRow("nothing at all") << "http://v.test/"
                                        << ""
                                        << ""
                                        << ""
                                        << "视频.mp4";
    }
    void fileNames()
    {
        QFETCH(QString, link);
        QFETCH(QString, author);
        QFETCH(QString, date);
        QFETCH(QString, type);
        QFETCH(QString, name);
        QCOMPARE(suggestedFileName(link, author, date, type), name);
    }

    void progressLines_data()
    {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<double>("rate");
        QTest::addColumn<QString>("text");
        QTest::newRow("known size") << qint64(3355443) << qint64(7444889) << 1258291.2
                                    << "正在下载视频.. 45% (3.2 MB/7.1 MB, 1.2 MB/s)";
        QTest::newRow("unknown size") << qint64(2048) << qint64(-1) << 100.0 << "正在下载视频.. 2.0 KB (100 B/s)";
    }
    void progressLines()
    {
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(double, rate);
        QFETCH(QString, text);
        DownloadProgress p;
        p.done = done;
        p.total = total;
        p.bytesPerSecond = rate;
        QCOMPARE(progressText(p), text);
    }

    void savesWhereTheUserChose_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("box");
        QTest::newRow("saved") << "/v/clip.mp4"
                               << "视频下载完毕.."
                               << "视频已保存到:\r";
        QTest::newRow("404") << "/v/missing.mp4"
                             << "视频下载失败.."
                             << "视频下载失败: 服务器返回错误: 404";
        QTest::newRow("stalled") << "/v/stalled.mp4"
                                 << "视频下载失败.."
                                 << "视频下载失败: 连接超时，服务器长时间没有响应";
    }
    void savesWhereTheUserChose()
    {
        QFETCH(QString, route);
        QFETCH(QString, status);
        QFETCH(QString, box);
        WindowHarness h;
        const QByteArray body = patternBytes(200000);
        h.server.route("/v/clip.mp4", body, "video/mp4");
        HttpResponse stalled = HttpResponse::text(body, "video/mp4");
        stalled.stallAfter = 100;
        h.server.route("/v/stalled.mp4", stalled);
        fetch::setTimeout(500);
        QTemporaryDir dir;
        const QString target = dir.filePath("我的视频.mp4");
        h.recorder.saveAnswer = target;
        h.recorder.answers = {IDYES};  // open the folder
        h.form->Result.ResultSlots[SlotVideoUrl] = h.server.url(route.toUtf8());
        h.form->Command2_Click();
        QCOMPARE(h.recorder.saveDialogs.size(), 1);
        QVERIFY(h.recorder.saveDialogs.first().endsWith(route.section('/', -1)));
        // A stalled download is tried again three times (after 1, 2 and 4 s) before it fails.
        QTRY_COMPARE_WITH_TIMEOUT(h.form->Label5->text(), status, 15000);
        QCOMPARE(h.recorder.boxes.size(), 1);
        QVERIFY2(h.recorder.boxes.first().text.startsWith(box), qPrintable(h.recorder.boxes.first().text));
        // The window is not the active one here: the end is also told on the desktop.
        QCOMPARE(h.recorder.notifications,
            route.endsWith("clip.mp4") ? QStringList {"视频下载完毕|我的视频.mp4"} : QStringList());
        if (route.endsWith("clip.mp4")) {
            QFile saved(target);
            QVERIFY(saved.open(QIODevice::ReadOnly));
            QVERIFY(saved.readAll() == body);
            QCOMPARE(h.recorder.opened, QStringList {QUrl::fromLocalFile(dir.path()).toString()});
        } else {
            QVERIFY(!QFile::exists(target));
        }
    }

    // 仅保存音频 proposes a sound file and shows sound files; a video of the user's under the
    // video's name is never touched, and the video fetched for the sound leaves no file.
    void soundOnlyNeverTouchesTheUsersVideo()
    {
        WindowHarness h;
        QFile sample(QStringLiteral(QUORVIN_SOURCE_DIR "/sim/media/sample.flv"));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        h.server.route("/v/clip.flv", sample.readAll(), "video/x-flv");
        QTemporaryDir dir;
        QFile mine(dir.filePath("clip.flv"));
        QVERIFY(mine.open(QIODevice::WriteOnly) && mine.write("mine") == 4);
        mine.close();
        h.recorder.saveAnswer = dir.filePath("clip.mp3");
        h.form->Result.ResultSlots[SlotVideoUrl] = h.server.url("/v/clip.flv");
        emit h.form->Command2->customContextMenuRequested(QPoint(1, 1));
        QMenu *menu = h.form->findChild<QMenu *>();
        QVERIFY(menu);
        for (QAction *action : menu->actions()) {
            if (action->text() == QStringLiteral("仅保存音频 (MP3)"))
                action->trigger();
        }
        QCOMPARE(h.recorder.saveDialogs.size(), 1);
        QVERIFY2(h.recorder.saveDialogs.first().startsWith(QStringLiteral("保存音频|")) &&
                h.recorder.saveDialogs.first().endsWith(QStringLiteral("clip.mp3")),
            qPrintable(h.recorder.saveDialogs.first()));
        QTRY_COMPARE_WITH_TIMEOUT(
            QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), (QStringList {"clip.flv", "clip.mp3"}), 20000);
        QFile kept(dir.filePath("clip.flv"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("mine"));
    }

    // Quitting while a conversion runs: the question names it, 否 keeps the window, 是 ends it
    // and leaves no half-made file.
    void quitDuringAConversion()
    {
        QTemporaryDir tools;
        const QString helper = tools.filePath("helper.sh");
        QFile script(helper);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nfor last; do :; done\necho partial > \"$last\"\ntouch \"$0.running\"\n"
                     "echo 'progress 45'\nexec sleep 60\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("QUORVIN_MEDIA_HELPER", helper.toUtf8());
        WindowHarness h;
        QFile sample(QStringLiteral(QUORVIN_SOURCE_DIR "/sim/media/sample.flv"));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        h.server.route("/v/clip.flv", sample.readAll(), "video/x-flv");
        QTemporaryDir dir;
        h.recorder.saveAnswer = dir.filePath("clip.mp3");
        h.form->Result.ResultSlots[SlotVideoUrl] = h.server.url("/v/clip.flv");
        emit h.form->Command2->customContextMenuRequested(QPoint(1, 1));
        for (QAction *action : h.form->findChild<QMenu *>()->actions()) {
            if (action->text() == QStringLiteral("仅保存音频 (MP3)"))
                action->trigger();
        }
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(helper + ".running"), 20000);
        h.recorder.boxes.clear();
        h.recorder.answers = {IDNO};
        QVERIFY(!h.form->close());
        QCOMPARE(h.recorder.boxes.size(), 1);
        QCOMPARE(h.recorder.boxes.first().text,
            QStringLiteral("有 1 个视频正在转换,退出将中止转换,下次可在下载列表中重新转换。是否退出?"));
        // QUORVIN_SCREENSHOTS=FOLDER: the question as the desktop shows it, for the docs.
        if (const QString shots = qEnvironmentVariable("QUORVIN_SCREENSHOTS"); !shots.isEmpty()) {
            QTimer::singleShot(300, this, [shots] {
                if (QWidget *box = QApplication::activeModalWidget()) {
                    box->grab().save(shots + QStringLiteral("/quit-during-conversion.png"));
                    box->close();
                }
            });
            Seams::system().messageBox(h.form.get(), h.recorder.boxes.first());
        }
        h.recorder.answers = {IDYES, IDNO};  // quit, and not to the forum
        QVERIFY(h.form->close());
        h.form.reset();
        qunsetenv("QUORVIN_MEDIA_HELPER");
        // The fetched video stays for 重新转换; nothing half made is left.
        const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left, QStringList {".clip.mp3.quorvin-video.flv"});
    }

    // A history the window may not use (a newer version's, a FIFO in its place): left as it
    // is, said once, and the list kept in memory, its rows changing state.
    void historyNotUsable_data()
    {
        QTest::addColumn<bool>("fifo");
        QTest::newRow("a newer version's") << false;
        QTest::newRow("a FIFO in its place") << true;
    }
    void historyNotUsable()
    {
        QFETCH(bool, fifo);
        QString path;
        QByteArray before;
        WindowHarness h(true, [&](const QString &data) {
            QDir().mkpath(data + "/quorvin-video-helper");
            path = data + "/quorvin-video-helper/history.sqlite";
            if (fifo) {
                QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
                return;
            }
            {
                QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "newer");
                db.setDatabaseName(path);
                QVERIFY(db.open());
                QVERIFY(QSqlQuery(db).exec("CREATE TABLE future (x)"));
                QVERIFY(QSqlQuery(db).exec("PRAGMA user_version=99"));
                db.close();
            }
            QSqlDatabase::removeDatabase("newer");
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            before = f.readAll();
        });
        QCOMPARE(h.recorder.boxes.size(), 1);
        QVERIFY2(h.recorder.boxes.first().text.contains("本次不使用"), qPrintable(h.recorder.boxes.first().text));
        h.server.route("/v/clip.mp4", patternBytes(200000), "video/mp4");
        QTemporaryDir dir;
        h.recorder.saveAnswer = dir.filePath("v.mp4");
        h.form->Result.ResultSlots[SlotVideoUrl] = h.server.url("/v/clip.mp4");
        h.form->Command2_Click();
        QTRY_COMPARE_WITH_TIMEOUT(h.form->Label5->text(), QStringLiteral("视频下载完毕.."), 15000);
        const std::optional<history::Entry> row = h.form->downloads()->entry(h.form->lastDownload());
        QVERIFY(row.has_value());
        QCOMPARE(int(row->state), int(history::State::Done));
        if (fifo) {
            QVERIFY(!QFileInfo(path).isFile() && QFileInfo::exists(path));
        } else {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY(f.readAll() == before);
        }
    }

    // Where the save dialog starts, and the name it keeps.
    void saveFolderAndName_data()
    {
        QTest::addColumn<QString>("remembered");  // "deleted": a remembered folder that is gone
        QTest::addColumn<bool>("downloads");      // ~/Downloads exists
        QTest::addColumn<QString>("answer");      // the name the user typed
        QTest::addColumn<QString>("start");       // the folder the dialog starts in (under HOME)
        QTest::addColumn<QString>("saved");       // the file saved (under HOME)
        QTest::newRow("no Downloads folder: home") << "" << false << "a/v.mp4"
                                                   << ""
                                                   << "a/v.mp4";
        QTest::newRow("Downloads") << "" << true << "a/v.mp4"
                                   << "Downloads"
                                   << "a/v.mp4";
        QTest::newRow("remembered folder") << "a" << true << "a/v.mp4"
                                           << "a"
                                           << "a/v.mp4";
        QTest::newRow("remembered folder deleted") << "deleted" << true << "a/v.mp4"
                                                   << "Downloads"
                                                   << "a/v.mp4";
        QTest::newRow("name without an extension") << "" << true << "a/我的视频"
                                                   << "Downloads"
                                                   << "a/我的视频.mp4";
    }
    void saveFolderAndName()
    {
        QFETCH(QString, remembered);
        QFETCH(bool, downloads);
        QFETCH(QString, answer);
        QFETCH(QString, start);
        QFETCH(QString, saved);
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(".config")));
        QDir(home.path()).mkpath("a");
        if (downloads)
            QDir(home.path()).mkpath("Downloads");
        {
            WindowHarness h;
            if (!remembered.isEmpty()) {
                Settings().set(Settings::Key::SaveFolder, home.filePath(remembered == "deleted" ? "gone" : remembered));
            }
            h.server.route("/v/clip.mp4", patternBytes(1000), "video/mp4");
            h.recorder.saveAnswer = home.filePath(answer);
            h.form->Result.ResultSlots[SlotVideoUrl] = h.server.url("/v/clip.mp4");
            h.form->Command2_Click();
            QCOMPARE(h.recorder.saveDialogs.size(), 1);
            QCOMPARE(h.recorder.saveDialogs.first(), "保存视频|" + QDir(home.path()).filePath(start) + "/clip.mp4");
            QTRY_COMPARE(h.form->Label5->text(), QStringLiteral("视频下载完毕.."));
            QVERIFY(QFile::exists(home.filePath(saved)));
            // The next dialog starts where this video went.
            QCOMPARE(QSettings(Settings::file(), QSettings::IniFormat).value("download/folder").toString(),
                home.filePath("a"));
        }
        qputenv("HOME", oldHome);
        qputenv("XDG_CONFIG_HOME", oldConfig);
    }

    // A typed name without a video extension gets one, and the file of that name is never
    // replaced without a question (the dialog only asked about the name as typed).
    void typedNameNeverReplacesUnasked_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("existing");  // a file already in the folder, "" for none
        QTest::addColumn<int>("answer");        // to our question
        QTest::addColumn<QString>("question");  // "" when none is asked
        QTest::addColumn<QString>("saved");     // "" when nothing is saved
        QTest::newRow("keep, keep.mp4 there, 否") << "keep"
                                                  << "keep.mp4" << int(IDNO) << "keep.mp4已存在。是否替换?"
                                                  << "";
        QTest::newRow("keep, keep.mp4 there, 是") << "keep"
                                                  << "keep.mp4" << int(IDYES) << "keep.mp4已存在。是否替换?"
                                                  << "keep.mp4";
        QTest::newRow("a date is no extension") << "海边 2015.07.08"
                                                << "" << int(IDNO) << ""
                                                << "海边 2015.07.08.mp4";
        QTest::newRow("the dialog already asked") << "keep.mp4"
                                                  << "keep.mp4" << int(IDNO) << ""
                                                  << "keep.mp4";
        QTest::newRow("another video type stays") << "clip.FLV"
                                                  << "" << int(IDNO) << ""
                                                  << "clip.FLV";
    }
    void typedNameNeverReplacesUnasked()
    {
        QFETCH(QString, typed);
        QFETCH(QString, existing);
        QFETCH(int, answer);
        QFETCH(QString, question);
        QFETCH(QString, saved);
        QTemporaryDir dir;
        if (!existing.isEmpty()) {
            QFile old(dir.filePath(existing));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("mine");
        }
        WindowHarness h;
        h.server.route("/v/clip.mp4", patternBytes(1000), "video/mp4");
        h.recorder.saveAnswers = {dir.filePath(typed), QString()};  // the second dialog is cancelled
        h.recorder.answers = {answer, IDNO};                        // then 否 to "open the folder?"
        h.form->Result.ResultSlots[SlotVideoUrl] = h.server.url("/v/clip.mp4");
        h.form->Command2_Click();
        if (!question.isEmpty())
            QCOMPARE(h.recorder.boxes.value(0).text, question);
        else
            QVERIFY(h.recorder.boxes.isEmpty());
        if (saved.isEmpty()) {
            // 否 went back to the dialog, offering the name it asked about.
            QCOMPARE(h.recorder.saveDialogs.last(), "保存视频|" + dir.filePath(existing));
            QCOMPARE(h.form->downloads()->unfinished(), 0);
            QFile old(dir.filePath(existing));
            QVERIFY(old.open(QIODevice::ReadOnly));
            QCOMPARE(old.readAll(), QByteArray("mine"));
            return;
        }
        QTRY_COMPARE(h.form->Label5->text(), QStringLiteral("视频下载完毕.."));
        QFile file(dir.filePath(saved));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), patternBytes(1000));
    }

    // The quit question closes itself when the downloads end first: nothing is left to lose.
    // The quit question says what will happen to the downloads, by the setting.
    void downloadEndsWhileTheQuitQuestionIsOpen_data()
    {
        QTest::addColumn<bool>("resumeAtStart");
        QTest::addColumn<QString>("question");
        QTest::newRow("启动时继续 on") << true << QStringLiteral("还有 1 个视频正在下载,下次启动时继续。是否退出?");
        QTest::newRow("启动时继续 off") << false
                                        << QStringLiteral(
                                               "还有 1 个视频正在下载,下次启动时可在下载列表中继续。是否退出?");
    }
    void downloadEndsWhileTheQuitQuestionIsOpen()
    {
        QFETCH(bool, resumeAtStart);
        QFETCH(QString, question);
        OwnSettings settings;
        Settings().set(Settings::Key::ResumeAtStart, resumeAtStart);
        WindowHarness h;
        Form1 &f = *h.form;
        QTemporaryDir dir;
        HttpResponse brief = HttpResponse::text(patternBytes(100), "video/mp4");
        brief.trickleMs = 10;  // about a second
        h.server.route("/v/brief.mp4", brief);
        h.recorder.saveAnswer = dir.filePath("v.mp4");
        f.Result.ResultSlots[SlotVideoUrl] = h.server.url("/v/brief.mp4");
        f.Command2_Click();
        QCOMPARE(f.downloads()->unfinished(), 1);
        QCOMPARE(f.Command2->toolTip(), QStringLiteral("正在下载视频,按 Ctrl+J 打开下载列表"));
        bool closed = false;
        f.seams.closeMessageBox = [&] { closed = true; };
        f.seams.messageBox = [&](QWidget *, const MessageRequest &r) {
            h.recorder.boxes.append(r);
            if (!r.text.startsWith(QStringLiteral("还有 1 个视频正在下载")))
                return int(IDNO);
            (void)QTest::qWaitFor([&] { return closed; }, 20000);  // open until the download has ended
            return int(IDNO);                                      // a late 否
        };
        f.close();
        QVERIFY(closed);
        QCOMPARE(h.recorder.boxes.first().text, question);
        QCOMPARE(h.recorder.ended, 1);  // nothing kept the window: the exit dialog's 否 ended it
        QCOMPARE(f.Label5->text(), QStringLiteral("视频下载完毕.."));
        QVERIFY(QFile::exists(dir.filePath("v.mp4")));
    }

    void closingTheWindowKeepsThePart()
    {
        SlowSave slow;
        WindowHarness &h = slow.h;
        const QString target = slow.target;
        QTRY_VERIFY(QFileInfo(Download::partPath(target)).size() > 0);
        h.recorder.answers = {IDNO};  // the running download: stay
        h.form->close();
        QCOMPARE(h.recorder.ended, 0);
        QCOMPARE(h.recorder.boxes.last().text, QStringLiteral("还有 1 个视频正在下载,下次启动时继续。是否退出?"));
        QCOMPARE(h.form->downloads()->unfinished(), 1);
        h.recorder.answers = {IDYES, IDNO};  // leave, then the exit dialog: without the forum
        h.form->close();
        QCOMPARE(h.recorder.ended, 1);
        QCOMPARE(h.recorder.boxes.size(), 3);
        // Ending the program leaves the part file for a later resume.
        QVERIFY(QFileInfo(Download::partPath(target)).size() > 0);
        QVERIFY(!QFile::exists(target));
    }

    void cancelledSaveDialogStartsNothing()
    {
        WindowHarness h;
        h.form->Result.ResultSlots[SlotVideoUrl] = h.server.url("/v/clip.mp4");
        const QString before = h.form->Label5->text();
        h.form->Command2_Click();
        QCOMPARE(h.form->Label5->text(), before);
        QVERIFY(h.server.requests().size() <= 1);  // the version file only
    }

    // A second 下载视频 while one runs asks nothing: the new download joins the list, the
    // status line follows it, and cancelling lives in the list.
    void secondPressQueuesAnother()
    {
        SlowSave slow;
        WindowHarness &h = slow.h;
        QTRY_VERIFY(QFile::exists(Download::partPath(slow.target)));
        const qint64 first = h.form->lastDownload();
        h.recorder.saveAnswer = slow.dir.filePath("w.mp4");
        h.form->Command2_Click();
        QCOMPARE(h.recorder.saveDialogs.size(), 2);
        QVERIFY(h.recorder.boxes.isEmpty());
        const qint64 second = h.form->lastDownload();
        QVERIFY(second != first);
        QCOMPARE(h.form->downloads()->queue().ids(), (QList<qint64> {first, second}));
        h.form->downloads()->cancel(second);
        QTRY_COMPARE(h.form->Label5->text(), QStringLiteral("视频下载已取消.."));
        // The first goes on untouched until it is cancelled in its turn.
        QCOMPARE(int(h.form->downloads()->queue().item(first)->state), int(DownloadQueue::State::Running));
        h.form->downloads()->cancel(first);
        QTRY_COMPARE(h.form->downloads()->unfinished(), 0);
        QVERIFY(QDir(slow.dir.path()).entryList(QDir::Files).isEmpty());
    }

    // A press of 提取视频 while a batch's page fetch waits is taken when it returns, never
    // inside it; text typed while the window's own run fetches stays in the box, and each
    // video keeps the address its run started with.
    // The settings' table: a value out of its bounds or of the wrong kind is refused, a change
    // is told once, kept for every Settings of the file and written to it at once.
    void settingsTable_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("taken");
        QTest::addColumn<QVariant>("kept");
        QTest::addColumn<int>("told");
        using K = Settings::Key;
        QTest::newRow("in bounds") << int(K::AtOnce) << QVariant(3) << true << QVariant(3) << 1;
        QTest::newRow("above") << int(K::AtOnce) << QVariant(Settings::MostAtOnce + 1) << false << QVariant(2) << 0;
        QTest::newRow("below") << int(K::HistoryShown) << QVariant(99) << false << QVariant(10000) << 0;
        QTest::newRow("not a number") << int(K::Connections) << QVariant("many") << false << QVariant(4) << 0;
        QTest::newRow("the same again") << int(K::Connections) << QVariant(4) << true << QVariant(4) << 0;
        QTest::newRow("trimmed") << int(K::RateLimit) << QVariant(" 2M ") << true << QVariant("2M") << 1;
    }
    void settingsTable()
    {
        QFETCH(int, key);
        QFETCH(QVariant, value);
        QFETCH(bool, taken);
        QFETCH(QVariant, kept);
        QFETCH(int, told);
        OwnSettings dir;
        Settings settings;
        int changes = 0;
        connect(settings.notifier(), &SettingsValues::changed, this, [&](Settings::Key k) {
            QCOMPARE(int(k), key);
            ++changes;
        });
        QCOMPARE(settings.set(Settings::Key(key), value), taken);
        QCOMPARE(changes, told);
        QCOMPARE(Settings().value(Settings::Key(key)).toString(), kept.toString());
        const QString name = QString::fromLatin1(Settings::row(Settings::Key(key)).name);
        QCOMPARE(QSettings(Settings::file(), QSettings::IniFormat).value(name, kept).toString(), kept.toString());
    }

    void onePressAtATime()
    {
        OwnSettings dir;
        WindowHarness h;
        Settings().set(Settings::Key::SaveFolder, dir.path());
        for (const QByteArray id : {"1", "2"}) {
            h.server.route("/v/" + id + ".mp4", patternBytes(5000), "video/mp4");
            HttpResponse slow =
                HttpResponse::text("<div data-video=\"" + h.server.url("/v/" + id + ".mp4").toUtf8() + "\"></div>");
            slow.delayMs = 600;
            h.server.route("/media/" + id, slow);
        }
        const QString first = h.server.url("/media/1");
        const QString second = h.server.url("/media/2");
        h.form->Option1[1]->setChecked(true);
        // Acts from inside the runs' waits: the press during the batch's fetch, the typing
        // during the window's own.
        int step = 0;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (step == 0 && h.form->downloads()->batch()->extracting()) {
                step = 1;
                h.form->Text1->setText(second);
                h.form->Command1_Click();
                QCOMPARE(h.server.targets().count("/media/2"), 0);  // not inside the batch's run
            } else if (step == 1 && h.form->Label5->text() == QStringLiteral("正在提取视频,请稍等...")) {
                step = 2;
                h.form->Text1->setText("typed meanwhile");
            }
        });
        poll.start(20);
        h.form->downloads()->addAddresses({first});
        QTRY_COMPARE_WITH_TIMEOUT(h.form->Label5->text(), QStringLiteral("视频提取完毕.."), 15000);
        poll.stop();
        QCOMPARE(step, 2);
        QCOMPARE(h.form->Text1->text(), QString("typed meanwhile"));
        QCOMPARE(h.server.targets().count("/media/1"), 1);
        QCOMPARE(h.server.targets().count("/media/2"), 1);
        QTRY_COMPARE_WITH_TIMEOUT(h.form->downloads()->rows()->rowCount(), 1, 15000);
        QCOMPARE(h.form->downloads()->rows()->at(0)->entry.video.address, first);
        h.recorder.saveAnswer = dir.filePath("w.mp4");
        h.form->Command2_Click();
        QCOMPARE(h.form->downloads()->entry(h.form->lastDownload())->video.address, second);
    }

    // Two share addresses pasted at once, the first page answered 429 with Retry-After: 1:
    // the batch says so in the list's window, waits, asks again and saves both.
    void busyServiceIsWaitedOut()
    {
        OwnSettings dir;
        WindowHarness h;
        Settings().set(Settings::Key::SaveFolder, dir.path());
        HttpResponse busy = HttpResponse::text("busy");
        busy.status = 429;
        busy.headers = {{"Retry-After", "1"}};
        h.server.route("/media/1", busy);
        const auto page = [&](const QByteArray &id) {
            h.server.route("/v/" + id + ".mp4", patternBytes(5000), "video/mp4");
            return "<div data-video=\"" + h.server.url("/v/" + id + ".mp4").toUtf8() + "\"></div>";
        };
        h.server.route("/media/2", page("2"));
        connect(&h.server, &HttpServer::served, this, [&](const HttpRequest &r) {
            if (r.target == "/media/1")
                h.server.route("/media/1", page("1"));  // the next try gets the page
        });
        QStringList notices;
        connect(h.form->downloads(), &DownloadList::notice, this, [&](const QString &t) { notices << t; });
        h.recorder.answers = {IDYES};
        QGuiApplication::clipboard()->setText(h.server.url("/media/1") + " 看看\n" + h.server.url("/media/2"));
        h.form->Text1->setFocus();
        QTest::keySequence(h.form->Text1, QKeySequence::Paste);
        // The status line tells of the batch; a click on it opens the list.
        QTRY_COMPARE(h.form->Label5->text(), QStringLiteral("已将 2 个视频地址加入下载列表.."));
        QTest::mouseClick(h.form->Label5, Qt::LeftButton);
        QTRY_VERIFY(h.form->downloadListWindow()->isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(h.form->downloads()->rows()->rowCount(), 2, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(h.form->downloads()->unfinished(), 0, 15000);
        QCOMPARE(QDir(dir.path()).entryList({"*.mp4"}, QDir::Files).size(), 2);
        QVERIFY2(notices.value(0).startsWith("服务器繁忙，1 秒后继续"), qPrintable(notices.join('|')));
        QCOMPARE(h.server.targets().count("/media/1"), 2);
    }
};

QTEST_MAIN(TestSaveVideo)
#include "test_save_video.moc"
