#include "fetch.h"
#include "fixtures.h"
#include "picture.h"
#include "preg.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

namespace {

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

        QCOMPARE(GetBody(server.url("/missing")), std::optional<QString>("<html>页面不存在</html>"));
        const auto empty = GetBody(server.url("/empty"));
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
        QCOMPARE(GetBody(server.url("/old")), std::optional<QString>("arrived"));
    }

    void charsets_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        const QString text = QStringLiteral("视频作者：张三");
        QTest::newRow("gbk in header") << QByteArray("text/html; charset=GBK") << gbk(text);
        QTest::newRow("gb18030 quoted in header") << QByteArray("text/html; charset=\"gb18030\"") << gbk(text);
        QTest::newRow("gbk in meta charset") << QByteArray("text/html")
            << QByteArray("<html><head><meta charset=\"gbk\"></head>") + gbk(text);
        QTest::newRow("gb2312 in http-equiv") << QByteArray("text/html")
            << QByteArray("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />") + gbk(text);
        QTest::newRow("utf-8 bom") << QByteArray() << QByteArray("\xEF\xBB\xBF") + text.toUtf8();
        QTest::newRow("nothing declared: utf-8") << QByteArray("text/html") << text.toUtf8();
    }
    void charsets()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        RouteServer server;
        server.route("/page", HttpResponse::text(body, contentType));
        const auto page = GetBody(server.url("/page"));
        QVERIFY(page.has_value());
        QVERIFY2(page->endsWith(QStringLiteral("视频作者：张三")), qPrintable(*page));
        QVERIFY(!page->startsWith(QChar(0xFEFF)));
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
        QCOMPARE(GetBody(url), std::nullopt);
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
        QCOMPARE(GetBody(server.url("/slow")), std::optional<QString>("slow"));
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
                QTimer::singleShot(0, &server, [&] { innerAnswer = GetBody(server.base() + "/inner"); });
                answer.delayMs = 300;
            } else {
                answer.delayMs = 600;
            }
            return answer;
        });
        const auto outerAnswer = GetBody(server.base() + "/outer");
        QCOMPARE(outerAnswer, std::optional<QString>("outer"));
        QCOMPARE(innerAnswer, std::optional<QString>("inner"));
    }

    void pregStripsLinkTags_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("tags with attributes") << "看<a href=\"http://x/y\">这里</a>吧" << "看这里吧";
        QTest::newRow("upper case") << "<A HREF='x'>大写</A>!" << "大写!";
        QTest::newRow("several") << "<a>1</a> <a b=c>2</a>" << "1 2";
        QTest::newRow("other tags stay") << "a<br/>b<abbr>c" << "a<br/>bc";
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
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("loads");
        QTest::newRow("png over http") << "http:/cover.png" << true;
        QTest::newRow("jpeg over http") << "http:/cover.jpg" << true;
        QTest::newRow("404 over http") << "http:/missing.jpg" << false;
        QTest::newRow("garbage text over http") << "http:/garbage" << false;
        QTest::newRow("local png") << "file:png" << true;
        QTest::newRow("local garbage") << "file:garbage" << false;
        QTest::newRow("neither file nor address") << "请在此粘贴" << false;
        QTest::newRow("directory") << "/tmp" << false;
        QTest::newRow("device") << "/dev/zero" << false;
        QTest::newRow("fifo") << "fifo" << false;
        QTest::newRow("other scheme") << "ftp://127.0.0.1/x.png" << false;
    }
    void loadPicture()
    {
        QFETCH(QString, source);
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
        else if (source == "file:garbage")
            path = garbage;
        else if (source == "fifo")
            path = fifo;
        QCOMPARE(!LoadPicture(path).isNull(), loads);
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
        QVERIFY(!fetch::downloadToFile(server.url("/stalled.jpg"), face));
        QVERIFY(!fetch::downloadToFile(server.url("/missing.jpg"), face));
        QVERIFY(!fetch::downloadToFile("file:///etc/passwd", face));
        QFile check(face);
        QVERIFY(check.open(QIODevice::ReadOnly));
        QCOMPARE(check.readAll(), QByteArray("old avatar"));
        check.close();
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"face"});

        QVERIFY(fetch::downloadToFile(server.url("/face.jpg"), face));
        QVERIFY(!LoadPicture(face).isNull());
    }
};

QTEST_GUILESS_MAIN(TestFetch)
#include "test_fetch.moc"
