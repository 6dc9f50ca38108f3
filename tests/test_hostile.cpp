// Hostile answers on the loopback server, through the command-line front end and through the
// window (offscreen): every case ends within its time bound and its memory bound, and
// nothing a page names outside the web is ever opened.
#include "net/fetch.h"
#include "fixtures.h"
#include "controls/player_control.h"
#include "window_harness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr int StallMs = 1000;
constexpr int DeadlineMs = 2000;

const QByteArray MeipaiMarkers =
    "data-video=\"<img id=\"video_img\" src=\"class=\"name\">class=\"description br\">class=\"date\">";

QByteArray meipaiPage(const QByteArray &video, const QByteArray &cover, const QByteArray &author)
{
    return "<html><div data-video=\"" + video + "\"><img id=\"video_img\" src=\"" + cover + "\"><a class=\"name\">" +
        author +
        "</a><h1 class=\"description br\">描述</h1>"
        "<div class=\"date\">2015-07-08</div></html>";
}

HttpResponse trickle(const QByteArray &body)
{
    HttpResponse r = HttpResponse::text(body);
    r.trickleMs = 100;  // a byte at a time: never stalls, never ends in time
    return r;
}

// A deflate-encoded answer that inflates to 64 MiB of zeros.
HttpResponse deflateBomb()
{
    static const QByteArray packed = qCompress(QByteArray(64 * MiB, '\0'), 9).mid(4);
    HttpResponse r;
    r.raw = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Encoding: deflate\r\nContent-Length: " +
        QByteArray::number(packed.size()) + "\r\nConnection: close\r\n\r\n" + packed;
    return r;
}

struct Case {
    int site = 1;  // Meipai unless the case needs another site
    QByteArray path = "/media/1";
    std::function<HttpResponse(const HttpRequest &, const QString &base)> answer;
    int megabytes = 0;        // bound on the peak memory of the front end
    bool hugeOutput = false;  // the JSON line is too large to keep: thrown away
};

QString g_fifo;  // a named pipe a page can name as its video

// A hang, not a speed: every case ends in a second or a few (the fetch rule's limits are made
// short here); how fast is measured in bench/.
constexpr qint64 HangLimitMs = 60000;
// The window answering again after this long would be a freeze, not a slow moment.
constexpr qint64 FreezeLimitMs = 5000;

