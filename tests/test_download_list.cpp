// The download list as a user who saves many videos a day meets it: two windows on one
// history, rows that stay their own, and files the list did not write left alone.
#include "desktop/seams.h"
#include "download/sidecar.h"
#include "download_list/list_window.h"
#include "downloads/download_list.h"
#include "downloads/download_rows.h"
#include "extract/extraction_queue.h"
#include "download/download.h"
#include "fixtures.h"
#include "media_input.h"
#include "record/hosts.h"
#include "settings/settings.h"
#include "window_harness.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QUrl>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

namespace {

// Folders of the test's own (settings, history, thumbnails, saved videos) and a server that
// answers as the services would: /media/ID is a page whose video is /v/ID.mp4.
struct ListHarness {
    QTemporaryDir dir;
    QByteArray saved[3] = {qgetenv("XDG_CONFIG_HOME"), qgetenv("XDG_DATA_HOME"), qgetenv("XDG_CACHE_HOME")};
    bool set = qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8()) &&
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8()) &&
        qputenv("XDG_CACHE_HOME", dir.filePath("cache").toUtf8());
    RouteServer server;
    QString folder = dir.filePath("videos");
    QString history = dir.filePath("data/history.sqlite");

    ListHarness()
    {
        QDir().mkpath(folder);
        setHosts(Hosts::allOn(server.hostPort()));
        Settings().set(Settings::Key::SaveFolder, folder);
    }
    ~ListHarness()
    {
        setHosts(Hosts::fromBuild());
        qputenv("XDG_CONFIG_HOME", saved[0]);
        qputenv("XDG_DATA_HOME", saved[1]);
        qputenv("XDG_CACHE_HOME", saved[2]);
    }
    // The share address of a video of size bytes (its bytes: videoBytes(id, size)).
    QString video(const QByteArray &id, qint64 size = 5000)
    {
        server.route("/v/" + id + ".mp4", videoBytes(id, size), "video/mp4");
        server.route("/c/" + id + ".jpg", encodedPicture(Qt::red), "image/jpeg");
        server.route("/media/" + id,
            "<div data-video=\"" + server.url("/v/" + id + ".mp4").toUtf8() + "\"><img id=\"video_img\" src=\"" +
                server.url("/c/" + id + ".jpg").toUtf8() +
                "\"></div><a class=\"name\">小达人</a><h1 class=\"description br\">海边 " + id + "</h1>");
        return server.url("/media/" + id);
    }
    static QByteArray videoBytes(const QByteArray &id, qint64 size) { return id + patternBytes(size); }
    std::unique_ptr<DownloadList> list() { return std::make_unique<DownloadList>(Settings(), history); }
};

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

// A file of the user's: written anew, so it records no origin.
void writeUsers(const QString &path, const QByteArray &bytes)
{
    QFile::remove(path);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// The ids of the rows a list shows, newest first.
QList<qint64> shownIds(DownloadList &list)
{
    QList<qint64> ids;
    for (int i = 0; i < list.rows()->rowCount(); ++i)
        ids << list.rows()->at(i)->entry.id;
    return ids;
}

// Adds the addresses as a batch and waits for every row to end.
QList<qint64> saveBatch(DownloadList &list, const QStringList &addresses)
{
    const int before = list.rows()->rowCount();
    list.addAddresses(addresses);
    [&] { QTRY_COMPARE_WITH_TIMEOUT(list.rows()->rowCount(), before + int(addresses.size()), 15000); }();
    [&] { QTRY_COMPARE_WITH_TIMEOUT(list.unfinished(), 0, 15000); }();
    return shownIds(list).mid(0, addresses.size());
}

qint64 sequence(const QString &history)
{
    qint64 seq = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(history);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec("SELECT seq FROM sqlite_sequence WHERE name = 'downloads'") && q.next())
                seq = q.value(0).toLongLong();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    return seq;
}

}  // namespace

Q_DECLARE_METATYPE(history::Entry)

