#include "net/fetch.h"
#include "await.h"
#include "net/request_pace.h"
#include "fixtures.h"
#include "picture/picture.h"
#include "pattern.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QDeadlineTimer>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <sys/stat.h>

namespace {

// The pictures of jobs, awaited here (the program never waits for them).
QList<QImage> awaitPictures(const QList<PictureJob> &jobs)
{
    std::optional<QList<QImage>> pictures;
    QObject context;
    LoadPictures(jobs, &context, [&pictures](const QList<QImage> &images) { pictures = images; });
    const QDeadlineTimer deadline(30000);
    while (!pictures && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return pictures.value_or(QList<QImage>(jobs.size()));
}

QByteArray encodeImage(const char *format)
{
    QImage image(16, 12, QImage::Format_RGB32);
    image.fill(QColor(20, 178, 164));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray gbk(const QString &text)
{
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

}  // namespace

class TestFetch : public QObject {
    Q_OBJECT
private slots:
    void init() { fetch::setTimeout(30000); }

    void answersAreReturnedWhateverTheStatus()
    {
        RouteServer server;
        HttpResponse missing = HttpResponse::notFound();
        missing.body = "<html>页面不存在</html>";
        server.route("/missing", missing);
        server.route("/empty", QByteArray());

        QCOMPARE(awaitBody(server.url("/missing")), std::optional<QString>("<html>页面不存在</html>"));
        const auto empty = awaitBody(server.url("/empty"));
        QVERIFY(empty.has_value());
        QVERIFY(empty->isEmpty());
        QCOMPARE(server.requests().first().header("if-modified-since"), QByteArray("0"));
        QCOMPARE(server.requests().first().method, QByteArray("GET"));
    }

    void redirectsAreFollowed()
    {
        RouteServer server;
        server.route("/old", HttpResponse::redirect(server.url("/new").toUtf8()));
        server.route("/new", "arrived");
        QCOMPARE(awaitBody(server.url("/old")), std::optional<QString>("arrived"));
    }

    void charsets_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        const QString text = QStringLiteral("视频作者：张三");
        QTest::newRow("gbk in header") << QByteArray("text/html; charset=GBK") << gbk(text);
        QTest::newRow("gb18030 quoted in header") << QByteArray("text/html; charset=\"gb18030\"") << gbk(text);
        QTest::newRow("gbk in meta charset")
            << QByteArray("text/html") << QByteArray("<html><head><meta charset=\"gbk\"></head>") + gbk(text);
        QTest::newRow("gb2312 in http-equiv")
            << QByteArray("text/html")
            << QByteArray("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />") + gbk(text);
        QTest::newRow("utf-8 bom") << QByteArray() << QByteArray("\xEF\xBB\xBF") + text.toUtf8();
        QTest::newRow("nothing declared: utf-8") << QByteArray("text/html") << text.toUtf8();
        QTest::newRow("nothing declared: gbk") << QByteArray("text/html") << gbk(text);
        QTest::newRow("no header at all: gbk") << QByteArray() << QByteArray("<html>") + gbk(text);
        QTest::newRow("gbk, meta only past the first 4 KB")
            << QByteArray("text/html") << QByteArray(5000, ' ') + "<meta charset=\"gbk\">" + gbk(text);
        QTest::newRow("nothing declared: utf-8 after 4 KB of ascii")
            << QByteArray("text/html") << QByteArray(5000, 'a') + text.toUtf8();
    }
    void asciiPagesStayAscii()
    {
        RouteServer server;
        const QByteArray ascii = "<html><a class=\"name\">abc</a>\x01\x7f</html>";
        server.route("/page", HttpResponse::text(ascii, "text/html"));
        QCOMPARE(awaitBody(server.url("/page")), std::optional<QString>(QString::fromLatin1(ascii)));
    }
    void charsets()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        RouteServer server;
        server.route("/page", HttpResponse::text(body, contentType));
        const auto page = awaitBody(server.url("/page"));
        QVERIFY(page.has_value());
        QVERIFY2(page->endsWith(QStringLiteral("视频作者：张三")), qPrintable(*page));
        QVERIFY(!page->startsWith(QChar(0xFEFF)));
    }

    // The fetch rule: whatever the status, an answer that arrived intact is a page and its
    // body comes back; a transfer that did not complete intact is a failure with no body.
    void fetchRule_data()
    {
        QTest::addColumn<QByteArray>("raw");  // the answer as sent, or "" for the named cases
        QTest::addColumn<QString>("special");
        QTest::addColumn<bool>("page");
        auto status = [](int code, const QByteArray &extra = {}) {
            const QByteArray body = "<p>marker-" + QByteArray::number(code) + "</p>";
            return "HTTP/1.1 " + QByteArray::number(code) + " Whatever\r\nContent-Type: text/html\r\n" + extra +
                "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        };
        for (int code : {200, 301, 305, 400, 401, 403, 404, 405, 407, 410, 418, 429, 500, 502, 503})
            QTest::addRow("status %d", code) << status(code) << QString() << true;
        QTest::newRow("401 with WWW-Authenticate")
            << status(401, "WWW-Authenticate: Basic realm=\"x\"\r\n") << QString() << true;
        QTest::newRow("407 with Proxy-Authenticate")
            << status(407, "Proxy-Authenticate: Basic realm=\"x\"\r\n") << QString() << true;
        QTest::newRow("204 no content") << QByteArray("HTTP/1.1 204 No Content\r\nConnection: close\r\n\r\n")
                                        << QString() << true;
        QTest::newRow("no length, ends with the connection")
            << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n<p>marker-200</p>") << QString() << true;
        QTest::newRow("chunked") << QByteArray(
                                        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
                                        "6\r\n<p>mar\r\nb\r\nker-200</p>\r\n0\r\n\r\n")
                                 << QString() << true;
        QTest::newRow("same length twice")
            << QByteArray(
                   "HTTP/1.1 200 OK\r\nContent-Length: 17\r\nContent-Length: 17\r\nConnection: close\r\n\r\n<p>marker-200</p>")
            << QString() << true;

        QTest::newRow("shorter than Content-Length, closed")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n<p>marker-200</p>")
            << QString() << false;
        QTest::newRow("shorter than Content-Length, keep-alive then closed")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: keep-alive\r\n\r\n<p>marker-200</p>")
            << QString() << false;
        QTest::newRow("shorter than Content-Length, keep-alive left open")
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: keep-alive\r\n\r\n<p>marker-200</p>")
            << "open" << false;
        QTest::newRow("conflicting Content-Length")
            << QByteArray(
                   "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 17\r\nConnection: close\r\n\r\n<p>marker-200</p>")
            << QString() << false;
        QTest::newRow("gzip that does not decompress")
            << QByteArray(
                   "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 17\r\nConnection: close\r\n\r\n<p>marker-200</p>")
            << QString() << false;
        QTest::newRow("404 gzip that does not decompress")
            << QByteArray(
                   "HTTP/1.1 404 Not Found\r\nContent-Encoding: gzip\r\nContent-Length: 17\r\nConnection: close\r\n\r\n<p>marker-404</p>")
            << QString() << false;
        QTest::newRow("no status line") << QByteArray("<p>marker-200</p>\r\n\r\n") << QString() << false;
        QTest::newRow("stalled past the stall timeout") << QByteArray() << "stall" << false;
        QTest::newRow("trickling past the deadline") << QByteArray() << "trickle" << false;
        QTest::newRow("over the size limit, with length") << QByteArray() << "large" << false;
        QTest::newRow("over the size limit, chunked") << QByteArray() << "large-chunked" << false;
        QTest::newRow("redirect loop") << QByteArray() << "loop" << false;
        QTest::newRow("redirect to file:") << QByteArray() << "to-file" << false;
        QTest::newRow("ten redirects then the page") << QByteArray() << "ten" << true;
    }
    void fetchRule()
    {
        QFETCH(QByteArray, raw);
        QFETCH(QString, special);
        QFETCH(bool, page);
        fetch::setTimeout(500);
        fetch::setDeadline(1500);
        HttpServer server;
        server.listen();
        server.setHandler([&](const HttpRequest &r) {
            HttpResponse answer;
            answer.raw = raw;
            answer.keepOpen = special == "open";
            if (special == "stall") {
                answer = HttpResponse::text("<p>marker-200</p>");
                answer.stallAfter = 5;
            } else if (special == "trickle") {
                answer = HttpResponse::text(QByteArray(200, 'x'));
                answer.trickleMs = 20;  // never stalls, but takes 4 s
            } else if (special.startsWith("large")) {
                answer = HttpResponse::filled(fetch::PageLimit + 1, 'x', "text/html");
                answer.chunked = special.endsWith("chunked");
            } else if (special == "loop") {
                answer = HttpResponse::redirect("/again");
            } else if (special == "to-file") {
                answer = HttpResponse::redirect("file:///etc/passwd");
            } else if (special == "ten") {
                const int hop = r.path().mid(1).toInt();
                answer = hop < 10 ? HttpResponse::redirect("/" + QByteArray::number(hop + 1))
                                  : HttpResponse::text("<p>marker-200</p>");
            }
            return answer;
        });
        const fetch::Result result = awaitFetch(server.base() + "/0");
        QVERIFY2(result.ok == page, qPrintable(result.error));
        if (page && !raw.startsWith("HTTP/1.1 204")) {
            const QByteArray code = raw.isEmpty() ? QByteArray("200") : raw.mid(9, 3);
            QVERIFY2(result.body.contains("marker-" + code), result.body.constData());
        }
        if (!page)
            QVERIFY(result.body.isEmpty());
        fetch::setDeadline(0);
    }

    void failuresAreNotEmptyAnswers_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("refused") << "refused";
        QTest::newRow("stalled before answering") << "delay";
        QTest::newRow("stalled mid-body") << "stall";
        QTest::newRow("closed without answer") << "close";
        QTest::newRow("closed mid-body") << "truncated";
        QTest::newRow("larger than the limit") << "large";
        QTest::newRow("not http") << "scheme";
        QTest::newRow("garbage address") << "garbage";
    }
    void failuresAreNotEmptyAnswers()
    {
        QFETCH(QString, kind);
        RouteServer server;
        fetch::setTimeout(400);
        HttpResponse slow = HttpResponse::text("late");
        slow.delayMs = 5000;
        server.route("/delay", slow);
        HttpResponse stall = HttpResponse::text(QByteArray(1000, 'x'));
        stall.stallAfter = 100;
        server.route("/stall", stall);
        HttpResponse close;
        close.closeWithoutAnswer = true;
        server.route("/close", close);
        server.route("/large", QByteArray(fetch::PageLimit + 10, 'x'));
        HttpResponse truncated = HttpResponse::text(QByteArray(1000, 'x'));
        truncated.closeAfter = 100;
        server.route("/truncated", truncated);

        QString url = server.url("/" + kind.toUtf8());
        if (kind == "refused")
            url = QStringLiteral("http://127.0.0.1:%1/").arg(closedPort());
        else if (kind == "scheme")
            url = QStringLiteral("file:///etc/passwd");
        else if (kind == "garbage")
            url = QStringLiteral("请在此粘贴");
        // Without the bound, the stalled cases would wait forever (or answer "late").
        QCOMPARE(awaitBody(url), std::nullopt);
    }

    void eventsRunWhileWaiting()
    {
        RouteServer server;
        HttpResponse slow = HttpResponse::text("slow");
        slow.delayMs = 600;
        server.route("/slow", slow);
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(50);
        QCOMPARE(awaitBody(server.url("/slow")), std::optional<QString>("slow"));
        QVERIFY2(ticks >= 3, qPrintable(QString::number(ticks)));
    }

    void nestedFetchesGetTheirOwnAnswers()
    {
        // The inner fetch starts from an event handled while the outer one waits.
        HttpServer server;
        server.listen();
        std::optional<QString> innerAnswer;
        server.setHandler([&](const HttpRequest &r) {
            HttpResponse answer = HttpResponse::text(r.target.mid(1));
            if (r.target == "/outer") {
                QTimer::singleShot(0, &server, [&] { innerAnswer = awaitBody(server.base() + "/inner"); });
                answer.delayMs = 300;
            } else {
                answer.delayMs = 600;
            }
            return answer;
        });
        const auto outerAnswer = awaitBody(server.base() + "/outer");
        QCOMPARE(outerAnswer, std::optional<QString>("outer"));
        QCOMPARE(innerAnswer, std::optional<QString>("inner"));
    }

    // Retry-After as servers write it: seconds, or an HTTP date in any of its three forms.
    void retryAfter_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<int>("seconds");
        QTest::newRow("seconds") << QByteArray("2") << 2;
        QTest::newRow("IMF-fixdate, 2 s ahead") << QByteArray("Tue, 08 Dec 2026 12:00:02 GMT") << 2;
        QTest::newRow("IMF-fixdate, 120 s ahead") << QByteArray("Tue, 08 Dec 2026 12:02:00 GMT") << 120;
        QTest::newRow("RFC 850") << QByteArray("Tuesday, 08-Dec-26 12:02:00 GMT") << 120;
        QTest::newRow("asctime") << QByteArray("Tue Dec  8 12:02:00 2026") << 120;
        QTest::newRow("past: now") << QByteArray("Tue, 08 Dec 2026 11:00:00 GMT") << 0;
        QTest::newRow("a day ahead: capped") << QByteArray("Wed, 09 Dec 2026 12:00:00 GMT") << fetch::MaxRetryAfter;
        QTest::newRow("another zone: not HTTP's") << QByteArray("Tue, 08 Dec 2026 12:02:00 +0800") << -1;
        QTest::newRow("no date") << QByteArray("soon") << -1;
    }
    void retryAfter()
    {
        QFETCH(QByteArray, value);
        QFETCH(int, seconds);
        const QDateTime now(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);
        QCOMPARE(fetch::retryAfterSeconds(value, now), seconds);
    }

