#include "fixtures.h"
#include "process.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

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

    void exitStatuses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("version") << QStringList{"--version"} << 0;
        QTest::newRow("no site") << QStringList{"http://x/"} << 2;
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
