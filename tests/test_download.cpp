// The downloader on the loopback server: complete files, redirects, failures that leave no
// final file, resume with Range, a server that ignores Range, stall, cancel.
#include "download/download.h"
#include "download/download_text.h"
#include "download/video_name.h"
#include "net/fetch.h"
#include "fixtures.h"
#include "part_file.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A small MP4 (ftyp, mdat) or FLV (header, one video tag); "cut": the mdat box or the tag
// claims more bytes than the file holds.
QByteArray framedVideo(const QByteArray &kind)
{
    const bool cut = kind.endsWith("cut");
    const QByteArray data = patternBytes(5000);
    const auto be = [](quint64 n, int bytes) {
        QByteArray out;
        for (int i = bytes - 1; i >= 0; --i)
            out += char((n >> (8 * i)) & 0xff);
        return out;
    };
    if (kind.startsWith("mp4"))
        return be(16, 4) + "ftypisom" + be(0, 4) + be(8 + data.size() + (cut ? 4000 : 0), 4) + "mdat" + data;
    return QByteArray("FLV\x01\x05", 5) + be(9, 4) + be(0, 4) + char(9) + be(data.size() + (cut ? 4000 : 0), 3) +
        be(0, 7) + data + (cut ? QByteArray() : be(11 + data.size(), 4));
}

struct Outcome {
    DownloadError error = DownloadError::None;
    int status = 0;
};