    // Requests that brought nothing: at most so many in any minute, the program over.
    void fruitlessRequestsPerMinute()
    {
        fetch::forgetFruitlessRequests();
        for (int i = 0; i < fetch::MostFruitlessPerMinute - 1; ++i)
            fetch::noteFruitlessRequest();
        QCOMPARE(fetch::msUntilFruitlessAllowed(), 0);
        fetch::noteFruitlessRequest();
        const int wait = fetch::msUntilFruitlessAllowed();
        QVERIFY2(wait > 55000 && wait <= 60001, qPrintable(QString::number(wait)));
        fetch::forgetFruitlessRequests();
        QCOMPARE(fetch::fruitlessPauseMs(1), 1000);
        QCOMPARE(fetch::fruitlessPauseMs(20), 64000);
    }

    void pregStripsLinkTags_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("tags with attributes") << "看<a href=\"http://x/y\">这里</a>吧"
                                              << "看这里吧";
        QTest::newRow("upper case") << "<A HREF='x'>大写</A>!"
                                    << "大写!";
        QTest::newRow("several") << "<a>1</a> <a b=c>2</a>"
                                 << "1 2";
        QTest::newRow("other tags stay") << "a<br/>b<abbr>c"
                                         << "a<br/>bc";
        QTest::newRow("not valid UTF-16: left as it is")
            << QString("<a>x") + QChar(0xd800) << QString("<a>x") + QChar(0xd800);
    }
    void pregStripsLinkTags()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(preg(text, "</?a[^<>]*>", ""), std::optional<QString>(expected));
    }
    void pregInvalidPatternFails() { QCOMPARE(preg("abc", "(unclosed", ""), std::nullopt); }

    void loadPicture_data()
    {
        // Addresses from pages go through LoadPicture: only http(s) is ever opened. The
        // program's own avatar file goes through LoadLocalPicture.
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("own");
        QTest::addColumn<bool>("loads");
        QTest::newRow("png over http") << "http:/cover.png" << false << true;
        QTest::newRow("jpeg over http") << "http:/cover.jpg" << false << true;
        QTest::newRow("404 over http") << "http:/missing.jpg" << false << false;
        QTest::newRow("garbage text over http") << "http:/garbage" << false << false;
        QTest::newRow("local png from a page") << "file:png" << false << false;
        QTest::newRow("file: address from a page") << "fileurl:png" << false << false;
        QTest::newRow("passwd from a page") << "/etc/passwd" << false << false;
        QTest::newRow("environ from a page") << "/proc/self/environ" << false << false;
        QTest::newRow("data: address") << "data:image/png;base64,iVBORw0KGgo=" << false << false;
        QTest::newRow("neither file nor address") << "请在此粘贴" << false << false;
        QTest::newRow("other scheme") << "ftp://127.0.0.1/x.png" << false << false;
        QTest::newRow("own png") << "file:png" << true << true;
        QTest::newRow("own garbage") << "file:garbage" << true << false;
        QTest::newRow("own directory") << "/tmp" << true << false;
        QTest::newRow("own device") << "/dev/zero" << true << false;
        QTest::newRow("own fifo") << "fifo" << true << false;
    }
    void loadPicture()
    {
        QFETCH(QString, source);
        QFETCH(bool, own);
        QFETCH(bool, loads);
        RouteServer server;
        server.route("/cover.png", encodeImage("PNG"), "image/png");
        server.route("/cover.jpg", encodeImage("JPEG"), "image/jpeg");
        server.route("/garbage", "not a picture at all", "image/jpeg");
        QTemporaryDir dir;
        const QString png = dir.filePath("local.png");
        const QString garbage = dir.filePath("garbage.png");
        {
            QFile f(png);
            f.open(QIODevice::WriteOnly);
            f.write(encodeImage("PNG"));
            QFile g(garbage);
            g.open(QIODevice::WriteOnly);
            g.write("plain text");
        }
        const QString fifo = dir.filePath("pipe.png");
        QCOMPARE(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);

        QString path = source;
        if (source.startsWith("http:/"))
            path = server.url(source.mid(5).toUtf8());
        else if (source == "file:png")
            path = png;
        else if (source == "fileurl:png")
            path = QUrl::fromLocalFile(png).toString();
        else if (source == "file:garbage")
            path = garbage;
        else if (source == "fifo")
            path = fifo;
        const QImage image = own ? LoadLocalPicture(path) : awaitPictures({{path, QString()}}).value(0);
        QCOMPARE(!image.isNull(), loads);
    }

    void downloadReplacesOnlyWhenComplete()
    {
        RouteServer server;
        server.route("/face.jpg", encodeImage("JPEG"), "image/jpeg");
        HttpResponse stall = HttpResponse::text(QByteArray(5000, 'x'), "image/jpeg");
        stall.stallAfter = 1000;
        server.route("/stalled.jpg", stall);
        fetch::setTimeout(400);
        QTemporaryDir dir;
        const QString face = dir.filePath("face");
        {
            QFile old(face);
            old.open(QIODevice::WriteOnly);
            old.write("old avatar");
        }
        // The avatar's way: a picture job that also saves its bytes to "face".
        const auto save = [&](const QString &address) { return awaitPictures({{address, face}}).value(0); };
        QCOMPARE(save(server.url("/stalled.jpg")), QImage());
        QCOMPARE(save(server.url("/missing.jpg")), QImage());
        QCOMPARE(save("file:///etc/passwd"), QImage());
        QFile check(face);
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray("old avatar"));
        check.close();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList {"face"});

        QVERIFY(!save(server.url("/face.jpg")).isNull());
        QVERIFY(!LoadLocalPicture(face).isNull());
    }
};

QTEST_GUILESS_MAIN(TestFetch)
#include "test_fetch.moc"