class TestDownloadList : public QObject {
    Q_OBJECT
private slots:
    // What one window does, the other shows within 2 s; an action on a row the other window
    // changed meanwhile acts on nothing else; a row's id and cover never come back.
    void twoWindowsAgree()
    {
        ListHarness h;
        auto first = h.list();
        auto second = h.list();
        const QList<qint64> ids = saveBatch(*first, {h.video("1"), h.video("2"), h.video("3")});
        QTRY_COMPARE_WITH_TIMEOUT(shownIds(*second), ids, 4000);
        for (const qint64 id : ids)
            QCOMPARE(int(second->rows()->row(id)->entry.state), int(history::State::Done));
        QVERIFY(!first->thumbnails().get(ids[0]).isNull());

        // The second deletes the newest row; the first still shows it and acts on it: the
        // row is found gone, and nothing else changes.
        second->remove(ids[0]);
        QVERIFY(!first->stillAs(ids[0], history::State::Done));
        QCOMPARE(shownIds(*first), ids.mid(1));
        QVERIFY(first->entry(ids[1]) && first->entry(ids[2]));
        QVERIFY(first->thumbnails().get(ids[0]).isNull());

        // A new row after the last one was deleted: a new id, no trace of the old cover.
        const qint64 before = sequence(h.history);
        const QList<qint64> again = saveBatch(*second, {h.video("4")});
        QVERIFY(again[0] > ids[0]);
        QVERIFY(sequence(h.history) >= before);
        QTRY_COMPARE_WITH_TIMEOUT(shownIds(*first), QList<qint64>({again[0], ids[1], ids[2]}), 4000);

        // 清除已完成 in one window empties both.
        first->clearFinished();
        QTRY_COMPARE_WITH_TIMEOUT(second->rows()->rowCount(), 0, 4000);
        QCOMPARE(first->rows()->rowCount(), 0);
    }