// Runs one download to its end (or cancels it after the first progress when asked).
Outcome run(const QString &url, const QString &target, bool cancelEarly = false,
    Download::Options options = Download::Options())
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
    download.start(url, target, options);
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
        QTest::addColumn<int>("error");             // DownloadError
        QTest::addColumn<bool>("saved");            // the target holds the whole clip
        QTest::addColumn<QByteArray>("oldTarget");  // a file already at the target
        QTest::addColumn<QByteArray>("oldPart");    // a part file left from an earlier try
        const int none = int(DownloadError::None);
        QTest::newRow("complete") << "/clip.mp4" << none << true << QByteArray() << QByteArray();
        QTest::newRow("replaces an older file") << "/clip.mp4" << none << true << QByteArray("old") << QByteArray();
        QTest::newRow("no length, ends with the connection")
            << "/nolength.mp4" << none << true << QByteArray() << QByteArray();
        QTest::newRow("redirect, then the file") << "/redirect" << none << true << QByteArray() << QByteArray();
        QTest::newRow("resumes a part with Range") << "/clip.mp4" << none << true << QByteArray() << QByteArray("PART");
        QTest::newRow("server ignores Range: starts over")
            << "/norange.mp4" << none << true << QByteArray() << QByteArray("XXXX");
        QTest::newRow("part already whole") << "/clip.mp4" << none << true << QByteArray() << QByteArray("WHOLE");
        QTest::newRow("redirect to file:")
            << "/to-file" << int(DownloadError::NotWeb) << false << QByteArray("old") << QByteArray();
        QTest::newRow("redirect loop") << "/loop" << int(DownloadError::TooManyRedirects) << false << QByteArray()
                                       << QByteArray();
        QTest::newRow("404") << "/missing.mp4" << int(DownloadError::HttpStatus) << false << QByteArray("old")
                             << QByteArray();
        QTest::newRow("dropped mid-body")
            << "/dropped.mp4" << int(DownloadError::ConnectionLost) << false << QByteArray("old") << QByteArray();
        QTest::newRow("stalled") << "/stalled.mp4" << int(DownloadError::TimedOut) << false << QByteArray("old")
                                 << QByteArray();
        QTest::newRow("larger than the free space")
            << "/huge.mp4" << int(DownloadError::DiskFull) << false << QByteArray("old") << QByteArray();
        QTest::newRow("refused") << "refused" << int(DownloadError::ConnectFailed) << false << QByteArray()
                                 << QByteArray();
        QTest::newRow("not a web link") << "file:///etc/passwd" << int(DownloadError::NotWeb) << false << QByteArray()
                                        << QByteArray();
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
        QString url = server.url(route.toUtf8());
        if (route == "refused")
            url = QStringLiteral("http://127.0.0.1:1/clip.mp4");
        else if (route.startsWith("file:"))
            url = route;
        if (!part.isEmpty())
            writeFile(Download::partPath(target), part);
        if (oldPart == "PART" || oldPart == "WHOLE")
            partfile::writeControl(Download::controlPath(target), {url, {}, body.size()});
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
            QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList {"视频 1.mp4"});
        }
    }

    // A download hands over exactly the video or fails, and writes only its own files.
    void exactlyTheVideo_data()
    {
        QTest::addColumn<QByteArray>("answer");  // what the server does
        QTest::addColumn<QByteArray>("before");  // what lies beside the target before
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("saved");    // "new", or "none": no target file
        QTest::addColumn<QByteArray>("ifRange");  // the If-Range header sent, "-" for none
        const int none = int(DownloadError::None);
        QTest::newRow("changed file on resume (ETag)")
            << QByteArray("etag") << QByteArray("old part, etag") << none << QByteArray("new") << QByteArray("\"old\"");
        QTest::newRow("changed file on resume (Last-Modified)")
            << QByteArray("modified") << QByteArray("old part, date") << none << QByteArray("new")
            << QByteArray("Mon, 01 Jan 2024 00:00:00 GMT");
        QTest::newRow("part from another link")
            << QByteArray("plain") << QByteArray("other link's part") << none << QByteArray("new") << QByteArray("-");
        QTest::newRow("symlinked part, 200")
            << QByteArray("plain") << QByteArray("symlink part") << int(DownloadError::NotRegularFile)
            << QByteArray("none") << QByteArray("-");
        QTest::newRow("symlinked part, 206")
            << QByteArray("etag") << QByteArray("symlink part, etag") << int(DownloadError::NotRegularFile)
            << QByteArray("none") << QByteArray("-");
        QTest::newRow("FIFO part") << QByteArray("plain") << QByteArray("fifo part")
                                   << int(DownloadError::NotRegularFile) << QByteArray("none") << QByteArray("-");
        QTest::newRow("symlinked target")
            << QByteArray("plain") << QByteArray("symlink target") << int(DownloadError::NotRegularFile)
            << QByteArray("none") << QByteArray("-");
        QTest::newRow("416, part complete") << QByteArray("etag") << QByteArray("whole part, etag") << none
                                            << QByteArray("new") << QByteArray("\"new\"");
        QTest::newRow("416, part larger than the file") << QByteArray("etag") << QByteArray("long part, etag") << none
                                                        << QByteArray("new") << QByteArray("\"new\"");
        QTest::newRow("206 bytes 0- to a GET")
            << QByteArray("206 whole") << QByteArray() << none << QByteArray("new") << QByteArray("-");
        QTest::newRow("broken chunk size zz")
            << QByteArray("chunk zz") << QByteArray() << int(DownloadError::Incomplete) << QByteArray("none")
            << QByteArray("-");
        // Qt ends this answer short, as closed, or waits for more until the stall timeout.
        QTest::newRow("broken chunk size -10")
            << QByteArray("chunk -10") << QByteArray() << int(DownloadError::Incomplete) << QByteArray("none")
            << QByteArray("-");
        QTest::newRow("shorter than its total")
            << QByteArray("short total") << QByteArray() << int(DownloadError::Incomplete) << QByteArray("none")
            << QByteArray("-");
        QTest::newRow("trickle below the low-speed limit")
            << QByteArray("trickle") << QByteArray() << int(DownloadError::TooSlow) << QByteArray("none")
            << QByteArray("-");
        // No length and no ranges to ask with: the video's own framing tells a cut file.
        QTest::newRow("MP4 of unknown length, whole")
            << QByteArray("mp4 whole") << QByteArray() << none << QByteArray("new") << QByteArray("-");
        QTest::newRow("MP4 of unknown length, box past the end")
            << QByteArray("mp4 cut") << QByteArray() << int(DownloadError::Incomplete) << QByteArray("none")
            << QByteArray("-");
        QTest::newRow("FLV of unknown length, whole")
            << QByteArray("flv whole") << QByteArray() << none << QByteArray("new") << QByteArray("-");
        QTest::newRow("FLV of unknown length, last tag cut")
            << QByteArray("flv cut") << QByteArray() << int(DownloadError::Incomplete) << QByteArray("none")
            << QByteArray("-");
    }
    void exactlyTheVideo()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, before);
        QFETCH(int, error);
        QFETCH(QByteArray, saved);
        QFETCH(QByteArray, ifRange);
        const QByteArray oldBody = patternBytes(1300 * 1024).mid(7);
        const bool video = answer.startsWith("mp4") || answer.startsWith("flv");
        const QByteArray body = video ? framedVideo(answer) : patternBytes(1300 * 1024);
        HttpServer server;
        server.listen();
        server.setHandler([&](const HttpRequest &) {
            HttpResponse r = HttpResponse::text(body, "video/mp4");
            if (answer == "etag")
                r.headers.append({QByteArray("ETag"), QByteArray("\"new\"")});
            else if (answer == "modified")
                r.headers.append({QByteArray("Last-Modified"), QByteArray("Tue, 02 Jan 2024 00:00:00 GMT")});
            else if (answer == "206 whole")
                r.raw = "HTTP/1.1 206 Partial Content\r\nContent-Type: video/mp4\r\nContent-Range: bytes 0-" +
                    QByteArray::number(body.size() - 1) + "/" + QByteArray::number(body.size()) +
                    "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
            else if (answer.startsWith("chunk "))
                r.chunked = true, r.brokenChunkAt = 1024 * 1024, r.brokenChunkSize = answer.mid(6);
            else if (answer == "short total")
                r.raw =
                    "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-99999/200000\r\nContent-Length: 100000\r\n\r\n" +
                    body.left(100000);
            else if (answer == "trickle")
                r = HttpResponse::text(body.left(5000), "video/mp4"), r.trickleMs = 5;
            else if (video)
                r.omitLength = true, r.ignoreRange = true;
            return r;
        });
        const QString url = server.base() + "/v.mp4";
        QTemporaryDir dir;
        const QString target = dir.filePath("v.mp4");
        const QString part = Download::partPath(target);
        const QString outside = dir.filePath("outside.txt");
        writeFile(outside, "not a video");
        if (before.startsWith("old part") || before.startsWith("other link") || before.startsWith("whole part") ||
            before.startsWith("long part"))
            writeFile(part,
                before.startsWith("whole")      ? body
                    : before.startsWith("long") ? body + "xyz"
                                                : oldBody.left(400000));
        if (before.startsWith("symlink part"))
            QVERIFY(QFile::link(outside, part));
        if (before == "symlink target")
            QVERIFY(QFile::link(outside, target));
        if (before == "fifo part")
            QCOMPARE(mkfifo(QFile::encodeName(part).constData(), 0644), 0);
        partfile::Control control {before.startsWith("other link") ? url + "?other" : url, {}, -1};
        control.validator = before.endsWith("etag") ? (before.startsWith("old") ? "\"old\"" : "\"new\"")
            : before.endsWith("date")               ? "Mon, 01 Jan 2024 00:00:00 GMT"
                                                    : "";
        control.total = before.startsWith("long") ? body.size() + 3 : body.size();
        if (!before.isEmpty() && before != "fifo part" && before != "symlink target")
            partfile::writeControl(Download::controlPath(target), control);
        fetch::setLowSpeed(1024, 1);
        const Outcome outcome = run(url, target);
        fetch::setLowSpeed(0, 0);

        if (answer == "chunk -10" &&
            (outcome.error == DownloadError::TimedOut || outcome.error == DownloadError::ConnectionLost))
            QCOMPARE(error, int(DownloadError::Incomplete));  // cut short all the same
        else
            QCOMPARE(int(outcome.error), error);
        QCOMPARE(contents(outside), QByteArray("not a video"));
        const QByteArray sent =
            server.requests().isEmpty() ? QByteArray() : server.requests().first().header("if-range");
        QCOMPARE(sent.isEmpty() ? QByteArray("-") : sent, ifRange);
        if (saved == "new") {
            QVERIFY(contents(target) == body);
            QVERIFY(!QFile::exists(part) && !QFile::exists(Download::controlPath(target)));
        } else if (before != "symlink target") {
            QVERIFY(!QFile::exists(target));
        }
        if (answer.startsWith("chunk "))
            QVERIFY(contents(part) == body.left(1024 * 1024));  // kept for a later resume
        if (answer.endsWith(" cut"))
            QVERIFY(contents(part) == body);
        if (before == "fifo part")
            QVERIFY(QFileInfo(part).isSymLink() || !QFileInfo(part).isFile());
    }

    // One writer per part: while another download holds the part's lock, nothing is written
    // or truncated; the lock is tried again until the stall timeout, then "busy".
    void oneWriterPerPart_data()
    {
        QTest::addColumn<int>("releaseAfterMs");  // -1: held throughout
        QTest::addColumn<int>("error");
        QTest::newRow("held throughout: busy") << -1 << int(DownloadError::Busy);
        QTest::newRow("released meanwhile: saved") << 250 << int(DownloadError::None);
    }
    void oneWriterPerPart()
    {
        QFETCH(int, releaseAfterMs);
        QFETCH(int, error);
        const QByteArray body = patternBytes(100000);
        RouteServer server;
        server.route("/clip.mp4", body, "video/mp4");
        QTemporaryDir dir;
        const QString target = dir.filePath("v.mp4");
        writeFile(Download::partPath(target), "another download's part");
        const int held = partfile::openForWrite(Download::partPath(target), false);
        QVERIFY(held >= 0);
        QCOMPARE(partfile::tryLock(held), 0);
        if (releaseAfterMs >= 0)
            QTimer::singleShot(releaseAfterMs, [held] { ::close(held); });
        const Outcome outcome = run(server.url("/clip.mp4"), target);
        QCOMPARE(int(outcome.error), error);
        if (releaseAfterMs < 0) {
            QCOMPARE(contents(Download::partPath(target)), QByteArray("another download's part"));
            QVERIFY(!QFile::exists(target));
            QVERIFY(server.requests().isEmpty());
            ::close(held);
        } else {
            QVERIFY(contents(target) == body);
            QCOMPARE(partfile::originOf(target).url, server.url("/clip.mp4"));
        }
    }

    // A full disk: reported as such, the part keeps every byte written correctly and stops
    // growing. A 1 MiB file system when mounting works, else a file size limit on the process.
    void diskFull_data()
    {
        QTest::addColumn<qint64>("partBefore");
        QTest::newRow("endless chunked body") << qint64(0);
        QTest::newRow("during a resume") << qint64(300000);
    }
    void diskFull()
    {
        QFETCH(qint64, partBefore);
        const QByteArray body = patternBytes(4 * 1024 * 1024);
        RouteServer server;
        HttpResponse endless = HttpResponse::text(QByteArray(), "video/mp4");
        endless.source = [&body](qint64 offset, qint64 length) { return body.mid(offset % (1024 * 1024), length); };
        endless.sourceSize = qint64(1) << 40;
        endless.chunked = true;
        server.route("/endless.mp4", endless);
        server.route("/v.mp4", body, "video/mp4");
        QTemporaryDir dir;
        const bool mounted = ::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", 0, "size=1m") == 0;
        rlimit old {};
        if (!mounted) {
            std::signal(SIGXFSZ, SIG_IGN);
            getrlimit(RLIMIT_FSIZE, &old);
            rlimit small = old;
            small.rlim_cur = 1024 * 1024;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        const QString target = dir.filePath("v.mp4");
        const QString url = server.url(partBefore > 0 ? "/v.mp4" : "/endless.mp4");
        if (partBefore > 0) {
            writeFile(Download::partPath(target), body.left(partBefore));
            partfile::writeControl(Download::controlPath(target), {url, {}, body.size()});
        }
        const Outcome outcome = run(url, target);
        const qint64 size = QFileInfo(Download::partPath(target)).size();
        QTest::qWait(300);
        const QByteArray kept = contents(Download::partPath(target));
        if (mounted)
            ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
        else
            setrlimit(RLIMIT_FSIZE, &old);

        QCOMPARE(int(outcome.error), int(DownloadError::DiskFull));
        QCOMPARE(downloadErrorText(DownloadError::DiskFull, 0), QStringLiteral("磁盘空间不足"));
        QVERIFY(size > 0 && size >= partBefore);
        QCOMPARE(kept.size(), size);
        QVERIFY(kept == (partBefore > 0 ? body.left(size) : QByteArray(body.left(1024 * 1024).repeated(2).left(size))));
    }

    // Whatever a page puts in a name, it stays one file name that any file system takes.
    void safeFileNames_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("withExtension");
        QTest::addColumn<QString>("name");
        const QString cjk = QString(300, QChar(0x6d77));  // 海 × 300: 900 bytes
        QTest::newRow("..") << ".." << false << "_";
        QTest::newRow(". ..") << ". .." << false << "_";
        QTest::newRow("/") << "/" << false << "_";
        QTest::newRow("a path") << "../../etc/passwd" << false << "_.._etc_passwd";
        QTest::newRow("NUL inside") << QString("a") + QChar(0) + "b" << false << "a_b";
        QTest::newRow("a right-to-left override dropped")
            << QString("photo") + QChar(0x202E) + "4pm.exe" << true << "photo4pm.exe";
        QTest::newRow("a name that reads as an option") << "-rf.mp4" << true << "_rf.mp4";
        QTest::newRow("300 Chinese characters") << cjk << false << QString(80, QChar(0x6d77));
        QTest::newRow("300 Chinese characters, extension kept")
            << cjk + ".mp4" << true << QString(78, QChar(0x6d77)) + ".mp4";
        QTest::newRow("CON") << "CON" << false << "_CON";
        QTest::newRow("nul.mp4") << "nul.mp4" << true << "_nul.mp4";
        QTest::newRow("COM1 inside a name") << "COM1 clip" << false << "COM1 clip";
        QTest::newRow("a trailing dot and space") << "海边. " << false << "海边";
        QTest::newRow("what Windows refuses") << "a<b>c:d\"e|f?g*h" << false << "a_b_c_d_e_f_g_h";
    }
    void safeFileNames()
    {
        QFETCH(QString, value);
        QFETCH(bool, withExtension);
        QFETCH(QString, name);
        QCOMPARE(safeFileName(value, withExtension), name);
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