QHash<QString, Case> cases()
{
    QHash<QString, Case> c;
    auto page = [](const QByteArray &body) {
        return [body](const HttpRequest &, const QString &) { return HttpResponse::text(body); };
    };
    auto pageAt = [](std::function<QByteArray(const QString &)> make) {
        return [make](const HttpRequest &r, const QString &base) {
            if (r.path() == "/media/1")
                return HttpResponse::text(make(base).replace("{{FIFO}}", g_fifo.toUtf8()));
            if (r.path().endsWith("/slow.jpg"))
                return trickle(QByteArray(500, 'j'));
            return HttpResponse::notFound();
        };
    };
    c["worst page: six markers, then 0x01 to the limit"] = {
        1, "/media/1", page(MeipaiMarkers + QByteArray(fetch::PageLimit - MeipaiMarkers.size(), '\x01')), 300, true};
    c["64 MiB with length"] = {
        1, "/media/1", [](auto &, auto &) { return HttpResponse::filled(64 * MiB, 'a', "text/html"); }, 120};
    c["64 MiB chunked"] = {1, "/media/1",
        [](auto &, auto &) {
            HttpResponse r = HttpResponse::filled(64 * MiB, 'a', "text/html");
            r.chunked = true;
            return r;
        },
        120};
    c["1 GiB with length"] = {
        1, "/media/1", [](auto &, auto &) { return HttpResponse::filled(1024 * MiB, 'a', "text/html"); }, 120};
    c["1 GiB without length"] = {1, "/media/1",
        [](auto &, auto &) {
            HttpResponse r = HttpResponse::filled(1024 * MiB, 'a', "text/html");
            r.omitLength = true;
            return r;
        },
        120};
    c["deflate bomb"] = {1, "/media/1", [](auto &, auto &) { return deflateBomb(); }, 150};
    c["binary and NUL bytes"] = {
        1, "/media/1", page(QByteArray("\0\x01\xff", 3) + MeipaiMarkers + QByteArray(4096, '\0')), 120};
    c["invalid UTF-8"] = {
        1, "/media/1", page(meipaiPage("http://v/\xff\xc0\x80.mp4", "\xfe\xfe", "\xed\xa0\x80")), 120};
    c["UTF-16 without BOM"] = {1, "/media/1",
        page(QByteArray(
            reinterpret_cast<const char *>(QString::fromUtf8(meipaiPage("http://v/1.mp4", "c", "作者")).utf16()),
            2 * 200)),
        120};
    c["markers at the very end"] = {1, "/media/1", page("<html>" + MeipaiMarkers), 120};
    c["a marker repeated a million times"] = {1, "/media/1", page(QByteArray("data-video=").repeated(1000000)), 200};
    c["a 10 MB single line"] = {1, "/media/1",
        page(QByteArray(5 * 1000 * 1000, 'a') + meipaiPage("http://v/1.mp4", "c", "a") +
            QByteArray(5 * 1000 * 1000, 'b')),
        250};
    c["markup and script in the author"] = {1, "/media/1",
        page(meipaiPage("http://v/1.mp4", "c", "&lt;b&gt;x")
                 .replace(
                     "<a class=\"name\">&lt;b&gt;x</a>", "<a class=\"name\"><b>粗</b><script>alert(1)</script></a>")),
        120};
    for (const char *link :
        {"file:///etc/passwd", "data:video/mp4;base64,AAAA", "javascript:alert(1)", "/dev/zero", "{{FIFO}}"}) {
        c[QStringLiteral("non-web addresses: %1").arg(link)] = {1, "/media/1",
            pageAt([link](const QString &) {
                return meipaiPage(link, link == QByteArray("{{FIFO}}") ? "/proc/self/environ" : link, "作者");
            }),
            120};
    }
    c["kuaishou avatar and cover from local paths"] = {2, "/i/photo/1",
        page("<div id=\"qqzone_web\"><span>作者:描述</span><img src=\"/etc/passwd\"></div>"
             "<video poster=\"/proc/kmsg\" src=\"/dev/zero\"></video>"),
        120};
    c["slow-loris page"] = {
        1, "/media/1", [](auto &, auto &) { return trickle(meipaiPage("http://v/1.mp4", "c", "a")); }, 120};
    c["slow-loris interface"] = {0, "/t/1",
        [](const HttpRequest &r, const QString &) {
            if (r.path().startsWith("/weishi/video"))
                return trickle("[\"http:\\/\\/cdn.weishi.test\\/v.mp4\"]");
            return HttpResponse::text("<div class=\"vBox js_player\" id=\"vid1\"></div>");
        },
        120};
    c["slow-loris pictures"] = {1, "/media/1",
        pageAt([](const QString &base) {
            return meipaiPage("http://v/1.mp4", base.toUtf8() + "/slow.jpg", "a")
                .replace("</html>", "<img src=\"" + base.toUtf8() + "/mvavatar/slow.jpg\"></html>");
        }),
        120};
    c["never answering"] = {1, "/media/1",
        [](auto &, auto &) {
            HttpResponse r = HttpResponse::text("late");
            r.delayMs = 60000;
            return r;
        },
        120};
    c["reset mid-body"] = {1, "/media/1",
        [](auto &, auto &) {
            HttpResponse r = HttpResponse::text(meipaiPage("http://v/1.mp4", "c", "a"));
            r.closeAfter = 40;
            return r;
        },
        120};
    c["redirect loop"] = {1, "/media/1", [](auto &, auto &) { return HttpResponse::redirect("/media/1"); }, 120};
    c["redirect to file:"] = {
        1, "/media/1", [](auto &, auto &) { return HttpResponse::redirect("file:///etc/passwd"); }, 120};
    c["1 MB of headers"] = {1, "/media/1",
        [](auto &, auto &) {
            HttpResponse r = HttpResponse::text(meipaiPage("http://v/1.mp4", "c", "a"));
            for (int i = 0; i < 1000; ++i)
                r.headers.append({"X-Pad-" + QByteArray::number(i), QByteArray(1000, 'p')});
            return r;
        },
        120};
    return c;
}

void addRows()
{
    QTest::addColumn<QString>("name");
    QStringList names = cases().keys();
    names.sort();
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << name;
}

QString siteAddress(const HttpServer &server, const Case &c)
{
    return server.base() + QString::fromUtf8(c.path);
}

// Peak resident memory of this process since the last reset, in MB.
qint64 peakMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() / 1024;
    }
    return -1;
}

void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

}  // namespace

class TestHostile : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;