    // Covers of ids the history never gave (a history moved aside, an older version's that
    // gave a deleted row's id again) go before any row could show them.
    void strayCoversGo()
    {
        ListHarness h;
        qint64 id = 0;
        {
            history::Store store(h.history);
            id = store.add(history::Entry());
        }
        QDir().mkpath(Thumbnails::folder());
        for (const qint64 n : {id, id + 1})
            QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(Thumbnails::folder() + QString("/%1.png").arg(n)));
        auto list = h.list();
        QVERIFY(!list->thumbnails().get(id).isNull());
        QVERIFY(!QFileInfo::exists(Thumbnails::folder() + QString("/%1.png").arg(id + 1)));
    }

    // A row the other window runs has no menu; once that window lets it go (paused, then
    // quit), this one shows it paused and can resume it.
    void rowHandedBack()
    {
        ListHarness h;
        HttpResponse slow = HttpResponse::text(patternBytes(5000), "video/mp4");
        slow.trickleMs = 10;
        h.server.route("/v/slow.mp4", slow);
        auto first = h.list();
        auto second = h.list();
        DownloadRequest request;
        request.video.link = h.server.url("/v/slow.mp4");
        request.target = QDir(h.folder).filePath("slow.mp4");
        const qint64 id = first->add(request);
        QTRY_VERIFY_WITH_TIMEOUT(second->rows()->row(id) && second->rows()->row(id)->elsewhere, 4000);
        QVERIFY(!second->stillAs(id, history::State::Running));
        first->pause(id);
        QTRY_COMPARE_WITH_TIMEOUT(int(first->entry(id)->state), int(history::State::Paused), 5000);
        first.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!second->rows()->row(id)->elsewhere, 4000);
        QCOMPARE(int(second->rows()->row(id)->entry.state), int(history::State::Paused));
        h.server.route("/v/slow.mp4", patternBytes(5000), "video/mp4");
        QVERIFY(second->stillAs(id, history::State::Paused));
        second->resume(id);
        QTRY_COMPARE_WITH_TIMEOUT(int(second->entry(id)->state), int(history::State::Done), 10000);
        QCOMPARE(contents(request.target), patternBytes(5000));
    }

    // 设置 → 清除历史 and 清除已完成 ask first; only 是 clears, and the question says the files stay.
    void clearHistoryAsksFirst_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("rowsAfter");
        QTest::addColumn<QString>("question");
        const QString all = QStringLiteral("确定清除全部下载历史吗? 已下载的文件不会被删除。");
        const QString done = QStringLiteral("确定清除已完成的下载记录吗? 已下载的文件不会被删除。");
        QTest::newRow("清除历史: 否 keeps every row") << "清除历史" << int(IDNO) << 1 << all;
        QTest::newRow("清除历史: 是 clears") << "清除历史" << int(IDYES) << 0 << all;
        QTest::newRow("清除已完成: 否 keeps every row") << "清除已完成" << int(IDNO) << 1 << done;
        QTest::newRow("清除已完成: 是 clears") << "清除已完成" << int(IDYES) << 0 << done;
    }
    void clearHistoryAsksFirst()
    {
        QFETCH(QString, button);
        QFETCH(int, answer);
        QFETCH(int, rowsAfter);
        QFETCH(QString, question);
        ListHarness h;
        auto list = h.list();
        const qint64 id = saveBatch(*list, {h.video("1")})[0];
        QTRY_COMPARE_WITH_TIMEOUT(int(list->entry(id)->state), int(history::State::Done), 10000);
        Recorder recorder;
        recorder.answers = {answer};
        const Seams seams = recorder.seams();
        Settings settings;
        ListWindow window(*list, settings, seams);
        // In the settings dialog: 清除历史, then the dialog is closed.
        if (button == u"清除历史") {
            QTimer::singleShot(0, this, [] {
                auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                for (auto *b : dialog->findChildren<QPushButton *>()) {
                    if (b->text() == QStringLiteral("清除历史"))
                        b->click();
                }
                dialog->reject();
            });
        }
        for (auto *b : window.findChildren<QPushButton *>()) {
            if (b->text() == (button == u"清除历史" ? QStringLiteral("设置") : button))
                b->click();
        }
        QCOMPARE(recorder.boxes.size(), 1);
        QCOMPARE(recorder.boxes[0].text, question);
        QCOMPARE(list->rows()->rowCount(), rowsAfter);
        QCOMPARE(h.list()->entry(id).has_value(), rowsAfter == 1);
    }

    // 删除文件 removes the video and what the row wrote beside it, never a file of the same
    // name the program did not write.
    void deleteFileTakesOnlyItsOwn_data()
    {
        QTest::addColumn<bool>("usersFiles");
        QTest::newRow("its own files go") << false;
        QTest::newRow("the user's files of the same names stay") << true;
    }
    void deleteFileTakesOnlyItsOwn()
    {
        QFETCH(bool, usersFiles);
        ListHarness h;
        Settings().set(Settings::Key::Sidecars, true);
        auto list = h.list();
        const qint64 id = saveBatch(*list, {h.video("1")})[0];
        const QString file = list->entry(id)->file;
        const QString info = sidecarPath(file, ".info.json");
        const QString cover = sidecarPath(file, ".jpg");
        QTRY_COMPARE_WITH_TIMEOUT(list->entry(id)->sidecars, QStringList({info, cover}), 5000);
        // The cover as the server sent it, not a picture made again.
        QCOMPARE(contents(cover), encodedPicture(Qt::red));
        QCOMPARE(list->filesOf(id), QStringList({file, info, cover}));
        if (usersFiles) {
            writeUsers(file, "mine");
            writeUsers(info, "mine too");
            QCOMPARE(list->filesOf(id), QStringList({info, cover}));  // the video is not its own
            QFile::remove(info);
            QFile::copy(cover, info);  // a file the user put there: the row recorded one of its own
        }
        list->deleteFile(id);
        QVERIFY(!list->entry(id));
        QVERIFY(!QFileInfo::exists(cover));
        QCOMPARE(QFileInfo::exists(file), usersFiles);
        if (usersFiles)
            QCOMPARE(contents(file), QByteArray("mine"));
    }

    // A batch's video whose default name is taken: the very video makes its row 已完成
    // "(文件已存在)" (also after the history was cleared); another file keeps its name and
    // the video takes the next free one.
    void batchFindsWhatIsThere_data()
    {
        QTest::addColumn<bool>("other");
        QTest::newRow("this very video") << false;
        QTest::newRow("another file") << true;
    }
    void batchFindsWhatIsThere()
    {
        QFETCH(bool, other);
        ListHarness h;
        auto list = h.list();
        const QString address = h.video("1");
        const QString file = list->entry(saveBatch(*list, {address})[0])->file;
        list->clearHistory();
        if (other)
            writeUsers(file, "mine");
        const int served = int(h.server.targets().count("/v/1.mp4"));
        const history::Entry row = *list->entry(saveBatch(*list, {address})[0]);
        QCOMPARE(int(row.state), int(history::State::Done));
        QCOMPARE(stateText({row, {}, false}), other ? QString("已完成") : QString("已完成 (文件已存在)"));
        QCOMPARE(row.file, other ? numberedName(file, 2) : file);
        QCOMPARE(contents(row.file), ListHarness::videoBytes("1", 5000));
        QCOMPARE(contents(file), other ? QByteArray("mine") : ListHarness::videoBytes("1", 5000));
        QCOMPARE(int(h.server.targets().count("/v/1.mp4")) - served, other ? 1 : 0);
        // 重试 of such a row later finds the same.
        list->retry(row.id);
        QCOMPARE(int(list->entry(row.id)->state), int(history::State::Done));
    }

    // A download brought back at start, or retried, whose file became another of the user's:
    // the user's file stays byte for byte, the video goes beside it and its row says so.
    // Every caller's extraction (a press, a batch, a row brought back at start, 重试) through
    // the one queue while pages answer slowly: never two at once, each result its own request's.
    void everyCallerThroughOneQueue_data()
    {
        QTest::addColumn<QStringList>("callers");  // in the order they ask
        QTest::newRow("press amid a batch") << QStringList {"batch", "press"};
        QTest::newRow("batch amid a press") << QStringList {"press", "batch"};
        QTest::newRow("重试 amid a batch and a press") << QStringList {"batch", "retry", "press"};
        QTest::newRow("a restore, then a press") << QStringList {"restore", "press"};
    }
    void everyCallerThroughOneQueue()
    {
        QFETCH(QStringList, callers);
        ListHarness h;
        Settings().set(Settings::Key::ResumeAtStart, true);
        QStringList addresses;
        for (const QByteArray id : {"1", "2", "3", "4", "5"}) {
            addresses << h.video(id);
        }
        // Slow pages: each share page waits 150 ms.
        for (const QByteArray id : {"1", "2", "3", "4", "5"}) {
            HttpResponse page = HttpResponse::text("<div data-video=\"" + h.server.url("/v/" + id + ".mp4").toUtf8() +
                "\"></div><a class=\"name\">小达人</a><h1 class=\"description br\">海边 " + id + "</h1>");
            page.delayMs = 150;
            h.server.route("/media/" + id, page);
        }
        qint64 restored = 0;
        if (callers.contains("restore")) {
            // A row left unfinished by an earlier run, its link gone stale.
            HttpResponse trickle = HttpResponse::text(ListHarness::videoBytes("5", 20000), "video/mp4");
            trickle.trickleMs = 2;
            h.server.route("/v/5.mp4", trickle);
            auto earlier = h.list();
            DownloadRequest r;
            r.video.address = addresses[4];
            r.video.link = h.server.url("/v/5.mp4");
            r.target = QDir(h.folder).filePath("5.mp4");
            restored = earlier->add(r);
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(Download::partPath(r.target)).size() > 0, 10000);
            earlier.reset();
            h.server.route("/v/5.mp4", ListHarness::videoBytes("5", 20000), "video/mp4");
        }
        ExtractionQueue queue(hosts());
        int running = 0;
        int most = 0;
        QList<ExtractionWhy> whys;
        QStringList wrong;
        connect(
            &queue, &ExtractionQueue::started, this, [&](const ExtractionRequest &) { most = qMax(most, ++running); });
        connect(&queue, &ExtractionQueue::finished, this, [&](const ExtractionRequest &r, const ExtractedVideo &v) {
            --running;
            whys << r.why;
            const QString id = r.address.section(u'/', -1);
            if (v.video.address != r.address || !v.video.link.endsWith("/v/" + id + ".mp4"))
                wrong << r.address + " gave " + v.video.link;
        });
        DownloadList list(Settings(), h.history, nullptr, &queue);
        qint64 failed = 0;
        for (const QString &caller : callers) {
            if (caller == "batch") {
                list.addAddresses({addresses[0], addresses[1]});
            } else if (caller == "press") {
                ExtractionRequest press;
                press.site = Meipai;
                press.address = addresses[2];
                queue.add(press);
            } else if (caller == "retry") {
                VideoFields video;
                video.address = addresses[3];
                failed = list.addFailed(video, "视频提取失败..");
                list.retry(failed);
            } else if (caller == "restore") {
                list.restore();
            }
            QTest::qWait(50);  // the next caller asks while a page is on its way
        }
        const qsizetype expected = callers.size() + (callers.contains("batch") ? 1 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(whys.size(), expected, 15000);
        QCOMPARE(most, 1);
        QCOMPARE(wrong, QStringList());
        if (failed > 0)
            QVERIFY(whys.contains(ExtractionWhy::Retry));
        if (restored > 0)
            QVERIFY(whys.contains(ExtractionWhy::Restore));
        QCOMPARE(whys.contains(ExtractionWhy::Batch), callers.contains("batch"));
    }

    void restoredNeverReplacesAFile_data()
    {
        QTest::addColumn<bool>("restart");
        QTest::newRow("restored at start") << true;
        QTest::newRow("retried") << false;
    }
    void restoredNeverReplacesAFile()
    {
        QFETCH(bool, restart);
        ListHarness h;
        Settings().set(Settings::Key::ResumeAtStart, true);
        const QString address = h.video("1", 20000);
        HttpResponse slow = HttpResponse::text(ListHarness::videoBytes("1", 20000), "video/mp4");
        slow.trickleMs = 2;
        h.server.route("/v/1.mp4", slow);
        auto list = h.list();
        list->addAddresses({address});
        QTRY_COMPARE_WITH_TIMEOUT(list->rows()->rowCount(), 1, 10000);
        const qint64 id = shownIds(*list)[0];
        const QString file = list->entry(id)->file;
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(Download::partPath(file)).size() > 0, 10000);
        if (restart)
            list.reset();  // gone mid-download: the row stays unfinished
        else
            list->cancel(id);
        writeUsers(file, "mine");
        h.server.route("/v/1.mp4", ListHarness::videoBytes("1", 20000), "video/mp4");
        if (restart) {
            list = h.list();
            list->restore();
        } else {
            list->retry(id);
        }
        QTRY_COMPARE_WITH_TIMEOUT(int(list->entry(id)->state), int(history::State::Done), 15000);
        QCOMPARE(contents(file), QByteArray("mine"));
        QCOMPARE(list->entry(id)->file, numberedName(file, 2));
        QCOMPARE(contents(numberedName(file, 2)), ListHarness::videoBytes("1", 20000));
        QVERIFY2(list->entry(id)->reason.contains(QFileInfo(numberedName(file, 2)).fileName()),
            qPrintable(list->entry(id)->reason));
    }

    // A saved video made into what plays everywhere, or its sound alone: the row points at the
    // new file; a conversion cut off by the window's end comes back finished, with its original.
    void conversionsInTheList_data()
    {
        QTest::addColumn<QString>("how");  // "FLV setting", "sound only", "cut off"
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("originalKept");
        QTest::newRow("FLV 视频保存为 MP4") << "FLV setting"
                                            << "mp4" << true;
        QTest::newRow("仅保存音频 (MP3)") << "sound only"
                                          << "mp3" << false;
        QTest::newRow("仅保存音频 beside the user's FLV of the same name") << "sound beside"
                                                                           << "mp3" << true;
        QTest::newRow("在视频文件中写入作者、简介和封面 on a saved MP4") << "tags setting"
                                                                         << "mp4" << false;
        QTest::newRow("cut off mid-way") << "cut off"
                                         << "flv" << true;
    }
    void conversionsInTheList()
    {
        QFETCH(QString, how);
        QFETCH(QString, suffix);
        QFETCH(bool, originalKept);
        ListHarness h;
        QFile sample(QStringLiteral(QUORVIN_SOURCE_DIR "/sim/media/sample.flv"));
        QVERIFY(sample.open(QIODevice::ReadOnly));
        h.server.route("/v/wp.flv", sample.readAll(), "video/x-flv");
        QFile mp4(QStringLiteral(QUORVIN_SOURCE_DIR "/sim/media/sample.mp4"));
        QVERIFY(mp4.open(QIODevice::ReadOnly));
        h.server.route("/v/wp.mp4", mp4.readAll(), "video/mp4");
        h.server.route("/c/wp.jpg", encodedPicture(Qt::darkGreen, QSize(480, 480)), "image/jpeg");
        const QByteArray video = how == u"tags setting" ? "/v/wp.mp4" : "/v/wp.flv";
        h.server.route("/media/wp",
            "<div data-video=\"" + h.server.url(video).toUtf8() + "\"></div><img id=\"video_img\" src=\"" +
                h.server.url("/c/wp.jpg").toUtf8() +
                "\"><a class=\"name\">微拍小王</a><h1 class=\"description br\">我家的狗</h1>");
        Settings().set(Settings::Key::FlvToMp4, how == u"FLV setting");
        Settings().set(Settings::Key::EmbedTags, how == u"tags setting");
        Settings().set(Settings::Key::ResumeAtStart, true);
        auto list = h.list();
        if (how.startsWith(u"sound")) {
            DownloadRequest request;
            request.video.link = h.server.url("/v/wp.flv");
            request.video.description = QStringLiteral("我家的狗");
            request.target = h.folder + QStringLiteral("/我家的狗.flv");
            if (how == u"sound beside") {
                // The user's own FLV under the name: the video goes to a name of its own.
                QFile mine(request.target);
                QVERIFY(mine.open(QIODevice::WriteOnly) && mine.write("mine") == 4);
                request.target = convert::soundSourcePath(h.folder + QStringLiteral("/我家的狗.mp3"), "flv");
            }
            request.convertTo = convert::Kind::Mp3;
            list->add(request);
        } else {
            list->addAddresses({h.server.url("/media/wp")});
        }
        QTRY_COMPARE_WITH_TIMEOUT(list->rows()->rowCount(), 1, 10000);
        const qint64 id = shownIds(*list)[0];
        QTRY_VERIFY_WITH_TIMEOUT(list->entry(id)->state == history::State::Done && !list->converting(id), 15000);
        const QFileInfo made(list->entry(id)->file);
        const QString original = made.dir().filePath(made.completeBaseName() + QStringLiteral(".flv"));
        if (how == u"cut off") {
            // A converter that never ends: the window goes while it runs; another window shows
            // the row as converting there, with nothing to press.
            QTemporaryDir tools;
            const QString helper = tools.filePath("helper.sh");
            QFile script(helper);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\necho 'progress 45'\nexec sleep 60\n");
            script.close();
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            qputenv("QUORVIN_MEDIA_HELPER", helper.toUtf8());
            list->convert(id, convert::Kind::Mp4, true);
            QTRY_COMPARE_WITH_TIMEOUT(list->rows()
                                          ->data(list->rows()->index(0), Qt::DisplayRole)
                                          .toString()
                                          .endsWith(QStringLiteral("转换中 45%")),
                true, 10000);
            {
                auto other = h.list();
                other->rows()->reload();
                QCOMPARE(other->rows()
                             ->data(other->rows()->index(0), Qt::DisplayRole)
                             .toString()
                             .endsWith(QStringLiteral("在另一个窗口中转换 45%")),
                    true);
                QVERIFY(other->rows()->row(id)->elsewhere);
            }
            list.reset();
            qunsetenv("QUORVIN_MEDIA_HELPER");
            list = h.list();
            list->restore();
        }
        const history::Entry e = *list->entry(id);
        QCOMPARE(int(e.state), int(history::State::Done));
        QCOMPARE(QFileInfo(e.file).suffix(), suffix);
        QCOMPARE(QFileInfo::exists(original), originalKept);
        // A conversion cut off keeps its wish, and the row says it can be made again.
        QCOMPARE(e.reason.contains(QStringLiteral("重新转换")), how == u"cut off");
        QCOMPARE(e.convertTo, how == u"cut off" ? std::optional(convert::Kind::Mp4) : std::nullopt);
        const std::optional<convert::MediaFacts> facts = convert::probeFile(e.file);
        QVERIFY(facts);  // it plays: the streams read back
        QCOMPARE(facts->acodec, suffix == u"mp3" ? QStringLiteral("mp3") : QStringLiteral("aac"));
        if (how == u"tags setting") {
            // Written into the saved MP4 itself, with the cover as the server sends it.
            std::string why;
            const media::InputContext in = media::openInput(e.file.toStdString(), media::SavedVideoFormats, &why);
            QVERIFY(in);
            const AVDictionaryEntry *title = av_dict_get(in->metadata, "title", nullptr, 0);
            QCOMPARE(QString::fromUtf8(title != nullptr ? title->value : ""), QStringLiteral("我家的狗"));
            int coverWidth = 0;
            for (unsigned i = 0; i < in->nb_streams; ++i) {
                if ((in->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0)
                    coverWidth = in->streams[i]->codecpar->width;
            }
            QCOMPARE(coverWidth, 480);
        }
        if (how == u"sound beside") {
            QCOMPARE(e.file, h.folder + QStringLiteral("/我家的狗.mp3"));
            QCOMPARE(contents(original), QByteArray("mine"));
        }
        QCOMPARE(QDir(h.folder).entryList(QDir::Files | QDir::Hidden).size(),
            originalKept && (suffix == u"mp4" || how == u"sound beside") ? 2 : 1);
    }

    // A row is a download with its files: a conversion of a finished row adds the new file and
    // keeps the one it was made from (unless removed); the badge says the row's format, the
    // tooltip names each file, and 删除文件 takes them all, nothing else.
    void rowHoldsItsFiles_data()
    {
        QTest::addColumn<QString>("source");  // "flv" or "mp4"
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("removeOriginal");
        QTest::addColumn<QStringList>("files");  // filesOf, by name
        QTest::addColumn<QString>("badge");
        QTest::newRow("转换为 MP4, the FLV kept")
            << "flv" << int(convert::Kind::Mp4) << false << QStringList {"我家的狗.mp4", "我家的狗.flv"} << "MP4";
        QTest::newRow("提取音频 from an MP4, the MP4 kept")
            << "mp4" << int(convert::Kind::Mp3) << false << QStringList {"我家的狗.mp3", "我家的狗.mp4"} << "MP3";
        QTest::newRow("转换后删除原文件")
            << "flv" << int(convert::Kind::Mp4) << true << QStringList {"我家的狗.mp4"} << "MP4";
    }
    void rowHoldsItsFiles()
    {
        QFETCH(QString, source);
        QFETCH(int, kind);
        QFETCH(bool, removeOriginal);
        QFETCH(QStringList, files);
        QFETCH(QString, badge);
        ListHarness h;
        QFile sample(QStringLiteral(QUORVIN_SOURCE_DIR "/sim/media/sample.") + source);
        QVERIFY(sample.open(QIODevice::ReadOnly));
        h.server.route("/v/wp." + source.toUtf8(), sample.readAll(), "video/" + source.toUtf8());
        auto list = h.list();
        DownloadRequest request;
        request.video.link = h.server.url("/v/wp." + source.toUtf8());
        request.video.description = QStringLiteral("我家的狗");
        request.target = h.folder + QStringLiteral("/我家的狗.") + source;
        const qint64 id = list->add(request);
        QTRY_VERIFY_WITH_TIMEOUT(list->entry(id)->state == history::State::Done, 15000);
        list->convert(id, convert::Kind(kind), removeOriginal);
        QTRY_VERIFY_WITH_TIMEOUT(list->entry(id)->state == history::State::Done && !list->converting(id), 15000);
        QStringList names;
        for (const QString &path : list->filesOf(id))
            names << QFileInfo(path).fileName();
        QCOMPARE(names, files);
        const QModelIndex row = list->rows()->index(0);
        QCOMPARE(formatBadge(*list->rows()->row(id)), badge);
        for (const QString &name : files)
            QVERIFY(list->rows()->data(row, Qt::ToolTipRole).toString().contains(name));
        // QUORVIN_SCREENSHOTS=FOLDER: the list as a person sees the row, for the docs.
        if (const QString shots = qEnvironmentVariable("QUORVIN_SCREENSHOTS"); !shots.isEmpty() && files.size() > 1) {
            Recorder recorder;
            const Seams seams = recorder.seams();
            Settings settings;
            ListWindow window(*list, settings, seams);
            window.resize(640, 220);
            window.show();
            QTest::qWait(300);
            window.grab().save(shots + QStringLiteral("/row-files-%1.png").arg(badge.toLower()));
        }
        list->deleteFile(id);
        QCOMPARE(QDir(h.folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // Every row says what it is: a failed extraction by its address, a paused one how far it
    // got (also read back after a restart), a finished one whose file is gone says so.
    void rowsReadable_data()
    {
        QTest::addColumn<history::Entry>("entry");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("state");
        history::Entry failed;
        failed.video.address = QStringLiteral("http://www.meipai.com/media/10001");
        failed.state = history::State::Failed;
        failed.reason = QStringLiteral("视频提取失败..(页面不存在)");
        QTest::newRow("a failed extraction") << failed << failed.video.address << "失败: 视频提取失败..(页面不存在)";
        history::Entry paused;
        paused.file = QStringLiteral("/tmp/小达人 - 海边.mp4");
        paused.state = history::State::Paused;
        paused.size = 64 * 1024 * 1024;
        paused.done = 23 * 1024 * 1024;
        QTest::newRow("paused") << paused << "小达人 - 海边.mp4"
                                << "已暂停 35% · 23.0 MB/64.0 MB";
        history::Entry gone = paused;
        gone.video.description = QStringLiteral("海边的日落");
        gone.state = history::State::Done;
        gone.file = QStringLiteral("/nonexistent/海边.mp4");
        QTest::newRow("its file gone") << gone << "海边的日落"
                                       << "文件已不在";
    }
    void rowsReadable()
    {
        QFETCH(history::Entry, entry);
        QFETCH(QString, title);
        QFETCH(QString, state);
        const DownloadRow row(entry);
        QCOMPARE(rowTitle(row), title);
        QCOMPARE(stateText(row), state);
        QCOMPARE(accessibleText(row), title + ", " + state);
    }

    // A failed extraction's row is found by its address and copies it; the keys of the
    // README's table act on the selected row, also where the view would take them.
    void rowKeysAndCopy()
    {
        ListHarness h;
        HttpResponse slow = HttpResponse::text(patternBytes(5000), "video/mp4");
        slow.trickleMs = 10;
        h.server.route("/v/slow.mp4", slow);
        auto list = h.list();
        VideoFields video;
        video.address = h.server.url("/media/404");
        const qint64 failed = list->addFailed(video, QStringLiteral("视频提取失败.."));
        DownloadRequest request;
        request.video.link = h.server.url("/v/slow.mp4");
        request.target = QDir(h.folder).filePath("slow.mp4");
        const qint64 running = list->add(request);
        Recorder recorder;
        const Seams seams = recorder.seams();
        Settings settings;
        ListWindow window(*list, settings, seams);
        window.present();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QListView *view = window.view();
        window.filterBox()->setText("media/404");
        QCOMPARE(view->model()->rowCount(), 1);
        view->setCurrentIndex(view->model()->index(0, 0));
        emit view->customContextMenuRequested(view->visualRect(view->currentIndex()).center());
        QMenu *menu = nullptr;
        for (QMenu *m : window.findChildren<QMenu *>())
            menu = m->isVisible() ? m : menu;
        QVERIFY(menu);
        QAction *copy = nullptr;
        for (QAction *a : menu->actions())
            copy = a->text() == QStringLiteral("复制分享地址") ? a : copy;
        QVERIFY2(copy, qPrintable([&] {
            QStringList t;
            for (QAction *a : menu->actions())
                t << a->text();
            return t.join('|');
        }()));
        copy->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), video.address);
        menu->close();
        window.filterBox()->clear();

        const auto select = [&](qint64 id) {
            view->setCurrentIndex(view->model()->index(list->rows()->rowOf(id), 0));
            view->setFocus();
        };
        const auto state = [&](qint64 id) { return list->entry(id) ? int(list->entry(id)->state) : -1; };
        select(running);
        QTest::keyClick(view, Qt::Key_Space);
        QTRY_COMPARE(state(running), int(history::State::Paused));
        QTest::keyClick(view, Qt::Key_Space);
        QTRY_VERIFY(state(running) == int(history::State::Running) || state(running) == int(history::State::Waiting));
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(recorder.opened, QStringList({QUrl::fromLocalFile(request.target).toString()}));
        select(failed);
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(state(failed), -1);
        QCOMPARE(list->rows()->rowCount(), 1);
    }
};

QTEST_MAIN(TestDownloadList)
#include "test_download_list.moc"
