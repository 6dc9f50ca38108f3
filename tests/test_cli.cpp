#include "fixtures.h"
#include "json_out.h"
#include "process.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <cstdio>
#include <unistd.h>

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void jsonLinesShareOneRecord()
    {
        RouteServer server;
        QString page = QString::fromUtf8(testData("meipai.html"));
        page.replace("{{BASE}}", server.base());
        server.route("/media/11", page.toUtf8());
        server.route("/media/12", "<html><a class=\"name\">第二位</a></html>");
        server.route("/media/13", QByteArray());
        const QString base = server.base();
        const ProcessResult run = runProgram(QUORVIN_EXTRACT,
            {"--site", "meipai", "--json", "--all-hosts", server.hostPort(), base + "/media/11",
             base + "/media/12", "http://elsewhere.test/x", base + "/media/13"});
        QCOMPARE(run.exitCode, 1);  // the third address failed its check
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 4);

        QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
        QCOMPARE(first.keys(), QStringList({"address", "display", "site", "slots", "status"}));
        QVERIFY(lines[0].startsWith("{\"address\": "));
        QCOMPARE(first["site"].toInt(), 1);
        QCOMPARE(first["status"].toString(), QString("视频提取完毕.."));
        QCOMPARE(first["slots"].toArray().size(), 51);
        const QJsonObject display = first["display"].toObject();
        QCOMPARE(display.keys(), QStringList({"Label1", "Label2", "Label3", "avatar", "badge", "cover"}));
        QCOMPARE(display["Label1"].toString(), QString("美拍小达人"));
        QCOMPARE(display["cover"].toString(), QString("http://mvimg.test/11/cover.jpg"));
        QCOMPARE(display["badge"].toString(), QString());
        QCOMPARE(first["slots"].toArray()[2].toString(), QString("http://mvvideo.test/11/v.mp4"));

        // The second page keeps the first one's video link: one shared record.
        const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
        QCOMPARE(second["display"].toObject()["Label1"].toString(), QString("第二位"));
        QCOMPARE(second["slots"].toArray()[2].toString(), QString("http://mvvideo.test/11/v.mp4"));

        const QJsonObject third = QJsonDocument::fromJson(lines[2]).object();
        QVERIFY(third["display"].isNull());
        QCOMPARE(third["status"].toString(), QString("您输入的地址有误,请检查!"));

        const QJsonObject fourth = QJsonDocument::fromJson(lines[3]).object();
        QVERIFY(fourth["display"].isNull());  // empty page
        QCOMPARE(fourth["status"].toString(), QString("视频提取完毕.."));
    }

    // Our own escaping gives the same bytes as Qt's JSON writer, on hostile strings too.
    void escapingMatchesQtJson_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("quotes and backslashes") << QStringLiteral("a\"b\\c\\\"");
        QTest::newRow("named controls") << QStringLiteral("\b\f\n\r\t");
        QString controls;
        for (char16_t c = 0; c < 0x20; ++c)
            controls += QChar(c);
        QTest::newRow("every control character") << controls + QChar(0x7f);
        QTest::newRow("chinese") << QStringLiteral("美拍小达人：夏天的海边");
        QTest::newRow("emoji (surrogate pairs)") << QStringLiteral("😀🎬 end");
        QTest::newRow("lone high surrogate") << QString(QChar(0xd83d)) + "x";
        QTest::newRow("lone low surrogate at the end") << "x" + QString(QChar(0xde00));
        QTest::newRow("reversed pair") << QString(QChar(0xde00)) + QChar(0xd83d);
        QTest::newRow("slash, markup, script") << QStringLiteral("</script><b>&amp;</b> /\u2028\u2029");
        QTest::newRow("BOM and non-characters") << QStringLiteral("\ufeff\ufffe\uffff");
        QTest::newRow("long, a pair across the piece boundary")
            << QString(16 * 1024 - 1, QChar('a')) + QStringLiteral("😀") + QString(40000, QChar(1));
    }
    void escapingMatchesQtJson()
    {
        QFETCH(QString, text);
        const QByteArray qt = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
        const QByteArray expected = qt.mid(1, qt.size() - 2);
        QCOMPARE(json::quoted(text), expected);

        QTemporaryFile file;
        QVERIFY(file.open());
        FILE *out = fdopen(dup(file.handle()), "w");
        json::Writer writer(out);
        writer.string(text);
        std::fclose(out);
        file.seek(0);
        QCOMPARE(file.readAll(), expected);
    }

    void downloadsEachExtractedVideo()
    {
        RouteServer server;
        const QByteArray clip = QByteArray("....ftypisom").repeated(5000);
        server.route("/media/1", "<div data-video=\"" + server.url("/v/clip.mp4").toUtf8() + "\"></div>"
                                 "<a class=\"name\">作者</a>");
        server.route("/media/2", "<div data-video=\"" + server.url("/v/gone.mp4").toUtf8() + "\"></div>");
        server.route("/v/clip.mp4", clip, "video/mp4");
        server.route("/media/3", "<div data-video=\"" + server.url("/play?id=7").toUtf8() + "\"></div>");
        server.route("/play", clip, "video/x-flv");
        QTemporaryDir dir;
        const ProcessResult run = runProgram(QUORVIN_EXTRACT,
            {"--site", "meipai", "--json", "--download", "-o", dir.path(), "--all-hosts",
             server.hostPort(), server.url("/media/1"), server.url("/media/2"), server.url("/media/3")});
        QCOMPARE(run.exitCode, 3);
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        // No extension in the link: the answer's type names the file.
        QCOMPARE(QFileInfo(QJsonDocument::fromJson(lines[2]).object()["file"].toString()).fileName(), QString("play.flv"));
        const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
        QVERIFY(lines[0].contains("], \"file\": "));
        QFile saved(first["file"].toString());
        QCOMPARE(QFileInfo(saved).fileName(), QString("clip.mp4"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll() == clip);
        const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
        QCOMPARE(second["download_error"].toString(), QString("服务器返回错误: 404"));
        QVERIFY(!second.contains("file"));
        // Not a terminal: one line per finished file on standard error.
        QVERIFY(run.err.contains("saved: "));
        QVERIFY(run.err.contains("download failed: "));
    }

    // --download never replaces a file silently, and "file" is the path on disk.
    void downloadNames_data()
    {
        QTest::addColumn<QString>("link");          // path of the video on the test server
        QTest::addColumn<QString>("author");
        QTest::addColumn<QString>("existing");      // a file already in the folder, or ""
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("file");          // the reported file's name
        QTest::addColumn<bool>("skipped");
        const QString cjk = QString(200, QChar(0x89c6));  // 视 × 200: 600 bytes
        QTest::newRow("existing target left as it is") << "/v/clip.mp4" << "" << "clip.mp4" << QStringList() << "clip.mp4" << true;
        QTest::newRow("--force-overwrite replaces it") << "/v/clip.mp4" << "" << "clip.mp4" << QStringList{"--force-overwrite"} << "clip.mp4" << false;
        QTest::newRow("typed name exists") << "/play" << "" << "play.flv" << QStringList() << "play.flv" << true;
        QTest::newRow("untyped name of another file") << "/play" << "" << "play.mp4" << QStringList() << "play.flv" << false;
        QTest::newRow("long CJK name") << "/" << cjk << "" << QStringList() << QString(78, QChar(0x89c6)) + ".flv" << false;
        QTest::newRow("cut between an emoji pair") << "/" << QString(233, 'a') + QStringLiteral("😀x") << "" << QStringList() << QString(233, 'a') + ".flv" << false;
    }
    void downloadNames()
    {
        QFETCH(QString, link);
        QFETCH(QString, author);
        QFETCH(QString, existing);
        QFETCH(QStringList, options);
        QFETCH(QString, file);
        QFETCH(bool, skipped);
        RouteServer server;
        const QByteArray clip = QByteArray("FLV.clip").repeated(3000);
        server.route("/media/1", "<div data-video=\"" + server.url(link.toUtf8()).toUtf8() + "\"></div><a class=\"name\">" +
                                     author.toUtf8() + "</a>");
        server.route(link.toUtf8(), clip, "video/x-flv");
        QTemporaryDir dir;
        if (!existing.isEmpty()) {
            QFile old(dir.filePath(existing));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("the user's own file");
        }
        const ProcessResult run = runProgram(QUORVIN_EXTRACT, QStringList{"--site", "meipai", "--json", "--download", "-o",
            dir.path(), "--all-hosts", server.hostPort(), server.url("/media/1")} + options);
        QCOMPARE(run.exitCode, 0);
        const QJsonObject line = QJsonDocument::fromJson(run.out).object();
        const QString path = line["file"].toString();
        QCOMPARE(QFileInfo(path).fileName(), file);
        QCOMPARE(line["skipped"].toString(), skipped ? QString("exists") : QString());
        QVERIFY(run.err.contains(path.toUtf8()));
        QFile onDisk(path);
        QVERIFY(onDisk.open(QIODevice::ReadOnly));
        QCOMPARE(onDisk.readAll() == clip, !skipped);
        if (!existing.isEmpty() && existing != file) {
            QFile other(dir.filePath(existing));
            QVERIFY(other.open(QIODevice::ReadOnly));
            QCOMPARE(other.readAll(), QByteArray("the user's own file"));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), existing.isEmpty() || existing == file ? 1 : 2);
    }

    // Without --site (or with --site auto) each address picks the service of its prefix.
    void autoSite_data()
    {
        QTest::addColumn<QStringList>("targets");   // paths on the test server, or full addresses
        QTest::addColumn<QList<int>>("sites");      // the "site" of each JSON line
        QTest::addColumn<int>("status");
        QTest::newRow("each service") << QStringList{"/t/1", "/media/1", "/i/photo/1", "/video/1", "/show/1.htm"}
                                      << QList<int>{0, 1, 2, 3, 4} << 0;
        QTest::newRow("no service matches") << QStringList{"/media/1", "http://elsewhere.test/x", "/video/1"}
                                            << QList<int>{1, -1, 3} << 1;
        QTest::newRow("mixed case is no match") << QStringList{"HTTP://127.0.0.1/media/1"} << QList<int>{-1} << 1;
    }
    void autoSite()
    {
        QFETCH(QStringList, targets);
        QFETCH(QList<int>, sites);
        QFETCH(int, status);
        RouteServer server;
        server.route("/media/1", "<a class=\"name\">美拍作者</a>");  // sites run in order on one record
        server.route("/video/1", "<html></html>");
        QStringList arguments{"--json", "--all-hosts", server.hostPort()};
        for (const QString &t : targets)
            arguments << (t.startsWith('/') ? server.url(t.toUtf8()) : t);
        if (status == 0)
            arguments.prepend("auto"), arguments.prepend("--site");
        const ProcessResult run = runProgram(QUORVIN_EXTRACT, arguments);
        QCOMPARE(run.exitCode, status);
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QCOMPARE(lines.size(), sites.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QCOMPARE(QJsonDocument::fromJson(lines[i]).object()["site"].toInt(), sites[i]);
        QCOMPARE(run.err.contains("no service's page prefix matches"), sites.contains(-1));
    }

    void exitStatuses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("version") << QStringList{"--version"} << 0;
        QTest::newRow("no site: no service matches") << QStringList{"http://x/"} << 1;
        QTest::newRow("unknown site") << QStringList{"--site", "douyin", "http://x/"} << 2;
        QTest::newRow("no address") << QStringList{"--site", "0"} << 2;
        QTest::newRow("unknown option") << QStringList{"--site", "0", "--fast", "x"} << 2;
        QTest::newRow("rejected address") << QStringList{"--site", "4", ""} << 1;
        QTest::newRow("unreachable host passes the checks") << QStringList{"--site", "weipai", "--all-hosts", "127.0.0.1:1", "http://127.0.0.1:1/video/1"} << 0;
    }
    void exitStatuses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        const ProcessResult run = runProgram(QUORVIN_EXTRACT, arguments);
        QCOMPARE(run.exitCode, status);
        if (arguments.first() == "--help")
            QVERIFY(run.out.contains("Usage: quorvin-extract"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