private slots:
    void initTestCase()
    {
        g_fifo = dir_.filePath("video.mp4");
        QCOMPARE(mkfifo(g_fifo.toLocal8Bit().constData(), 0600), 0);
        deflateBomb();  // built once, before any memory is measured
    }
    void cleanup()
    {
        fetch::setTimeout(0);
        fetch::setDeadline(0);
    }

    void commandLine_data() { addRows(); }
    void commandLine()
    {
        QFETCH(QString, name);
        const Case c = cases().value(name);
        HttpServer server;
        server.listen();
        const QString base = server.base();
        server.setHandler([&](const HttpRequest &r) { return c.answer(r, base); });

        QProcess process;
        if (c.hugeOutput)
            process.setStandardOutputFile(QProcess::nullDevice());
        QEventLoop loop;
        connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral(QUORVIN_PEAK_RSS),
            {QStringLiteral(QUORVIN_EXTRACT), "--site", QString::number(c.site), "--json", "--all-hosts",
                server.hostPort(), "--stall-timeout", QString::number(StallMs), "--deadline",
                QString::number(DeadlineMs), siteAddress(server, c)});
        loop.exec();
        const qint64 elapsed = clock.elapsed();
        QCOMPARE(process.state(), QProcess::NotRunning);
        QVERIFY(process.exitCode() == 0 || process.exitCode() == 4);  // done, or the extraction failed
        const QByteArray err = process.readAllStandardError();
        const qint64 peak = err.mid(err.lastIndexOf("peak_rss_kb=") + 12).trimmed().toLongLong() / 1024;
        qInfo("%s: %lld ms, peak %lld MB", qPrintable(name), elapsed, peak);
        QVERIFY2(elapsed < HangLimitMs, qPrintable(QString::number(elapsed)));
        QVERIFY2(peak > 0 && peak <= c.megabytes, qPrintable(QString::number(peak)));
        if (!c.hugeOutput) {
            const QByteArray out = process.readAllStandardOutput();
            QCOMPARE(out.count('\n'), 1);
            QJsonParseError error {};
            QJsonDocument::fromJson(out, &error);
            QCOMPARE(error.error, QJsonParseError::NoError);
        }
    }

    void window_data() { addRows(); }
    void window()
    {
        QFETCH(QString, name);
        const Case c = cases().value(name);
        WindowHarness h;
        const QString base = h.server.base();
        h.server.setHandler([&](const HttpRequest &r) {
            if (r.path() == "/version.txt")
                return HttpResponse::text("V1.0", "text/plain");
            return c.answer(r, base);
        });
        fetch::setTimeout(StallMs);
        fetch::setDeadline(DeadlineMs);
        Form1 &f = *h.form;
        f.Option1[c.site]->setChecked(true);
        f.Text1->setText(siteAddress(h.server, c));

        // The window keeps handling events all the way through.
        QElapsedTimer sinceTick;
        qint64 longestGap = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { longestGap = qMax(longestGap, sinceTick.restart()); });
        resetPeak();
        const qint64 before = peakMegabytes();
        QElapsedTimer clock;
        clock.start();
        sinceTick.start();
        ticker.start(20);
        extractNow(f);
        const qint64 elapsed = clock.elapsed();
        ticker.stop();
        const qint64 grown = peakMegabytes() - before;
        qInfo("%s: %lld ms, longest gap %lld ms, peak grew %lld MB", qPrintable(name), elapsed, longestGap, grown);
        // Done only with a web video link in the record; a page that broke any rule fails.
        QVERIFY(f.Label5->text().startsWith(fetch::isWebAddress(f.Result.ResultSlots[SlotVideoUrl])
                ? QStringLiteral("视频提取完毕..")
                : QStringLiteral("视频提取失败..(")));
        QVERIFY(f.Command1->isEnabled());
        QVERIFY2(elapsed < HangLimitMs, qPrintable(QString::number(elapsed)));
        QVERIFY2(grown <= c.megabytes, qPrintable(QString::number(grown)));
        QVERIFY2(longestGap < FreezeLimitMs, qPrintable(QString::number(longestGap)));
        for (QLabel *label : {f.Label1, f.Label2, f.Label3})
            QCOMPARE(label->textFormat(), Qt::PlainText);
        QVERIFY(f.Image1->pixmap().isNull() || !name.startsWith("non-web"));

        // A non-web link is no video: playing asks for one, and nothing is ever opened (a
        // pipe would block the window for good).
        if (name.startsWith("non-web")) {
            f.Command4_Click();
            QCOMPARE(h.recorder.boxes.last().text, QStringLiteral("请先获取视频!"));
            QVERIFY(f.player()->URL().isEmpty());
        }
    }
};

QTEST_MAIN(TestHostile)
#include "test_hostile.moc"
