// The download list's queue on the loopback server: how many run at once and in which order,
// and what pause, resume, cancel and retry do to a running or a waiting download.
#include "download/download_queue.h"
#include "fixtures.h"
#include "net/fetch.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

using State = DownloadQueue::State;

const QByteArray Body = patternBytes(300 * 1024);

// Serves Body at /0, /1, ... at 600 KB/s (half a second each); a path in failFirst answers
// 404 to its first request; one in breakFirst breaks off its first answer halfway.
struct Server {
    HttpServer http;
    QSet<QByteArray> failFirst, breakFirst;
    QHash<QByteArray, int> asked;
    Server()
    {
        http.listen();
        http.setHandler([this](const HttpRequest &request) {
            const int n = ++asked[request.path()];
            if (n == 1 && failFirst.contains(request.path()))
                return HttpResponse::notFound();
            HttpResponse r = HttpResponse::text(Body, "video/mp4");
            r.bytesPerSecond = 600 * 1024;
            if (n == 1 && breakFirst.contains(request.path()))
                r.closeAfter = Body.size() / 2;
            return r;
        });
    }
};

QByteArray contents(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool settled(const DownloadQueue &queue, qint64 id)
{
    const State s = queue.item(id)->state;
    return s != State::Waiting && s != State::Running;
}

}  // namespace

class TestQueue : public QObject {
    Q_OBJECT
private slots:
    void init() { fetch::setTimeout(5000); }
    void cleanup() { fetch::setTimeout(0); }

    void capAndOrder_data()
    {
        QTest::addColumn<int>("limit");
        QTest::newRow("one at a time") << 1;
        QTest::newRow("two (the default)") << 2;
        QTest::newRow("more than there are") << 5;
    }
    void capAndOrder()
    {
        QFETCH(int, limit);
        Server server;
        QTemporaryDir dir;
        DownloadQueue queue;
        queue.setLimit(limit);
        int most = 0;
        QList<qint64> started;
        connect(&queue, &DownloadQueue::changed, this, [&](qint64 id) {
            most = qMax(most, queue.running());
            if (queue.item(id)->state == State::Running)
                started << id;
        });
        for (qint64 id = 1; id <= 4; ++id)
            queue.add(
                id, server.http.base() + "/" + QString::number(id), dir.filePath(QString::number(id) + ".mp4"), {});
        QTRY_VERIFY_WITH_TIMEOUT(queue.unfinished() == 0, 20000);
        QCOMPARE(most, qMin(limit, 4));
        QCOMPARE(started, (QList<qint64> {1, 2, 3, 4}));
        for (qint64 id = 1; id <= 4; ++id) {
            QCOMPARE(int(queue.item(id)->state), int(State::Done));
            QVERIFY(contents(dir.filePath(QString::number(id) + ".mp4")) == Body);
        }
    }

    // Download 1 runs, download 2 waits behind it (one at a time); the action is applied to
    // one of them, then the follow-up, and each must end as the row says.
    void controls_data()
    {
        QTest::addColumn<qint64>("target");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("afterAction");
        QTest::addColumn<bool>("partKept");
        QTest::addColumn<QString>("followUp");
        QTest::addColumn<int>("atEnd");
        QTest::newRow("pause running, resume")
            << 1LL << "pause" << int(State::Paused) << true << "resume" << int(State::Done);
        QTest::newRow("pause waiting, resume")
            << 2LL << "pause" << int(State::Paused) << false << "resume" << int(State::Done);
        QTest::newRow("cancel running, retry")
            << 1LL << "cancel" << int(State::Cancelled) << false << "retry" << int(State::Done);
        QTest::newRow("cancel waiting") << 2LL << "cancel" << int(State::Cancelled) << false << ""
                                        << int(State::Cancelled);
        QTest::newRow("failed, retry") << 1LL << "fail" << int(State::Failed) << false << "retry" << int(State::Done);
        QTest::newRow("broken off, retried by itself")
            << 1LL << "break" << int(State::Done) << false << "" << int(State::Done);
    }
    void controls()
    {
        QFETCH(qint64, target);
        QFETCH(QString, action);
        QFETCH(int, afterAction);
        QFETCH(bool, partKept);
        QFETCH(QString, followUp);
        QFETCH(int, atEnd);
        Server server;
        if (action == u"fail")
            server.failFirst << "/1";
        if (action == u"break")
            server.breakFirst << "/1";
        QTemporaryDir dir;
        DownloadQueue queue;
        queue.setLimit(1);
        queue.setRetry({3, 50});
        const QString file = dir.filePath(QString::number(target) + ".mp4");
        for (qint64 id = 1; id <= 2; ++id)
            queue.add(
                id, server.http.base() + "/" + QString::number(id), dir.filePath(QString::number(id) + ".mp4"), {});
        if (action == u"pause" || action == u"cancel") {
            // The running one has written something before it is stopped.
            QTRY_VERIFY(queue.item(1)->progress.done > 0);
            action == u"pause" ? queue.pause(target) : queue.cancel(target);
            QTRY_VERIFY(queue.item(target)->state != State::Running);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(settled(queue, target), 10000);
        }
        QCOMPARE(int(queue.item(target)->state), afterAction);
        QCOMPARE(QFile::exists(Download::partPath(file)), partKept);
        if (followUp == u"resume")
            queue.resume(target);
        else if (followUp == u"retry")
            queue.retry(target);
        QTRY_VERIFY_WITH_TIMEOUT(queue.unfinished() == 0, 20000);
        QCOMPARE(int(queue.item(target)->state), atEnd);
        QCOMPARE(contents(file) == Body, atEnd == int(State::Done));
        // The other download is not disturbed by what was done to this one.
        QCOMPARE(int(queue.item(3 - target)->state), int(State::Done));
    }
};

QTEST_GUILESS_MAIN(TestQueue)
#include "test_queue.moc"
