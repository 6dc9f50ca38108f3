// A file fetched on several connections: ranges assembled byte-exact whatever the server does
// to them, a part resumed after kill -9 from what was recorded only, a full disk, the rate limit.
#include "download/download.h"
#include "net/fetch.h"
#include "net/host_slots.h"
#include "net/rate_limit.h"
#include "net/request_pace.h"
#include "fixtures.h"
#include "part_file.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {

constexpr qint64 MiB = qint64(1024) * 1024;

struct Run {
    DownloadError error = DownloadError::None;
    int connections = 0;
    qint64 ms = 0;
};

Run download(const QString &url, const QString &target, Download::Options options = {})
{
    Download d;
    Run run;
    QEventLoop loop;
    QElapsedTimer clock;
    QObject::connect(&d, &Download::finished, &loop, [&](DownloadError e) {
        run.error = e;
        loop.quit();
    });
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    clock.start();
    d.start(url, target, options);
    loop.exec();
    run.ms = clock.elapsed();
    run.connections = d.mostConnections();
    return run;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The byte ranges asked for with Range, as [from, to).
QList<partfile::ByteRange> askedRanges(const QList<HttpRequest> &requests)
{
    QList<partfile::ByteRange> out;
    for (const HttpRequest &r : requests) {
        const QList<QByteArray> parts = r.header("range").mid(6).split('-');
        if (parts.size() == 2)
            out.append({parts[0].toLongLong(), parts[1].isEmpty() ? -1 : parts[1].toLongLong() + 1});
    }
    return out;
}

}  // namespace

