// The downloader on the loopback server: complete files, redirects, failures that leave no
// final file, resume with Range, a server that ignores Range, stall, cancel.
#include "download.h"
#include "fetch.h"
#include "fixtures.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {


struct Outcome {
    DownloadError error = DownloadError::None;
    int status = 0;
};

// Runs one download to its end (or cancels it after the first progress when asked).
Outcome run(const QString &url, const QString &target, bool cancelEarly = false)
{
    Download download;
    Outcome outcome;
    QEventLoop loop;
    QObject::connect(&download, &Download::finished, &loop, [&](DownloadError e, int status) {
        outcome = {e, status};
        loop.quit();
    });
    if (cancelEarly) {
        QObject::connect(&download, &Download::progress, &loop, [&](const DownloadProgress &p) {
            if (p.done > 0)
                download.cancel();
        });
    }
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    download.start(url, target);
    loop.exec();
    return outcome;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

}  // namespace

class TestDownload : public QObject {
    Q_OBJECT
private slots:
    void init() { fetch::setTimeout(600); }
    void cleanup() { fetch::setTimeout(0); }

    void outcomes_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<int>("error");          // DownloadError
        QTest::addColumn<bool>("saved");         // the target holds the whole clip
        QTest::addColumn<QByteArray>("oldTarget");  // a file already at the target
        QTest::addColumn<QByteArray>("oldPart");    // a part file left from an earlier try
        const int none = int(DownloadError::None);
        QTest::newRow("complete") << "/clip.mp4" << none << true << QByteArray() << QByteArray();
        QTest::newRow("replaces an older file") << "/clip.mp4" << none << true << QByteArray("old") << QByteArray();
        QTest::newRow("no length, ends with the connection") << "/nolength.mp4" << none << true << QByteArray() << QByteArray();
        QTest::newRow("redirect, then the file") << "/redirect" << none << true << QByteArray() << QByteArray();
        QTest::newRow("resumes a part with Range") << "/clip.mp4" << none << true << QByteArray() << QByteArray("PART");
        QTest::newRow("server ignores Range: starts over") << "/norange.mp4" << none << true << QByteArray() << QByteArray("XXXX");
        QTest::newRow("part already whole") << "/clip.mp4" << none << true << QByteArray() << QByteArray("WHOLE");
        QTest::newRow("redirect to file:") << "/to-file" << int(DownloadError::NotWeb) << false << QByteArray("old") << QByteArray();
        QTest::newRow("redirect loop") << "/loop" << int(DownloadError::TooManyRedirects) << false << QByteArray() << QByteArray();
        QTest::newRow("404") << "/missing.mp4" << int(DownloadError::HttpStatus) << false << QByteArray("old") << QByteArray();
        QTest::newRow("dropped mid-body") << "/dropped.mp4" << int(DownloadError::ConnectionLost) << false << QByteArray("old") << QByteArray();
        QTest::newRow("stalled") << "/stalled.mp4" << int(DownloadError::TimedOut) << false << QByteArray("old") << QByteArray();
        QTest::newRow("larger than the free space") << "/huge.mp4" << int(DownloadError::DiskFull) << false << QByteArray("old") << QByteArray();
        QTest::newRow("refused") << "refused" << int(DownloadError::ConnectFailed) << false << QByteArray() << QByteArray();
        QTest::newRow("not a web link") << "file:///etc/passwd" << int(DownloadError::NotWeb) << false << QByteArray() << QByteArray();
    }
    void outcomes()
    {
        QFETCH(QString, route);
        QFETCH(int, error);
        QFETCH(bool, saved);
        QFETCH(QByteArray, oldTarget);
        QFETCH(QByteArray, oldPart);
        const QByteArray body = patternBytes(300 * 1024 + 17);
        RouteServer server;
        server.route("/clip.mp4", body, "video/mp4");
        HttpResponse noLength = HttpResponse::text(body, "video/mp4");
        noLength.omitLength = true;
        server.route("/nolength.mp4", noLength);
        server.route("/redirect", HttpResponse::redirect("/clip.mp4"));
        server.route("/to-file", HttpResponse::redirect("file:///etc/passwd"));
        server.route("/loop", HttpResponse::redirect("/loop"));
        HttpResponse noRange = HttpResponse::text(body, "video/mp4");
        noRange.ignoreRange = true;
        server.route("/norange.mp4", noRange);
        HttpResponse dropped = HttpResponse::text(body, "video/mp4");
        dropped.closeAfter = 100000;
        server.route("/dropped.mp4", dropped);
        HttpResponse stalled = HttpResponse::text(body, "video/mp4");
        stalled.stallAfter = 1000;
        server.route("/stalled.mp4", stalled);
        HttpResponse huge;
        huge.raw = "HTTP/1.1 200 OK\r\nContent-Type: video/mp4\r\nContent-Length: 999999999999999\r\n\r\nxx";
        huge.keepOpen = true;
        server.route("/huge.mp4", huge);

        QTemporaryDir dir;
        const QString target = dir.filePath("视频 1.mp4");
        if (!oldTarget.isEmpty())
            writeFile(target, oldTarget);
        QByteArray part = oldPart;
        if (oldPart == "PART")
            part = body.left(123457);
        else if (oldPart == "WHOLE")
            part = body;
        if (!part.isEmpty())
            writeFile(Download::partPath(target), part);

        QString url = server.url(route.toUtf8());
        if (route == "refused")
            url = QStringLiteral("http://127.0.0.1:1/clip.mp4");
        else if (route.startsWith("file:"))
            url = route;
        const Outcome outcome = run(url, target);
        QCOMPARE(int(outcome.error), error);
        if (saved) {
            QVERIFY(contents(target) == body);
            QVERIFY(!QFile::exists(Download::partPath(target)));
        } else {
            QCOMPARE(contents(target), oldTarget.isEmpty() ? QByteArray("<missing>") : oldTarget);
        }
        if (oldPart == "PART")
            QCOMPARE(server.requests().last().header("range"), QByteArray("bytes=123457-"));
        if (route == "/missing.mp4") {
            QCOMPARE(outcome.status, 404);
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"视频 1.mp4"});
        }
    }

    void droppedConnectionResumesToTheWholeFile()
    {
        const QByteArray body = patternBytes(500 * 1000);
        HttpServer server;
        server.listen();
        int requests = 0;
        server.setHandler([&](const HttpRequest &) {
            HttpResponse r = HttpResponse::text(body, "video/mp4");
            if (++requests == 1)
                r.closeAfter = 200000;  // the first try breaks off
            return r;
        });
        QTemporaryDir dir;
        const QString target = dir.filePath("v.mp4");
        QCOMPARE(int(run(server.base() + "/v.mp4", target).error), int(DownloadError::ConnectionLost));
        QVERIFY(!QFile::exists(target));
        QCOMPARE(contents(Download::partPath(target)), body.left(200000));
        QCOMPARE(int(run(server.base() + "/v.mp4", target).error), int(DownloadError::None));
        QCOMPARE(server.requests().last().header("range"), QByteArray("bytes=200000-"));
        QVERIFY(contents(target) == body);
        QVERIFY(!QFile::exists(Download::partPath(target)));
    }

    void cancelRemovesThePart()
    {
        RouteServer server;
        HttpResponse slow = HttpResponse::text(patternBytes(4000), "video/mp4");
        slow.trickleMs = 5;
        server.route("/slow.mp4", slow);
        QTemporaryDir dir;
        const QString target = dir.filePath("v.mp4");
        QCOMPARE(int(run(server.url("/slow.mp4"), target, true).error), int(DownloadError::Cancelled));
        QVERIFY(QDir(dir.path()).entryList(QDir::Files).isEmpty());
    }

    void unwritableFolder()
    {
        RouteServer server;
        server.route("/clip.mp4", patternBytes(1000), "video/mp4");
        QTemporaryDir dir;
        QString folder = dir.filePath("locked");
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        if (getuid() == 0)
            folder = QStringLiteral("/sys/kernel");  // even root cannot create files here
        const QString target = folder + "/v.mp4";
        QCOMPARE(int(run(server.url("/clip.mp4"), target).error), int(DownloadError::NoPermission));
        QVERIFY(!QFile::exists(target));
        QVERIFY(!downloadErrorText(DownloadError::NoPermission, 0).isEmpty());
    }

    void progressReportsSizeAndRate()
    {
        RouteServer server;
        server.route("/clip.mp4", patternBytes(2 * 1000 * 1000), "video/mp4");
        QTemporaryDir dir;
        Download download;
        QList<DownloadProgress> seen;
        connect(&download, &Download::progress, [&](const DownloadProgress &p) { seen << p; });
        QSignalSpy done(&download, &Download::finished);
        download.start(server.url("/clip.mp4"), dir.filePath("v.mp4"));
        QVERIFY(done.wait(10000));
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen.last().done, 2000000);
        QCOMPARE(seen.last().total, 2000000);
        for (const DownloadProgress &p : seen)
            QVERIFY(p.done <= p.total && p.done >= 0);
    }
};

QTEST_GUILESS_MAIN(TestDownload)
#include "test_download.moc"