class TestRanges : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        fetch::setTimeout(5000);
        fetch::setConnectionsPerHost(fetch::DefaultConnectionsPerHost);
        fetch::setRateLimit(0);
    }

    // Each fault of one connection ends that connection only; the file is byte-exact.
    void assembled_data()
    {
        QTest::addColumn<QByteArray>("fault");
        QTest::addColumn<int>("leastConnections");  // the most open at once, at least
        QTest::newRow("no fault") << QByteArray() << 4;
        QTest::newRow("a range answered 200, not 206") << QByteArray("200 once") << 2;
        QTest::newRow("the file changed mid-way") << QByteArray("changed") << 1;
        QTest::newRow("a range's connection reset") << QByteArray("reset") << 2;
        // --retries 0: a connection that breaks is not opened again; the part is kept.
        QTest::newRow("a range's connection reset, no reconnecting") << QByteArray("reset, no reconnecting") << 2;
        QTest::newRow("ranges no longer honoured") << QByteArray("no ranges") << 2;
        QTest::newRow("503 on the second connection") << QByteArray("503") << 1;
        QTest::newRow("one connection per host") << QByteArray("one") << 1;
    }
    void assembled()
    {
        QFETCH(QByteArray, fault);
        QFETCH(int, leastConnections);
        const QByteArray first = patternBytes(16 * MiB);
        const QByteArray changed = patternBytes(16 * MiB + 3).mid(3);
        int ranged = 0;
        HttpServer server;
        QVERIFY(server.listen());
        server.setHandler([&](const HttpRequest &r) {
            const bool isRange = !r.header("range").isEmpty();
            ranged += isRange ? 1 : 0;
            const bool newFile = fault == "changed" && ranged >= 2;
            HttpResponse answer = HttpResponse::text(newFile ? changed : first, "video/mp4");
            answer.headers = {{"ETag", newFile ? "\"b\"" : "\"a\""}};
            answer.bytesPerSecond = 16 * MiB;
            if (isRange && ranged == 1 && fault == "200 once")
                answer.ignoreRange = true;
            if (isRange && ranged >= 2 && fault == "no ranges")
                answer.ignoreRange = true;
            if (isRange && ranged == 1 && fault.startsWith("reset"))
                answer.closeAfter = 300000;
            if (isRange && ranged == 1 && fault == "503")
                answer = HttpResponse::text("busy"), answer.status = 503;
            return answer;
        });
        if (fault == "one")
            fetch::setConnectionsPerHost(1);
        QTemporaryDir dir;
        const QString target = dir.filePath("v.mp4");
        Download::Options options;
        options.reconnect = fault != "reset, no reconnecting";
        const Run run = download(server.base() + "/v.mp4", target, options);
        if (!options.reconnect) {
            QCOMPARE(int(run.error), int(DownloadError::ConnectionLost));
            QVERIFY(QFile::exists(Download::partPath(target)));
            return;
        }
        QCOMPARE(int(run.error), int(DownloadError::None));
        QVERIFY(contents(target) == (fault == "changed" ? changed : first));
        QVERIFY(!QFile::exists(Download::partPath(target)) && !QFile::exists(Download::controlPath(target)));
        QVERIFY2(run.connections >= leastConnections, qPrintable(QString::number(run.connections)));
        if (fault == "one")
            QCOMPARE(ranged, 0);
    }

    // Killed with three ranges running: the next download asks only for what was not
    // recorded, and the file is exact. A build that reads only the older control format
    // refuses the new one (it starts over instead of taking the reserved length as whole).
    void resumesAfterKill()
    {
        const QByteArray body = patternBytes(16 * MiB);
        HttpServer server;
        QVERIFY(server.listen());
        server.setHandler([&](const HttpRequest &) {
            HttpResponse answer = HttpResponse::text(body, "video/mp4");
            answer.headers = {{"Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT"}};
            answer.bytesPerSecond = 1 * MiB;
            return answer;
        });
        QTemporaryDir dir;
        const QString target = dir.filePath("v.mp4");
        const QString url = server.base() + "/v.mp4";
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--download", url, target, "3"});
        QVERIFY(child.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(partfile::readRangeControl(Download::controlPath(target)).has_value() &&
                partfile::readRangeControl(Download::controlPath(target))->done.bytes() > 0,
            20000);
        QCOMPARE(askedRanges(server.requests()).size(), 2);  // the first answer and two ranges
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished();
        const partfile::RangeControl recorded = *partfile::readRangeControl(Download::controlPath(target));
        QVERIFY(recorded.done.bytes() < body.size());
        QVERIFY(!partfile::readControl(Download::controlPath(target)).has_value());

        server.clearRequests();
        QCOMPARE(int(download(url, target).error), int(DownloadError::None));
        QVERIFY(contents(target) == body);
        for (const partfile::ByteRange &asked : askedRanges(server.requests())) {
            for (const partfile::ByteRange &had : recorded.done.ranges())
                QVERIFY2(asked.to <= had.from || asked.from >= had.to, "a recorded range was fetched again");
        }
    }

    // The disk fills up while ranges run: reported, and the part with its last record kept
    // for a later resume.
    void diskFullKeepsThePart()
    {
        const QByteArray body = patternBytes(10 * MiB);
        HttpServer server;
        QVERIFY(server.listen());
        server.setHandler([&](const HttpRequest &) {
            HttpResponse answer = HttpResponse::text(body, "video/mp4");
            answer.headers = {{"ETag", "\"a\""}};
            answer.bytesPerSecond = 2 * MiB;
            return answer;
        });
        QTemporaryDir dir;
        if (::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", 0, "size=16m") != 0)
            QSKIP("needs to mount a small file system");
        const QString target = dir.filePath("v.mp4");
        Download d;
        std::optional<DownloadError> error;
        connect(&d, &Download::finished, this, [&](DownloadError e) { error = e; });
        bool filled = false;
        connect(&d, &Download::progress, this, [&](const DownloadProgress &p) {
            if (p.done > MiB && !filled) {
                filled = true;
                QFile filler(dir.filePath("filler"));
                if (filler.open(QIODevice::WriteOnly)) {
                    const QByteArray block(qsizetype(64) * 1024, 'x');
                    while (filler.write(block) == block.size() && filler.flush()) {}
                }
            }
        });
        d.start(server.base() + "/v.mp4", target);
        QTRY_VERIFY_WITH_TIMEOUT(error.has_value(), 30000);
        const QByteArray part = contents(Download::partPath(target));
        const std::optional<partfile::RangeControl> kept = partfile::readRangeControl(Download::controlPath(target));
        ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
        QCOMPARE(int(*error), int(DownloadError::DiskFull));
        QVERIFY(kept.has_value());
        // The part ends after its last recorded range: what was reserved past it is given back.
        QCOMPARE(part.size(), kept->done.ranges().isEmpty() ? 0 : kept->done.ranges().constLast().to);
        for (const partfile::ByteRange &r : kept->done.ranges())
            QVERIFY(part.mid(r.from, r.to - r.from) == body.mid(r.from, r.to - r.from));
    }

    // Servers that lie to every request: a whole file sent again to each range and cut after
    // 1,000 bytes, 3 GiB claimed and ranges refused, or every range honoured and its connection
    // reset after 16 bytes. The download fails after a few
    // requests, never a storm, and the part holds no more blocks than its recorded bytes need.
    void hostileServer_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<int>("rangeStatus");  // 200: the whole file again; else that status
        QTest::addColumn<int>("mostRequests");
        QTest::addColumn<int>("error");
        QTest::newRow("every request a whole file cut short")
            << qint64(20000000) << 200 << 12 << int(DownloadError::ConnectionLost);
        QTest::newRow("3 GiB claimed, ranges refused")
            << qint64(3) * 1024 * MiB << 404 << 8 << int(DownloadError::HttpStatus);
        QTest::newRow("every connection reset after 16 bytes")
            << qint64(16) * MiB << 206 << 12 << int(DownloadError::ConnectionLost);
    }
    void hostileServer()
    {
        QFETCH(qint64, size);
        QFETCH(int, rangeStatus);
        QFETCH(int, mostRequests);
        QFETCH(int, error);
        fetch::forgetFruitlessRequests();
        fetch::setTimeout(30000);  // the pauses between requests are no stall
        HttpServer server;
        QVERIFY(server.listen());
        server.setHandler([&](const HttpRequest &r) {
            if (!r.header("range").isEmpty() && rangeStatus == 404)
                return HttpResponse::notFound();
            HttpResponse answer = HttpResponse::filled(size, 'v', "video/mp4");
            answer.headers = {{"ETag", "\"a\""}};
            if (rangeStatus == 200) {
                answer.ignoreRange = true;
                answer.headers.append(qMakePair(QByteArray("Accept-Ranges"), QByteArray("bytes")));
            }
            answer.closeAfter = rangeStatus == 206 ? 16 : 1000;
            if (rangeStatus == 206 && r.header("range").isEmpty())
                answer.trickleMs = 100;  // the first answer lasts long enough for the ranges to start beside it
            return answer;
        });
        QTemporaryDir dir;
        struct statvfs disk {};
        QVERIFY(::statvfs(QFile::encodeName(dir.path()).constData(), &disk) == 0);
        if (qint64(disk.f_bavail) * qint64(disk.f_frsize) < size + 1024 * MiB)
            QSKIP("needs the claimed size free on the disk");
        const QString target = dir.filePath("v.mp4");
        const Run run = download(server.base() + "/v.mp4", target);
        qInfo("%d requests in %lld ms", int(server.requests().size()), run.ms);
        QCOMPARE(int(run.error), error);
        QVERIFY2(server.requests().size() <= mostRequests, qPrintable(QString::number(server.requests().size())));
        if (rangeStatus == 206)
            return;  // a few bytes at a few places
        struct stat part {};
        QVERIFY(::stat(QFile::encodeName(Download::partPath(target)).constData(), &part) == 0);
        QVERIFY2(qint64(part.st_blocks) * 512 <= 64 * MiB, qPrintable(QString::number(part.st_blocks)));
        QCOMPARE(qint64(part.st_size), qint64(1000));  // up to the last recorded byte
        QCOMPARE(partfile::readRangeControl(Download::controlPath(target))->total, size);
    }

    // A part of ranges resumed when the server no longer honours ranges: the whole file comes
    // again from byte 0, and the progress counts each byte once (never above the total).
    void resumedPartAnsweredWhole()
    {
        const QByteArray body = patternBytes(16 * MiB);
        HttpServer server;
        QVERIFY(server.listen());
        server.setHandler([&](const HttpRequest &) {
            HttpResponse answer = HttpResponse::text(body, "video/mp4");
            answer.headers = {{"ETag", "\"a\""}};
            answer.ignoreRange = true;
            return answer;
        });
        QTemporaryDir dir;
        const QString target = dir.filePath("v.mp4");
        const QString url = server.base() + "/v.mp4";
        QFile part(Download::partPath(target));
        QVERIFY(part.open(QIODevice::WriteOnly));
        part.write(body.left(12 * MiB));
        part.close();
        partfile::RangeControl control {url, "\"a\"", body.size(), "video/mp4", {}};
        control.done.add(0, 12 * MiB);
        QVERIFY(partfile::writeRangeControl(Download::controlPath(target), control));
        Download d;
        qint64 most = 0;
        std::optional<DownloadError> error;
        connect(&d, &Download::progress, this, [&](const DownloadProgress &p) { most = qMax(most, p.done); });
        connect(&d, &Download::finished, this, [&](DownloadError e) { error = e; });
        d.start(url, target);
        QTRY_VERIFY_WITH_TIMEOUT(error.has_value(), 30000);
        QCOMPARE(int(*error), int(DownloadError::None));
        QVERIFY(contents(target) == body);
        QCOMPARE(most, body.size());
    }

    // All connections together stay under the limit (a lower bound on the time only).
    void rateLimit_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QByteArray>("etag");
        QTest::newRow("one connection") << qint64(640 * 1024) << QByteArray();
        QTest::newRow("ranges") << 8 * MiB << QByteArray("\"a\"");
    }
    void rateLimit()
    {
        QFETCH(qint64, size);
        QFETCH(QByteArray, etag);
        const QByteArray body = patternBytes(size);
        HttpServer server;
        QVERIFY(server.listen());
        server.setHandler([&](const HttpRequest &) {
            HttpResponse answer = HttpResponse::text(body, "video/mp4");
            if (!etag.isEmpty())
                answer.headers = {{"ETag", etag}};
            return answer;
        });
        const qint64 limit = size / 2;  // two seconds' worth
        QCOMPARE(fetch::parseRate(QString::number(limit / 1024) + "K"), limit);
        fetch::setRateLimit(limit);
        QTemporaryDir dir;
        const Run run = download(server.base() + "/v.mp4", dir.filePath("v.mp4"));
        fetch::setRateLimit(0);
        QCOMPARE(int(run.error), int(DownloadError::None));
        QVERIFY(contents(dir.filePath("v.mp4")) == body);
        QVERIFY2(run.ms >= 1700, qPrintable(QString::number(run.ms)));
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 5 && args[1] == u"--download") {
        // The process the test kills: a download on args[4] connections.
        fetch::setConnectionsPerHost(args[4].toInt());
        Download d;
        QObject::connect(&d, &Download::finished, &app, [] { QCoreApplication::exit(1); });
        d.start(args[2], args[3]);
        return app.exec();
    }
    TestRanges test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_ranges.moc"
