#include "download/output_template.h"
#include "extract/address_check.h"
#include "fixtures.h"
#include "history/history_store.h"
#include "json_out.h"
#include "process.h"
#include "progress.h"
#include "report.h"
#include "sites/sites.h"

#include <QJsonArray>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QRegularExpression>
#include <QSet>
#include <QJsonDocument>
#include <QJsonObject>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

class TestCli : public QObject {
    Q_OBJECT
private slots:
    // Each address is extracted on a record of its own: a failure never shows an earlier
    // address's video. Named fields; the record and captions only with --slots.
    void jsonLinesOneFreshRecordEach_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("named fields") << QStringList();
        QTest::newRow("--slots") << QStringList {"--slots"};
    }
    void jsonLinesOneFreshRecordEach()
    {
        QFETCH(QStringList, options);
        const bool withSlots = !options.isEmpty();
        RouteServer server;
        const QString page = examplePage("meipai/examples/plain.html", Hosts::allOn(server.hostPort()));
        server.route("/media/11", page.toUtf8());
        server.route("/media/12", "<html><a class=\"name\">第二位</a></html>");
        server.route("/media/13", QByteArray());
        const QString base = server.base();
        const QStringList arguments =
            QStringList {"--site", "meipai", "--json", "--all-hosts", server.hostPort(), base + "/media/11",
                base + "/media/12", "http://elsewhere.test/x", base + "/media/13", base + "/media/404"} +
            options;
        const ProcessResult run = runProgram(QUORVIN_EXTRACT, arguments);
        QCOMPARE(run.exitCode, 4);  // extractions failed (and an address failed its check)
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 5);

        const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
        QStringList keys;
        for (const JsonColumn &c : jsonColumns()) {
            if (c.when == JsonWhen::Always || (withSlots && c.when == JsonWhen::WithSlots))
                keys << c.name;
        }
        keys.sort();
        QCOMPARE(first.keys(), keys);
        QVERIFY(lines[0].startsWith("{\"address\": "));
        QCOMPARE(first["site"].toString(), QString("meipai"));
        QCOMPARE(first["ok"].toBool(), true);
        QVERIFY(first["error"].isNull());
        QCOMPARE(first["status"].toString(), QString("视频提取完毕.."));
        QCOMPARE(first["author"].toString(), QString("美拍小达人"));
        QCOMPARE(first["cover_url"].toString(), QString("http://mvimg1.meipai.com/11/cover.jpg"));
        QCOMPARE(first["video_url"].toString(), QString("http://mvvideo1.meipai.com/11/v.mp4"));
        QCOMPARE(first["verified"].toBool(), false);
        QVERIFY(lines[0].size() < 2000 || withSlots);  // no raw page without --slots
        if (withSlots) {
            QCOMPARE(first["slots"].toArray().size(), 51);
            QCOMPARE(first["display"].toObject()["author"].toString(), QString("美拍小达人"));
        }

        // The second page has no video link: nothing of the first one's.
        const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
        QCOMPARE(second["ok"].toBool(), false);
        QVERIFY(second["video_url"].isNull());
        QCOMPARE(second["author"].toString(), QString("第二位"));
        QCOMPARE(second["cover_url"].toString(), QString());
        QCOMPARE(second["status"].toString(), QString("视频提取失败..(页面中没有找到视频)"));
        QCOMPARE(second["error"].toString(), QString("no video link in page"));

        const QJsonObject third = QJsonDocument::fromJson(lines[2]).object();
        QCOMPARE(third["status"].toString(), QString("您输入的地址有误,请检查!"));
        QCOMPARE(third["error"].toString(), QString("address rejected by the checks"));

        const QJsonObject fourth = QJsonDocument::fromJson(lines[3]).object();
        QCOMPARE(fourth["status"].toString(), QString("视频提取失败..(页面是空的)"));
        QCOMPARE(fourth["error"].toString(), QString("empty page"));
        const QJsonObject fifth = QJsonDocument::fromJson(lines[4]).object();
        QCOMPARE(fifth["error"].toString(), QString("HTTP status 404"));
        QCOMPARE(fifth["status"].toString(), QString("视频提取失败..(页面不存在: 404)"));
        QCOMPARE(fifth["error_code"].toString(), QString("http_status"));
    }

    // Exit status by cause, addresses from a file or standard input, a missing -o folder,
    // and progress lines when standard error is not a terminal.
    void scriptUse_data()
    {
        QTest::addColumn<QStringList>("arguments");  // {{BASE}} stands for the server
        QTest::addColumn<QByteArray>("input");       // standard input
        QTest::addColumn<int>("status");
        QTest::addColumn<QList<bool>>("ok");  // "ok" of each line
        QTest::newRow("good, 404, good") << QStringList {"{{BASE}}/media/1", "{{BASE}}/media/404", "{{BASE}}/media/1"}
                                         << QByteArray() << 4 << QList<bool> {true, false, true};
        QTest::newRow("good, closed without an answer") << QStringList {"{{BASE}}/media/1", "{{BASE}}/media/closed"}
                                                        << QByteArray() << 4 << QList<bool> {true, false};
        QTest::newRow("rejected and failed: the highest")
            << QStringList {"{{BASE}}/", "{{BASE}}/media/404"} << QByteArray() << 4 << QList<bool> {false, false};
        QTest::newRow("rejected only") << QStringList {"{{BASE}}/media/1", "http://elsewhere.test/x"} << QByteArray()
                                       << 1 << QList<bool> {true, false};
        QTest::newRow("download failed") << QStringList {"--download", "-o", "{{DIR}}/new/deeper", "{{BASE}}/media/2"}
                                         << QByteArray() << 3 << QList<bool> {true};
        QTest::newRow("-a FILE") << QStringList {"-a", "{{DIR}}/list.txt"} << QByteArray() << 4
                                 << QList<bool> {true, false};
        QTest::newRow("- reads standard input")
            << QStringList {"-"} << QByteArray("# two\n{{BASE}}/media/1\n\n  {{BASE}}/media/1  \n") << 0
            << QList<bool> {true, true};
        QTest::newRow("missing -o folder is made; progress lines")
            << QStringList {"--download", "-o", "{{DIR}}/new/deeper", "{{BASE}}/media/1"} << QByteArray() << 0
            << QList<bool> {true};
    }
    void scriptUse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(int, status);
        QFETCH(QList<bool>, ok);
        RouteServer server;
        const QByteArray clip = patternBytes(200000);
        server.route("/media/1", "<div data-video=\"" + server.url("/v/clip.mp4").toUtf8() + "\"></div>");
        server.route("/media/2", "<div data-video=\"" + server.url("/v/gone.mp4").toUtf8() + "\"></div>");
        server.route("/v/clip.mp4", clip, "video/mp4");
        HttpResponse closed;
        closed.closeWithoutAnswer = true;
        server.route("/media/closed", closed);
        QTemporaryDir dir;
        QFile list(dir.filePath("list.txt"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write(server.url("/media/1").toUtf8() + "\n# a comment\n\n" + server.url("/media/404").toUtf8() + "\n");
        list.close();
        for (QString &a : arguments)
            a.replace("{{BASE}}", server.base()).replace("{{DIR}}", dir.path());
        input.replace("{{BASE}}", server.base().toUtf8());
        QProcess process;
        QEventLoop loop;
        connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        process.start(QUORVIN_EXTRACT,
            QStringList {"--json", "--site", "meipai", "--retries", "0", "--all-hosts", server.hostPort()} + arguments);
        process.write(input);
        process.closeWriteChannel();
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        QCOMPARE(process.exitCode(), status);
        const QList<QByteArray> lines = process.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), ok.size());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QJsonObject line = QJsonDocument::fromJson(lines[i]).object();
            QCOMPARE(line["ok"].toBool(), ok[i]);
            QCOMPARE(line["error"].isNull(), ok[i]);
            QCOMPARE(line["video_url"].isNull(), !ok[i]);
        }
        const QByteArray err = process.readAllStandardError();
        if (QTest::currentDataTag() == QByteArray("missing -o folder is made; progress lines")) {
            QFile saved(dir.filePath("new/deeper/[meipai-1].mp4"));
            QVERIFY(saved.open(QIODevice::ReadOnly));
            QVERIFY(saved.readAll() == clip);
            QVERIFY(err.contains("download: [meipai-1].mp4: 100% (195.3 KB/195.3 KB)\n"));
            QVERIFY(!err.contains('\r'));
        }
        if (QTest::currentDataTag() == QByteArray("good, closed without an answer"))
            QVERIFY(QJsonDocument::fromJson(lines[1]).object()["error"].toString().startsWith("fetch failed: "));
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
        const QByteArray qt = QJsonDocument(QJsonArray {text}).toJson(QJsonDocument::Compact);
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
        server.route("/media/1",
            "<div data-video=\"" + server.url("/v/clip.mp4").toUtf8() +
                "\"></div>"
                "<a class=\"name\">作者</a>");
        server.route("/media/2", "<div data-video=\"" + server.url("/v/gone.mp4").toUtf8() + "\"></div>");
        server.route("/v/clip.mp4", clip, "video/mp4");
        server.route("/media/3", "<div data-video=\"" + server.url("/play?id=7").toUtf8() + "\"></div>");
        server.route("/play", clip, "video/x-flv");
        QTemporaryDir dir;
        const ProcessResult run = runProgram(QUORVIN_EXTRACT,
            {"--site", "meipai", "--json", "--download", "-o", dir.path(), "--all-hosts", server.hostPort(),
                server.url("/media/1"), server.url("/media/2"), server.url("/media/3")});
        QCOMPARE(run.exitCode, 3);
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QCOMPARE(lines.size(), 3);
        // No extension in the link: the answer's type names the file.
        QCOMPARE(QFileInfo(QJsonDocument::fromJson(lines[2]).object()["file"].toString()).fileName(),
            QString("[meipai-3].flv"));
        const QJsonObject first = QJsonDocument::fromJson(lines[0]).object();
        QVERIFY(lines[0].contains(", \"file\": "));
        QFile saved(first["file"].toString());
        QCOMPARE(QFileInfo(saved).fileName(), QString("作者 [meipai-1].mp4"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll() == clip);
        const QJsonObject second = QJsonDocument::fromJson(lines[1]).object();
        QCOMPARE(second["download_error"].toString(), QString("HTTP status 404"));
        QCOMPARE(second["download_error_code"].toString(), QString("http_status"));
        QVERIFY(!second.contains("file"));
        // Not a terminal: one line per finished file on standard error.
        QVERIFY(run.err.contains("saved: "));
        QVERIFY(run.err.contains("download failed: "));
    }

    // --download: a readable name of its own per video, never replacing a file silently, and
    // "exists" only for this very video; "file" is the path on disk.
    void downloadNames_data()
    {
        QTest::addColumn<QString>("link");  // path of the video on the test server
        QTest::addColumn<QString>("author");
        QTest::addColumn<QString>("existing");  // another file already in the folder, or ""
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("file");                // the reported file's name
        const QString cjk = QString(200, QChar(0x89c6));  // 视 × 200: 600 bytes
        const QString tag = " [meipai-1].flv";
        QTest::newRow("author, description and id") << "/v/clip.flv"
                                                    << "作者"
                                                    << "" << QStringList() << "作者 - 描述" + tag;
        QTest::newRow("another file has the name: the next free one")
            << "/v/clip.flv"
            << "作者"
            << "作者 - 描述" + tag << QStringList() << "作者 - 描述 [meipai-1] (2).flv";
        // Another video's interrupted part under the name, recorded by one connection or by
        // several: the name is taken, the part left as it was.
        QTest::newRow("another video's part (one connection)")
            << "/v/clip.flv"
            << "作者"
            << "作者 - 描述" + tag + ".part.meta={\"url\":\"http://other/x.flv\",\"validator\":\"\",\"total\":9}"
            << QStringList() << "作者 - 描述 [meipai-1] (2).flv";
        QTest::newRow("another video's part (several connections)") << "/v/clip.flv"
                                                                    << "作者"
                                                                    << "作者 - 描述" + tag +
                ".part.meta={\"format\":2,\"link\":\"http://other/x.flv\",\"validator\":\"\\\"a\\\"\",\"total\":9,"
                "\"type\":\"video/x-flv\",\"done\":[[0,4]]}" << QStringList()
                                                                    << "作者 - 描述 [meipai-1] (2).flv";
        QTest::newRow("--force-overwrites replaces it")
            << "/v/clip.flv"
            << "作者"
            << "作者 - 描述" + tag << QStringList {"--force-overwrites"} << "作者 - 描述" + tag;
        QTest::newRow("untyped link: the answer's type") << "/play"
                                                         << "作者"
                                                         << "" << QStringList() << "作者 - 描述" + tag;
        QTest::newRow("template") << "/play"
                                  << ""
                                  << "" << QStringList {"-o", "sub/%(site)s-%(id)s %(author)s %%.%(ext)s"}
                                  << "meipai-1 NA %.flv";
        QTest::newRow("a page's \". ..\" in a template: inside the folder")
            << "/v/clip.flv"
            << ". .."
            << "" << QStringList {"-o", "%(author)s/%(author)s/%(id)s.%(ext)s"} << "1.flv";
        QTest::newRow("a template value too long for a name: cut")
            << "/v/clip.flv" << cjk << "" << QStringList {"-o", "%(author)s.%(ext)s"}
            << QString(78, QChar(0x89c6)) + ".flv";
        QTest::newRow("long CJK name") << "/v/clip.flv" << cjk << "" << QStringList()
                                       << QString(75, QChar(0x89c6)) + tag;
        QTest::newRow("cut between an emoji pair") << "/v/clip.flv" << QString(224, 'a') + QStringLiteral("😀x") << ""
                                                   << QStringList() << QString(224, 'a') + tag;
    }
    void downloadNames()
    {
        QFETCH(QString, link);
        QFETCH(QString, author);
        QFETCH(QString, existing);
        QFETCH(QStringList, options);
        QFETCH(QString, file);
        RouteServer server;
        const QByteArray clip = QByteArray("FLV.clip").repeated(3000);
        server.route("/media/1",
            "<div data-video=\"" + server.url(link.toUtf8()).toUtf8() + "\"></div><a class=\"name\">" +
                author.toUtf8() + "</a><h1 class=\"description br\">描述</h1>");
        server.route(link.toUtf8(), clip, "video/x-flv");
        QTemporaryDir dir;
        // NAME=content: that content; a control file comes with its part.
        const QString existingName = existing.section('=', 0, 0);
        const QByteArray existingBytes =
            existing.contains('=') ? existing.section('=', 1).toUtf8() : "the user's own file";
        const auto writeFile = [&dir](const QString &name, const QByteArray &bytes) {
            QFile old(dir.filePath(name));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(bytes);
        };
        if (!existing.isEmpty())
            writeFile(existingName, existingBytes);
        const QString otherPart = existingName.endsWith(".meta") ? existingName.chopped(5) : QString();
        if (!otherPart.isEmpty())
            writeFile(otherPart, "another video's part");
        const QStringList arguments = QStringList {"--site", "meipai", "--json", "--download", "-P", dir.path(),
                                          "--all-hosts", server.hostPort(), server.url("/media/1")} +
            options;
        for (const bool again : {false, true}) {
            const ProcessResult run = runProgram(QUORVIN_EXTRACT, arguments);
            QCOMPARE(run.exitCode, 0);
            const QJsonObject line = QJsonDocument::fromJson(run.out).object();
            const QString path = line["file"].toString();
            QCOMPARE(QFileInfo(path).fileName(), file);
            QVERIFY2(path.startsWith(dir.path() + "/"), qPrintable(path));
            // Run again, the same video is there: skipped (--force-overwrites replaces it again).
            QCOMPARE(line["skipped"].toString(), again && !options.contains("--force-overwrites") ? "exists" : "");
            QVERIFY(run.err.contains(path.toUtf8()));
            QFile onDisk(path);
            QVERIFY(onDisk.open(QIODevice::ReadOnly));
            QVERIFY(onDisk.readAll() == clip);
        }
        if (!existing.isEmpty() && existing != file) {
            QFile other(dir.filePath(existingName));
            QVERIFY(other.open(QIODevice::ReadOnly));
            QCOMPARE(other.readAll(), existingBytes);
        }
        if (!otherPart.isEmpty()) {
            QFile part(dir.filePath(otherPart));
            QVERIFY(part.open(QIODevice::ReadOnly));
            QCOMPARE(part.readAll(), QByteArray("another video's part"));
        }
    }

    // Two videos whose links end in the same file name, in one batch: two files, each its
    // own video, with the default names and under a template without the id.
    void batchNeverLosesAVideo_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("default names") << QStringList() << QStringList {"[meipai-1].mp4", "[meipai-2].mp4"};
        QTest::newRow("one template name")
            << QStringList {"-o", "same.%(ext)s"} << QStringList {"same.mp4", "same (2).mp4"};
    }
    void batchNeverLosesAVideo()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, files);
        RouteServer server;
        const QByteArray a = patternBytes(50000), b = QByteArray("b").repeated(40000);
        server.route("/media/1", "<div data-video=\"" + server.url("/a/video.mp4").toUtf8() + "\"></div>");
        server.route("/media/2", "<div data-video=\"" + server.url("/b/video.mp4").toUtf8() + "\"></div>");
        server.route("/a/video.mp4", a, "video/mp4");
        server.route("/b/video.mp4", b, "video/mp4");
        QTemporaryDir dir;
        const QStringList arguments =
            QStringList {"--site", "meipai", "-j", "--download", "-P", dir.path(), "-q", "--all-hosts",
                server.hostPort(), server.url("/media/1"), server.url("/media/2")} +
            options;
        for (const QString skipped : {"", "exists"}) {
            const ProcessResult run = runProgram(QUORVIN_EXTRACT, arguments);
            QCOMPARE(run.exitCode, 0);
            QVERIFY(run.err.isEmpty());  // -q
            const QList<QByteArray> lines = run.out.trimmed().split('\n');
            QCOMPARE(lines.size(), 2);
            for (int i = 0; i < 2; ++i) {
                const QJsonObject line = QJsonDocument::fromJson(lines[i]).object();
                QCOMPARE(QFileInfo(line["file"].toString()).fileName(), files[i]);
                QCOMPARE(line["skipped"].toString(), skipped);
                QFile onDisk(line["file"].toString());
                QVERIFY(onDisk.open(QIODevice::ReadOnly));
                QVERIFY(onDisk.readAll() == (i == 0 ? a : b));
            }
        }
    }

    void retriesResumeTheirPart()
    {
        HttpServer server;
        server.listen();
        const QByteArray clip = patternBytes(300000);
        int tries = 0;
        server.setHandler([&](const HttpRequest &r) {
            if (r.path() == "/media/1")
                return HttpResponse::text("<div data-video=\"" + server.base().toUtf8() + "/v/clip.mp4\"></div>");
            HttpResponse answer = HttpResponse::text(clip, "video/mp4");
            if (++tries == 1)
                answer.closeAfter = 100000;  // the first try breaks off
            return answer;
        });
        QTemporaryDir dir;
        const ProcessResult run = runProgram(QUORVIN_EXTRACT,
            {"--site", "meipai", "--download", "-o", dir.path(), "--retries", "1", "--all-hosts", server.hostPort(),
                server.base() + "/media/1"});
        QCOMPARE(run.exitCode, 0);
        // Qt itself may send a request again once when a connection closes under it.
        QVERIFY(tries >= 2);
        QCOMPARE(server.requests().last().header("range"), QByteArray("bytes=100000-"));
        QVERIFY(run.err.contains("retrying in 1.0 s: "));
        QFile saved(dir.filePath("[meipai-1].mp4"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll() == clip);
    }

    // Ctrl+C during a download stops it keeping its part; the address gets its JSON line, the
    // progress line is ended, and the exit status is 130.
    void interruptKeepsThePart()
    {
        HttpServer server;
        server.listen();
        server.setHandler([&](const HttpRequest &r) {
            if (r.path() == "/media/1")
                return HttpResponse::text("<div data-video=\"" + server.base().toUtf8() + "/v/clip.mp4\"></div>");
            HttpResponse slow = HttpResponse::filled(4 * 1024 * 1024, 'v', "video/mp4");
            slow.bytesPerSecond = 200000;
            return slow;
        });
        QTemporaryDir dir;
        QProcess process;
        process.start(QUORVIN_EXTRACT,
            {"-j", "--site", "meipai", "--download", "-P", dir.path(), "--newline", "--all-hosts", server.hostPort(),
                server.base() + "/media/1"});
        QVERIFY(process.waitForStarted());
        const QString part = dir.filePath("[meipai-1].mp4.part");
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(part).size() > 0, 20000);
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 130);
        const QJsonObject line = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
        QCOMPARE(line["download_error_code"].toString(), QString("interrupted"));
        QCOMPARE(line["download_error"].toString(), QString("interrupted"));
        QVERIFY(QFileInfo(part).size() > 0);
        QVERIFY(process.readAllStandardError().endsWith("\n"));
    }

    // Ctrl+C in the pause between addresses: every address left gets its "interrupted" line
    // and the status is 130; an interrupt the caller ignores (trap '' INT) stays ignored.
    void interruptDuringThePause_data()
    {
        QTest::addColumn<bool>("ignored");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("codes");  // each line's error_code ("" when it worked)
        QTest::newRow("Ctrl+C") << false << 130 << QStringList {"", "interrupted", "interrupted"};
        QTest::newRow("trap '' INT") << true << 0 << QStringList {"", "", ""};
    }
    void interruptDuringThePause()
    {
        QFETCH(bool, ignored);
        QFETCH(int, status);
        QFETCH(QStringList, codes);
        RouteServer server;
        server.route("/media/1", "<div data-video=\"" + server.url("/v/clip.mp4").toUtf8() + "\"></div>");
        const QString page = server.url("/media/1");
        QProcess process;
        process.start("bash",
            QStringList {"-c", QString(ignored ? "trap '' INT; " : "") + "exec \"$0\" \"$@\"", QUORVIN_EXTRACT, "-j",
                "--site", "meipai", "--sleep-requests", "3", "--all-hosts", server.hostPort(), page, page, page});
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(process.bytesAvailable() > 0, 20000);  // the first line: now it pauses 3 s
        ::kill(pid_t(process.processId()), SIGINT);
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 20000);
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), status);
        const QList<QByteArray> lines = process.readAllStandardOutput().trimmed().split('\n');
        QCOMPARE(lines.size(), codes.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QCOMPARE(QJsonDocument::fromJson(lines[i]).object()["error_code"].toString(), codes[i]);
    }

    // The bar never wraps: at most the terminal's width less one column, whatever the name.
    void progressBarFitsTheTerminal_data()
    {
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("name");
        for (int columns : {20, 40, 80, 200}) {
            QTest::addRow("%d columns, short name", columns) << columns << "clip.mp4";
            QTest::addRow("%d columns, CJK name", columns) << columns << QString(60, QChar(0x89c6)) + ".mp4";
        }
    }
    void progressBarFitsTheTerminal()
    {
        QFETCH(int, columns);
        QFETCH(QString, name);
        DownloadProgress p;
        p.done = 3355443;
        p.total = 7444889;
        p.bytesPerSecond = 1258291.2;
        p.secondsLeft = 3;
        const QString line = barLine(name, p, columns);
        QVERIFY2(displayWidth(line) <= columns - 1, qPrintable(line));
        QVERIFY(line.contains("45%"));
        // However narrow, a shortened name and the bar stay; the rate and time left go first.
        QVERIFY2(line.startsWith(name.left(1)) && line.contains("[#"), qPrintable(line));
        if (columns >= 80)
            QVERIFY(line.startsWith(name.left(4)) && line.contains(QStringLiteral("剩余 00:03")));
    }

    // A description file that cannot be run safely is refused with its path, line, column and
    // reason, and the built-in one is used; the other services still extract.
    void descriptionLoader_data()
    {
        QTest::addColumn<QByteArray>("change");   // sed-like: what in meipai.toml becomes what
        QTest::addColumn<QByteArray>("message");  // ":LINE:COLUMN: REASON"
        const QByteArray step = "[[step]]\nto = 30\ntext = 'x'\n";
        const QByteArray fetchStep = "[[step]]\nto = 30\nfetch = '{prefix:page}x'\n";
        QTest::newRow("syntax") << QByteArray("index = 1|index = ")
                                << QByteArray(":2:9: Error while parsing key-value pair");
        QTest::newRow("unknown step") << QByteArray("{ cut = '>' }|{ chop = '>' }")
                                      << QByteArray(":34:16: unknown step \"chop\"");
        QTest::newRow("bad pattern") << QByteArray("{ cut = '>' }|{ preg = ['(', ''] }")
                                     << QByteArray(":34:16: bad pattern: missing ): (");
        QTest::newRow("bad replacement") << QByteArray("{ cut = '>' }|{ preg = ['(a)', '\\2'] }")
                                         << QByteArray(":34:16: bad replacement: ");
        QTest::newRow("empty match, replacement") << QByteArray("{ cut = '>' }|{ preg = ['x*', 'y'] }")
                                                  << QByteArray(":34:16: the pattern matches an empty text");
        QTest::newRow("empty marker") << QByteArray("{ cut = '>' }|{ cut = '' }")
                                      << QByteArray(":34:15: cut needs a marker that is not empty");
        QTest::newRow("empty replace target")
            << QByteArray("{ cut = '>' }|{ replace = ['', 'xx'] }") << QByteArray(":34:19: replace needs a marker");
        QTest::newRow("slot out of range")
            << QByteArray("to = 12|to = 99") << QByteArray(":82:6: to must be a whole number from 0 to 50");
        QTest::newRow("unknown prefix") << QByteArray("{prefix:avatar}' }|{prefix:face}' }")
                                        << QByteArray(":49:17: unknown prefix {prefix:face}");
        QTest::newRow("fetch to any host")
            << QByteArray("from = 1\n|fetch = 'http://127.0.0.1:9/spy?a={8}'\n")
            << QByteArray(":33:9: a fetch must begin with one of the service's prefixes");
        QTest::newRow("fetch the page chooses")
            << QByteArray("from = 1\n|fetch = '{1}'\n") << QByteArray(":33:9: a fetch must begin");
        QTest::newRow("fetch from a part of a host name")
            << QByteArray("from = 1\n|fetch = '{prefix:avatar}.x/{8}'\n")
            << QByteArray(":33:9: the prefix {prefix:avatar} does not end its host");
        QTest::newRow("too many steps") << "[[step]]\nto = 1\n|" + step.repeated(201) + "[[step]]\nto = 1\n"
                                        << QByteArray(":26:1: more than 200 steps");
        QTest::newRow("too many fetches") << "[[step]]\nto = 1\n|" + fetchStep.repeated(9) + "[[step]]\nto = 1\n"
                                          << QByteArray(":50:1: more than 8 fetch steps");
        QTest::newRow("control character in a caption")
            << QByteArray("caption = \"美拍\"|caption = \"美\\u001b[31m拍\"")
            << QByteArray(":3:11: caption holds a control character");
        QTest::newRow("name not lowercase")
            << QByteArray("name = \"meipai\"|name = \"MeiPai\"") << QByteArray(":4:8: name must be lowercase");
        QTest::newRow("another service's name") << QByteArray("name = \"meipai\"|name = \"weishi\"")
                                                << QByteArray(":8: the name \"weishi\" is also weishi.toml's");
        QTest::newRow("another service's page host")
            << QByteArray(
                   "host = \"MEIPAI_PAGE_HOST\", path = \"/media/\"|host = \"WEISHI_PAGE_HOST\", path = \"/t/x\"")
            << QByteArray(":8: the host WEISHI_PAGE_HOST is not one meipai's built-in description uses");
        QTest::newRow("beyond ASCII outside a string")
            << QByteArray("index = 1|index = １")
            << QByteArray(":2: a character beyond ASCII outside a string or comment");
        QTest::newRow("not UTF-8") << QByteArray("caption = \"美拍\"|caption = \"\xff\"")
                                   << QByteArray(":3: not UTF-8 text");
        QTest::newRow("over 1 MiB") << "index = 1|index = 1\n#" + QByteArray(1100000, 'x')
                                    << QByteArray(": larger than 1 MiB");
        QTest::newRow("a listing's page on any host")
            << QByteArray("then = \"{prefix:site}{next}\"|then = \"http://evil.example/{next}\"")
            << QByteArray(":119:8: a fetch must begin with one of the service's prefixes");
        QTest::newRow("a listing's address no prefix") << QByteArray("address = \"author\"|address = \"nowhere\"")
                                                       << QByteArray(":117:11: address must name a prefix");
        QTest::newRow("a listing's works without addresses")
            << QByteArray("to = \"url\"|to = \"link\"") << QByteArray(":116:1: the work steps must write \"url\"");
        QTest::newRow("a listing's step that fetches")
            << QByteArray("to = \"next\"\nfrom = \"page\"|to = \"next\"\nfetch = '{prefix:site}x'")
            << QByteArray(":151:1: a listing's steps do not fetch");
        QTest::newRow("a listing's pages on a host never fetched")
            << QByteArray("[prefixes.site]\nhost = \"MEIPAI_PAGE_HOST\"|[prefixes.site]\nhost = \"MEIPAI_AVATAR_HOST\"")
            << QByteArray(":116: a fetch from MEIPAI_AVATAR_HOST, where meipai's built-in description never fetches");
        QTest::newRow("a FIFO") << QByteArray("FIFO") << QByteArray(": not a regular file");
        QTest::newRow("a folder") << QByteArray("FOLDER") << QByteArray(": not a regular file");
        QTest::newRow("another index") << QByteArray("index = 1|index = 2")
                                       << QByteArray(":2: index 2 is not the built-in's 1");
        // Attacks: each ends in bounded time and memory, refused with its line.
        const QByteArray avatar = "avatar = { host = \"MEIPAI_AVATAR_HOST\", path = \"\" }";
        QTest::newRow("a key of 150,000 parts") << "index = 1|index = 1\na" + QByteArray(".a").repeated(150000) + " = 1"
                                                << QByteArray(":3: a line longer than 4096 characters");
        QTest::newRow("a key of 40 parts") << "index = 1|index = 1\na" + QByteArray(".a").repeated(40) + " = 1"
                                           << QByteArray(":3: keys and brackets nested deeper than 32");
        QTest::newRow("a table header of 40 parts") << "[checks]|[a" + QByteArray(".a").repeated(40) + "]\n[checks]"
                                                    << QByteArray(":11: keys and brackets nested deeper than 32");
        QTest::newRow("arrays nested on 40 lines") << "index = 1|index = 1\nx = " + QByteArray("[\n").repeated(40)
                                                   << QByteArray(":35: keys and brackets nested deeper than 32");
        QTest::newRow("65 patterns") << "{ cut = '>' }|" + QByteArray("{ preg = ['a', 'b'] }, ").repeated(64) +
                "{ preg = ['a', 'b'] }"
                                     << QByteArray(":34:1488: more than 64 patterns");
        QTest::newRow("a pattern past its memory") << QByteArray("{ cut = '>' }|{ preg = ['\\pL{300}', 'x'] }")
                                                   << QByteArray(":34:16: bad pattern: pattern too large");
        QTest::newRow("another service's fetch host")
            << avatar + "|" + avatar + "\nother = { host = \"WEIPAI_API_HOST\", path = \"/\" }"
            << QByteArray(":10: the host WEIPAI_API_HOST is not one meipai's built-in description uses");
        QTest::newRow("a fetch from the avatar host")
            << "from = 1\n|fetch = '{prefix:avatar}steal?{page}'\n|" + avatar + "|" +
                "avatar = { host = \"MEIPAI_AVATAR_HOST\", path = \"/\" }"
            << QByteArray(":31: a fetch from MEIPAI_AVATAR_HOST, where meipai's built-in description never fetches");
    }
    void descriptionLoader()
    {
        QFETCH(QByteArray, change);
        QFETCH(QByteArray, message);
        QTemporaryDir dir;
        QFile file(dir.filePath("meipai.toml"));
        if (change == "FIFO") {
            QCOMPARE(mkfifo(QFile::encodeName(file.fileName()).constData(), 0644), 0);
        } else if (change == "FOLDER") {
            QVERIFY(QDir(dir.path()).mkdir("meipai.toml"));
        } else {
            QByteArray text = runProgram(QUORVIN_EXTRACT, {"--show-site", "meipai"}).out;
            const QList<QByteArray> changes = change.split('|');
            for (qsizetype i = 0; i + 1 < changes.size(); i += 2) {
                QVERIFY(text.contains(changes[i]));
                text.replace(text.indexOf(changes[i]), changes[i].size(), changes[i + 1]);
            }
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
            file.close();
        }
        const ProcessResult run =
            runProgram(QUORVIN_PEAK_RSS, {QUORVIN_EXTRACT, "--sites-dir", dir.path(), "--list-sites"}, 20000);
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.err.mid(run.err.lastIndexOf("peak_rss_kb=") + 12).trimmed().toLongLong() < 300 * 1024);
        QVERIFY2(run.err.contains(QFile::encodeName(file.fileName()) + message), run.err.constData());
        QVERIFY(run.err.contains("; the built-in description is used"));
        QVERIFY(run.out.contains("1  meipai  美拍  meipai.toml  built-in\n"));
        QVERIFY(run.out.contains("0  weishi  微视  weishi.toml  built-in\n"));
    }

    // The worked example of docs/site-descriptions.md, run as written: a changed author
    // marker found with --explain, mended in an override file, checked with --page.
    void workedExampleRunsAsWritten()
    {
        QFile doc(QStringLiteral(QUORVIN_SOURCE_DIR "/docs/site-descriptions.md"));
        QVERIFY(doc.open(QIODevice::ReadOnly));
        const QByteArray text = doc.readAll();
        const qsizetype start = text.indexOf("## Worked example");
        QVERIFY(start > 0);
        QByteArray script = "set -euo pipefail\n";
        for (qsizetype at = text.indexOf("```sh\n", start); at > 0; at = text.indexOf("```sh\n", at)) {
            const qsizetype end = text.indexOf("```\n", at + 6);
            script += text.mid(at + 6, end - at - 6);
            at = end + 4;
        }
        // The example's address under this build's own page prefix, whatever its hosts.
        script.replace("http://www.meipai.com/media/", pagePrefix(1, hosts()).toUtf8());
        QTemporaryDir dir;
        QProcess shell;
        shell.setWorkingDirectory(dir.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", QFileInfo(QUORVIN_EXTRACT).absolutePath() + ":" + env.value("PATH"));
        shell.setProcessEnvironment(env);
        shell.start("bash", {"-c", QString::fromUtf8(script)});
        QVERIFY(shell.waitForFinished(30000));
        const QByteArray out = shell.readAllStandardOutput();
        QVERIFY2(shell.exitCode() == 0, shell.readAllStandardError().constData());
        QVERIFY(out.contains("NOT FOUND, skipped"));
        QVERIFY(out.contains("meipai.toml  mysites/meipai.toml"));
        QVERIFY(out.contains("\"author\": \"小明\""));
        QVERIFY(out.contains("\"video_url\": \"http://v.example.test/1.mp4\""));
    }

    // The names people already type, and errors scripts can use: English codes in each JSON
    // line, nothing from a page reaching the terminal as control.
    void scriptLanguage_data()
    {
        QTest::addColumn<QStringList>("arguments");  // {{BASE}} the server, {{LIST}} a batch file
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("codes");  // error_code (or download_error_code) of each JSON line
        QTest::addColumn<QByteArray>("out");     // standard output holds this
        QTest::addColumn<QByteArray>("err");     // standard error holds this ("-": is empty)
        const QStringList j {"-j", "--site", "auto"};
        QTest::newRow("-j, codes of each failure")
            << j +
                QStringList {"{{BASE}}/media/404", "{{BASE}}/media/closed", "{{BASE}}/media/nomarker",
                    "http://elsewhere.test/x", "{{BASE}}/media/"}
            << 4 << QStringList {"http_status", "fetch_failed", "no_video_link", "no_service", "address_rejected"}
            << QByteArray("\"error\": \"HTTP status 404\"") << QByteArray();
        QTest::newRow("download error code")
            << j + QStringList {"--download", "-P", "{{DIR}}", "--no-progress", "-R", "0", "{{BASE}}/media/gone"} << 3
            << QStringList {"http_status"} << QByteArray("\"download_error\": \"HTTP status 404\"")
            << QByteArray("download failed: ");
        QTest::newRow("share message in an argument")
            << j + QStringList {"复制此链接，打开【美拍】直接观看！{{BASE}}/media/good复制此消息"} << 0
            << QStringList {""} << QByteArray("\"address\": \"{{BASE}}/media/good\"") << QByteArray("-");
        QTest::newRow("-a skips ; and ] lines")
            << j + QStringList {"-a", "{{LIST}}"} << 0 << QStringList {""} << QByteArray() << QByteArray("-");
        QTest::newRow("a batch without an address") << j + QStringList {"-a", "{{DIR}}/empty.txt"} << 2 << QStringList()
                                                    << QByteArray() << QByteArray("no address given");
        QTest::newRow("unknown option: one line")
            << QStringList {"--frobnicate", "x"} << 2 << QStringList() << QByteArray()
            << QByteArray("unknown option --frobnicate (see --help)\n");
        QTest::newRow("aliases accepted")
            << j + QStringList {"-w", "--newline", "--no-progress", "-R", "infinite", "-q", "{{BASE}}/media/good"} << 0
            << QStringList {""} << QByteArray() << QByteArray("-");
        QTest::newRow("contradicting overwrite options")
            << j + QStringList {"-w", "--force-overwrites", "{{BASE}}/media/good"} << 2 << QStringList() << QByteArray()
            << QByteArray("contradict");
        QTest::newRow("-q keeps standard error quiet")
            << j +
                QStringList {"--download", "-P", "{{DIR}}", "-q", "-R", "infinite", "--newline", "{{BASE}}/media/good"}
            << 0 << QStringList {""} << QByteArray("\"file\": ") << QByteArray("-");
        QTest::newRow("page text escaped in the text output")
            << QStringList {"{{BASE}}/media/escape"} << 0 << QStringList() << QByteArray("作者: 作者\\x1b[31m红")
            << QByteArray("-");
        QTest::newRow("page text escaped in --explain")
            << QStringList {"--explain", "-q", "{{BASE}}/media/escape"} << 0 << QStringList() << QByteArray()
            << QByteArray("found: \"作者\\x1b[31m红");
        QTest::newRow("a --sites-dir that does not exist")
            << QStringList {"--sites-dir", "{{DIR}}/none", "--list-sites"} << 2 << QStringList() << QByteArray()
            << QByteArray("no folder");
        QTest::newRow("--page of a device") << QStringList {"--page", "/dev/zero", "{{BASE}}/media/good"} << 4
                                            << QStringList() << QByteArray() << QByteArray("/dev/zero: not a file");
        // The names script writers know.
        QTest::newRow("--print with the familiar fields")
            << QStringList {"--print", "%(uploader)s|%(upload_date)s|%(id)s|%(extractor)s", "{{BASE}}/media/dated"} << 0
            << QStringList() << QByteArray("作者|20150708|dated|meipai\n") << QByteArray("-");
        QTest::newRow("-g prints the link") << QStringList {"-g", "{{BASE}}/media/good"} << 0 << QStringList()
                                            << QByteArray("{{BASE}}/v/clip.mp4\n") << QByteArray("-");
        QTest::newRow("an unknown field is NA, said once")
            << QStringList {"-O", "%(views)s %(views)s", "{{BASE}}/media/good"} << 0 << QStringList()
            << QByteArray("NA NA\n") << QByteArray("no video has the field %(views)s: it is NA");
        QTest::newRow("--print with --json") << QStringList {"--print", "%(id)s", "-J", "{{BASE}}/media/good"} << 2
                                             << QStringList() << QByteArray() << QByteArray("cannot go with --json");
        QTest::newRow("-o without --download") << QStringList {"-o", "video.mp4", "{{BASE}}/media/good"} << 2
                                               << QStringList() << QByteArray() << QByteArray("add --download");
        QTest::newRow("-o one file, two addresses")
            << QStringList {"--download", "-o", "{{DIR}}/video.mp4", "{{BASE}}/media/good", "{{BASE}}/media/dated"} << 2
            << QStringList() << QByteArray() << QByteArray("-o names one file");
        QTest::newRow("--no-part refused") << QStringList {"--no-part", "{{BASE}}/media/good"} << 2 << QStringList()
                                           << QByteArray() << QByteArray("--no-part is not offered");
        QTest::newRow("-o a file name") << j +
                QStringList {"--download", "-o", "{{DIR}}/video.mp4", "{{BASE}}/media/good"}
                                        << 0 << QStringList {""} << QByteArray("/video.mp4\"") << QByteArray();
        QTest::newRow("-o a relative file name: below -P")
            << j + QStringList {"--download", "-P", "{{DIR}}", "-o", "sub/video.mp4", "{{BASE}}/media/good"} << 0
            << QStringList {""} << QByteArray("/sub/video.mp4\"") << QByteArray();
        QTest::newRow("-s: no download") << j + QStringList {"--download", "-s", "-i", "-c", "{{BASE}}/media/good"} << 0
                                         << QStringList {""} << QByteArray("\"ok\": true") << QByteArray("-");
        QTest::newRow("-P names a file") << j + QStringList {"--download", "-P", "{{LIST}}", "{{BASE}}/media/good"} << 3
                                         << QStringList {"not_a_folder"} << QByteArray("not a folder: ")
                                         << QByteArray("not a folder: ");
        QTest::newRow("network options") << j +
                QStringList {"--download", "-P", "{{DIR}}", "-N", "2", "--limit-rate", "2M", "--sleep-requests", "0.2",
                    "{{BASE}}/media/good", "{{BASE}}/media/dated"}
                                         << 0 << QStringList {"", ""} << QByteArray("\"connections\": 1")
                                         << QByteArray();
        QTest::newRow("--connections past six") << QStringList {"--connections", "7", "{{BASE}}/media/good"} << 2
                                                << QStringList() << QByteArray() << QByteArray("from 1 to 6");
        QTest::newRow("--limit-rate not a rate") << QStringList {"-r", "fast", "{{BASE}}/media/good"} << 2
                                                 << QStringList() << QByteArray() << QByteArray("such as 500K");
        QTest::newRow("--proxy of an unknown kind")
            << QStringList {"--proxy", "ftp://p:21", "{{BASE}}/media/good"} << 2 << QStringList() << QByteArray()
            << QByteArray("unknown proxy type");
        QTest::newRow("a proxy that refuses")
            << QStringList {"--proxy", "127.0.0.1:1", "{{BASE}}/media/good"} << 4 << QStringList()
            << QByteArray("无法连接到代理服务器") << QByteArray("cannot connect to the proxy");
        QTest::newRow("--sleep-requests nan") << QStringList {"--sleep-requests", "nan", "{{BASE}}/media/good"} << 2
                                              << QStringList() << QByteArray() << QByteArray("needs a number");
        QTest::newRow("{} inside sh -c's script: refused with the safe form")
            << QStringList {"--download", "-P", "{{DIR}}", "--exec", "sh -c 'echo {}'", "{{BASE}}/media/good"} << 2
            << QStringList() << QByteArray() << QByteArray("sh -c '\\''cmd \"$1\"'\\'' sh {}");
        QTest::newRow("a FIFO as the archive: refused at once")
            << QStringList {"--download", "-P", "{{DIR}}", "--download-archive", "{{DIR}}/fifo", "{{BASE}}/media/good"}
            << 2 << QStringList() << QByteArray() << QByteArray("not a regular file");
        QTest::newRow("429 with Retry-After: 1, then the page")
            << j + QStringList {"{{BASE}}/media/busy"} << 0 << QStringList {""} << QByteArray("\"ok\": true")
            << QByteArray("the service is busy; trying again in 1 s");
        QTest::newRow("a failed download leaves no empty folder, in English")
            << QStringList {"--download", "-P", "{{DIR}}", "-o", "a/b/%(id)s.%(ext)s", "-R", "0", "{{BASE}}/media/gone"}
            << 3 << QStringList() << QByteArray("下载失败: HTTP status 404") << QByteArray(": HTTP status 404");
    }
    void scriptLanguage()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, codes);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        RouteServer server;
        const QByteArray video = "<div data-video=\"" + server.url("/v/clip.mp4").toUtf8() + "\"></div>";
        server.route("/media/good", video);
        server.route("/media/nomarker", "<p>nothing</p>");
        HttpResponse closed;
        closed.closeWithoutAnswer = true;
        server.route("/media/closed", closed);
        server.route("/media/gone", "<div data-video=\"" + server.url("/v/gone.mp4").toUtf8() + "\"></div>");
        server.route("/media/escape", video + "<a class=\"name\">作者\x1b[31m红\x1b]0;t\x07</a>");
        server.route("/v/clip.mp4", patternBytes(20000), "video/mp4");
        server.route("/media/dated", video + "<a class=\"name\">作者</a><div class=\"date\">2015-07-08 18:00</div>");
        HttpResponse busy = HttpResponse::text("busy");
        busy.status = 429;
        busy.headers = {{"Retry-After", "1"}};
        server.route("/media/busy", busy);
        connect(&server, &HttpServer::served, this, [&](const HttpRequest &r) {
            if (r.target == "/media/busy")
                server.route("/media/busy", video);  // the next try gets the page
        });
        QTemporaryDir dir;
        QFile list(dir.filePath("list.txt"));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("; a comment\n] another\n" + server.url("/media/good").toUtf8() + "\n");
        list.close();
        QFile empty(dir.filePath("empty.txt"));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("fifo")).constData(), 0600) == 0);
        for (QString &a : arguments)
            a.replace("{{BASE}}", server.base()).replace("{{DIR}}", dir.path()).replace("{{LIST}}", list.fileName());
        out.replace("{{BASE}}", server.base().toUtf8());
        const ProcessResult run =
            runProgram(QUORVIN_EXTRACT, QStringList {"--all-hosts", server.hostPort()} + arguments);
        QCOMPARE(run.exitCode, status);
        QVERIFY2(run.out.contains(out), run.out.constData());
        QVERIFY2(err == "-" ? run.err.isEmpty() : run.err.contains(err), run.err.constData());
        QVERIFY(!run.out.contains('\x1b') && !run.err.contains('\x1b'));
        QVERIFY(!QFileInfo::exists(dir.filePath("a")));  // no folder of a failed download stays
        if (codes.isEmpty())
            return;
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QCOMPARE(lines.size(), codes.size());
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QJsonObject line = QJsonDocument::fromJson(lines[i]).object();
            QCOMPARE(line.contains("download_error_code") ? line["download_error_code"].toString()
                                                          : line["error_code"].toString(),
                codes[i]);
        }
    }

    // The help, the man page and the bash completion name the same options; the man page
    // lists every error code a script can get.
    // Every request through the proxy, given or from the environment, to host names that do
    // not resolve here: only the proxy reaches them.
    void throughTheProxy_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("httpProxy");  // the environment's http_proxy
        QTest::addColumn<QByteArray>("noProxy");
        QTest::addColumn<bool>("proxied");
        QTest::newRow("--proxy") << QStringList {"--proxy", "{{PROXY}}"} << QByteArray() << QByteArray() << true;
        QTest::newRow("http_proxy") << QStringList() << QByteArray("http://{{PROXY}}") << QByteArray() << true;
        QTest::newRow("no_proxy names the host")
            << QStringList() << QByteArray("http://{{PROXY}}") << QByteArray("example.com, .invalid") << false;
        QTest::newRow("--proxy \"\" turns it off")
            << QStringList {"--proxy", ""} << QByteArray("http://{{PROXY}}") << QByteArray() << false;
    }
    void throughTheProxy()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, httpProxy);
        QFETCH(QByteArray, noProxy);
        QFETCH(bool, proxied);
        RouteServer proxy;  // answers what it is asked for as a proxy, and logs it
        const QByteArray clip = patternBytes(70000);
        proxy.route("/media/1", "<div data-video=\"http://video.invalid/v/1.mp4\"></div>");
        proxy.route("/v/1.mp4", clip, "video/mp4");
        QTemporaryDir dir;
        for (QString &o : options)
            o.replace("{{PROXY}}", proxy.hostPort());
        qputenv("http_proxy", httpProxy.replace("{{PROXY}}", proxy.hostPort().toUtf8()));
        qputenv("no_proxy", noProxy);
        const ProcessResult run = runProgram(QUORVIN_EXTRACT,
            QStringList {"--site", "meipai", "-j", "-q", "--download", "-P", dir.path(), "--stall-timeout", "5000",
                "--all-hosts", "video.invalid"} +
                options + QStringList {"http://video.invalid/media/1"});
        qunsetenv("http_proxy");
        qunsetenv("no_proxy");
        if (!proxied) {
            QCOMPARE(run.exitCode, 4);
            QVERIFY(proxy.requests().isEmpty());
            return;
        }
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(proxy.requests().size(), 2);
        for (const HttpRequest &r : proxy.requests())
            QVERIFY2(r.absolute.startsWith("http://video.invalid/"), r.target.constData());
        const QString file = QJsonDocument::fromJson(run.out).object().value("file").toString();
        QFile saved(file);
        QVERIFY(saved.open(QIODevice::ReadOnly) && saved.readAll() == clip);
    }

    // What a run keeps of its saved videos: the archive (skip before the page, append after a
    // save, two runs sharing it), the window's history, the sidecars and --exec.
    void keeping_data()
    {
        QTest::addColumn<QStringList>("options");  // {DIR} is the save folder, {ARCHIVE} the archive
        QTest::addColumn<QByteArray>("archiveBefore");
        // The window's history before: "saved" holds meipai 1 as saved, "newer" is a newer
        // version's (left byte for byte as it was).
        QTest::addColumn<QString>("historyBefore");
        QTest::addColumn<QByteArray>("cover");  // the cover's answer: a picture, "endless" or "slow"
        QTest::addColumn<QString>("skipped");   // "archived": nothing fetched, no file
        QTest::addColumn<QByteArray>("archiveAfter");
        QTest::addColumn<QStringList>("besides");  // files beside the video (NAME is its base; !: none)
        QTest::newRow("listed: skipped before the page")
            << QStringList {"--download-archive", "{ARCHIVE}"} << QByteArray("meipai 1\n") << "" << QByteArray()
            << "archived" << QByteArray("meipai 1\n") << QStringList();
        QTest::newRow("other tools' spacing")
            << QStringList {"--download-archive", "{ARCHIVE}"} << QByteArray("meipai   2\r\nmeipai\t1") << ""
            << QByteArray() << "archived" << QByteArray("meipai   2\r\nmeipai\t1") << QStringList();
        QTest::newRow("saved: appended") << QStringList {"--download-archive", "{ARCHIVE}"} << QByteArray("weishi 1\n")
                                         << "" << QByteArray() << "" << QByteArray("weishi 1\nmeipai 1\n")
                                         << QStringList();
        QTest::newRow("the window's history") << QStringList {"--history"} << QByteArray() << "saved" << QByteArray()
                                              << "archived" << QByteArray() << QStringList();
        QTest::newRow("a newer version's history: not used, not changed")
            << QStringList {"--history"} << QByteArray() << "newer" << QByteArray() << "" << QByteArray()
            << QStringList();
        QTest::newRow("sidecars") << QStringList {"--write-info-json", "--write-thumbnail", "--write-description"}
                                  << QByteArray() << "" << QByteArray() << "" << QByteArray()
                                  << QStringList {"NAME.info.json", "NAME.jpg", "NAME.description"};
        QTest::newRow("an endless cover: skipped at 8 MiB, the video saved")
            << QStringList {"--write-thumbnail"} << QByteArray() << "" << QByteArray("endless") << "" << QByteArray()
            << QStringList {"!NAME.jpg"};
        QTest::newRow("a trickling cover: skipped at the deadline")
            << QStringList {"--write-thumbnail", "--deadline", "1500"} << QByteArray() << "" << QByteArray("slow") << ""
            << QByteArray() << QStringList {"!NAME.jpg"};
        QTest::newRow("a page for a cover: skipped")
            << QStringList {"--write-thumbnail"} << QByteArray() << "" << QByteArray("page") << "" << QByteArray()
            << QStringList {"!NAME.jpg"};
        QTest::newRow("a sidecar never replaces a file")
            << QStringList {"-o", "clip.%(ext)s", "--write-description", "--write-info-json"} << QByteArray() << ""
            << QByteArray() << "" << QByteArray() << QStringList {"NAME.info.json", "NAME.description=mine"};
        QTest::newRow("--exec, a path with spaces and quotes")
            << QStringList {"-o", "it's a \"clip\" %(id)s.%(ext)s", "--exec", "cp {} {}.seen"} << QByteArray() << ""
            << QByteArray() << "" << QByteArray() << QStringList {"NAME.mp4.seen"};
        QTest::newRow("--exec, the safe form of sh -c")
            << QStringList {"-o", "it's $(touch pwned) %(id)s.%(ext)s", "--exec", "sh -c 'cp \"$1\" \"$1.seen\"' sh {}"}
            << QByteArray() << "" << QByteArray() << "" << QByteArray() << QStringList {"NAME.mp4.seen"};
    }
    void keeping()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, archiveBefore);
        QFETCH(QString, historyBefore);
        QFETCH(QByteArray, cover);
        QFETCH(QString, skipped);
        QFETCH(QByteArray, archiveAfter);
        QFETCH(QStringList, besides);
        RouteServer server;
        const QByteArray clip = QByteArray("....ftypisom").repeated(2000);
        server.route("/media/1",
            "<div data-video=\"" + server.url("/v/1.mp4").toUtf8() + "\"></div><img id=\"video_img\" src=\"" +
                server.url("/c/1.jpg").toUtf8() +
                "\"><a class=\"name\">作者</a><p class=\"description br\">海边的日落</p>");
        server.route("/v/1.mp4", clip, "video/mp4");
        HttpResponse picture = HttpResponse::text(encodedPicture(Qt::red), "image/jpeg");
        if (cover == "endless") {
            picture = HttpResponse::filled(qint64(1) << 40, '\xFF', "image/jpeg");
            picture.chunked = true;
        } else if (cover == "slow") {
            picture = HttpResponse::filled(qint64(1) << 20, '\xFF', "image/jpeg");
            picture.bytesPerSecond = 4096;
        } else if (cover == "page") {
            picture = HttpResponse::text("<html>moved</html>");
        }
        server.route("/c/1.jpg", picture);
        QTemporaryDir dir;
        const QString archive = dir.filePath("archive.txt");
        if (!archiveBefore.isEmpty()) {
            QFile f(archive);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(archiveBefore);
        }
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8());
        QByteArray historyBytes;
        if (!historyBefore.isEmpty()) {
            {
                history::Store store;
                history::Entry e;
                e.video.site = "meipai";
                e.video.id = "1";
                e.state = history::State::Done;
                QVERIFY(store.add(e) > 0);
            }
            if (historyBefore == u"newer") {
                QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "newer");
                db.setDatabaseName(history::Store::defaultPath());
                QVERIFY(db.open());
                QVERIFY(QSqlQuery(db).exec("PRAGMA journal_mode=DELETE"));
                QVERIFY(QSqlQuery(db).exec("PRAGMA user_version=99"));
                db.close();
            }
            QFile before(history::Store::defaultPath());
            QVERIFY(before.open(QIODevice::ReadOnly));
            historyBytes = before.readAll();
        }
        QSqlDatabase::removeDatabase("newer");
        QDir().mkpath(dir.filePath("out"));
        for (const QString &name : besides) {
            if (!name.contains('='))
                continue;  // NAME.ext=content: a file there before, with the video's name "clip"
            QFile mine(dir.filePath("out/" + name.section('=', 0, 0).replace("NAME", "clip")));
            QVERIFY(mine.open(QIODevice::WriteOnly));
            mine.write(name.section('=', 1).toUtf8());
        }
        QStringList args = {"--site", "meipai", "--json", "--download", "-P", dir.filePath("out"), "--all-hosts",
            server.hostPort(), server.url("/media/1")};
        for (QString o : options)
            args << o.replace("{DIR}", dir.filePath("out")).replace("{ARCHIVE}", archive);
        const ProcessResult run = runProgram(QUORVIN_EXTRACT, args);
        if (historyBefore == u"newer") {
            QFile after(history::Store::defaultPath());
            QVERIFY(after.open(QIODevice::ReadOnly));
            QVERIFY(after.readAll() == historyBytes);
            QVERIFY2(run.err.contains("belongs to a newer version"), run.err.constData());
        }
        qputenv("XDG_DATA_HOME", QByteArray());
        QCOMPARE(run.exitCode, 0);
        const QJsonObject line = QJsonDocument::fromJson(run.out).object();
        if (options.contains("--write-thumbnail")) {
            const bool kept = cover.isEmpty();
            QCOMPARE(line["thumbnail"].isNull(), !kept);
            QVERIFY2(kept || run.err.contains("cover skipped"), run.err.constData());
        }
        QCOMPARE(line["skipped"].toString(), skipped);
        if (skipped == u"archived") {
            QVERIFY(!server.targets().contains("/media/1"));  // not even the page
            QVERIFY(QDir(dir.filePath("out")).isEmpty());
        }
        QFile after(archive);
        QCOMPARE(after.open(QIODevice::ReadOnly) ? after.readAll() : QByteArray(), archiveAfter);
        const QString file = line["file"].toString();
        const QString base = QFileInfo(file).completeBaseName();
        QVERIFY(skipped == u"archived" || QFile::exists(file));
        for (QString name : besides) {
            const QString kept = name.section('=', 1);
            const bool absent = name.startsWith('!');
            const QString path =
                QFileInfo(file).dir().filePath(name.section('=', 0, 0).mid(absent ? 1 : 0).replace("NAME", base));
            QVERIFY2(QFile::exists(path) != absent, qPrintable(path));
            if (absent)
                continue;
            if (!kept.isEmpty()) {
                QFile f(path);
                QVERIFY(f.open(QIODevice::ReadOnly));
                QCOMPARE(QString::fromUtf8(f.readAll()), kept);  // left as it was
            }
            if (path.endsWith(".info.json")) {
                QCOMPARE(QFileInfo(path).permissions(), QFileInfo(file).permissions());  // as the video's
                QFile info(path);
                QVERIFY(info.open(QIODevice::ReadOnly));
                QCOMPARE(QJsonDocument::fromJson(info.readAll()).object()["author"].toString(), QString("作者"));
            }
            if (path.endsWith(".seen")) {  // the command got the path as one argument
                QFile seen(path);
                QVERIFY(seen.open(QIODevice::ReadOnly));
                QVERIFY(seen.readAll() == clip);
            }
        }
    }

    // Two runs appending to one archive at once: every line whole, none lost.
    void archiveSharedByTwoRuns()
    {
        RouteServer server;
        QStringList first, second;
        for (int i = 0; i < 16; ++i) {
            const QByteArray id = QByteArray::number(i);
            server.route("/media/" + id, "<div data-video=\"" + server.url("/v/" + id + ".mp4").toUtf8() + "\"></div>");
            server.route("/v/" + id + ".mp4", QByteArray("....ftypisom").repeated(100), "video/mp4");
            (i % 2 ? second : first) << server.url("/media/" + id);
        }
        QTemporaryDir dir;
        const QString archive = dir.filePath("archive.txt");
        const QStringList common = {"--site", "meipai", "--download", "-q", "-P", dir.path(), "--all-hosts",
            server.hostPort(), "--download-archive", archive};
        QProcess a, b;
        a.start(QUORVIN_EXTRACT, common + first);
        b.start(QUORVIN_EXTRACT, common + second);
        QTRY_VERIFY_WITH_TIMEOUT(a.state() == QProcess::NotRunning && b.state() == QProcess::NotRunning, 60000);
        QFile f(archive);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
        lines.sort();
        QStringList expected;
        for (int i = 0; i < 16; ++i)
            expected << QString("meipai %1").arg(i);
        expected.sort();
        QCOMPARE(lines, expected);
    }

    void documentedWhole()
    {
        const auto names = [](const QByteArray &text) {
            QSet<QString> found;
            static const QRegularExpression option(QStringLiteral("(?<![\\w-])(--?[a-zA-Z][a-zA-Z-]*)"));
            for (auto it = option.globalMatch(QString::fromUtf8(text)); it.hasNext();)
                found << it.next().captured(1);
            return found;
        };
        const ProcessResult help = runProgram(QUORVIN_EXTRACT, {"--help"});
        QByteArray helpNames;
        for (const QByteArray &line : help.out.split('\n')) {
            if (line.startsWith("  -"))
                helpNames += line.mid(2, line.indexOf("  ", 2) < 0 ? -1 : line.indexOf("  ", 2) - 2) + ' ';
        }
        QFile man(QStringLiteral(QUORVIN_SOURCE_DIR "/dist/man/quorvin-extract.1"));
        QVERIFY(man.open(QIODevice::ReadOnly));
        QByteArray manNames;
        QByteArray page = man.readAll().replace("\\-", "-");
        for (const char *font : {"\\fR", "\\fP", "\\fB", "\\fI"})
            page.replace(font, " ");
        const QList<QByteArray> manLines = page.split('\n');
        for (qsizetype i = 1; i < manLines.size(); ++i) {
            if (manLines[i - 1] == ".TP" && manLines[i].startsWith(".B"))
                manNames += manLines[i] + ' ';
        }
        QFile completion(QStringLiteral(QUORVIN_SOURCE_DIR "/dist/quorvin-extract.bash-completion"));
        QVERIFY(completion.open(QIODevice::ReadOnly));
        const QByteArray script = completion.readAll();
        const qsizetype start = script.indexOf("-W \"--site") + 4;
        const QByteArray words = script.mid(start, script.indexOf('"', start) - start);  // the options offered
        QSet<QString> fromHelp = names(helpNames);
        QVERIFY(fromHelp.size() > 25);
        QCOMPARE(names(manNames), fromHelp);
        QCOMPARE(names(words), fromHelp);
        // The man page's JSON fields are the columns the lines are written from.
        QSet<QString> manFields;
        const QByteArray fieldsPart = page.mid(page.indexOf(".SH JSON FIELDS"));
        const QList<QByteArray> fieldLines = fieldsPart.left(fieldsPart.indexOf("\n.SH ", 1)).split('\n');
        for (qsizetype i = 1; i < fieldLines.size(); ++i) {
            static const QRegularExpression word(QStringLiteral("\\b[a-z][a-z_]+\\b"));
            if (fieldLines[i - 1] != ".TP" || !fieldLines[i].startsWith(".B"))
                continue;
            for (auto it = word.globalMatch(QString::fromUtf8(fieldLines[i].mid(fieldLines[i].indexOf(' '))));
                 it.hasNext();)
                manFields << it.next().captured();
        }
        QSet<QString> columns;
        for (const JsonColumn &c : jsonColumns())
            columns << c.name;
        QCOMPARE(manFields, columns);
        // Each service the descriptions hold is offered wherever a service is named.
        const auto after = [](const QByteArray &text, const QByteArray &from, const QByteArray &to) {
            const qsizetype at = text.indexOf(from);
            return text.mid(at, text.indexOf(to, at) - at);
        };
        for (int site = 0; site < SiteCount; ++site) {
            const QByteArray name = siteName(site).toUtf8();
            QVERIFY2(after(help.out, "--site SITE", "--batch-file").contains(name), name.constData());
            QVERIFY2(after(page, ".BI --site", ".TP").contains(name), name.constData());
            for (const char *option : {"--site)", "--check-site)", "--show-site)"})
                QVERIFY2(after(script, option, "return").contains(name), (QByteArray(option) + name).constData());
        }
    }

    // Without --site (or with --site auto) each address picks the service of its prefix.
    void autoSite_data()
    {
        QTest::addColumn<QStringList>("targets");  // paths on the test server, or full addresses
        QTest::addColumn<QList<int>>("sites");     // the "site" of each JSON line
        QTest::addColumn<int>("status");
        // The pages here hold no video link: their extractions fail (4).
        QTest::newRow("each service") << QStringList {"/t/1", "/media/1", "/i/photo/1", "/video/1", "/show/1.htm"}
                                      << QList<int> {0, 1, 2, 3, 4} << 4;
        QTest::newRow("no service matches")
            << QStringList {"/media/1", "http://elsewhere.test/x", "/video/1"} << QList<int> {1, -1, 3} << 4;
        QTest::newRow("mixed case is no match") << QStringList {"HTTP://127.0.0.1/media/1"} << QList<int> {-1} << 1;
    }
    void autoSite()
    {
        QFETCH(QStringList, targets);
        QFETCH(QList<int>, sites);
        QFETCH(int, status);
        RouteServer server;
        server.route("/media/1", "<a class=\"name\">美拍作者</a>");  // sites run in order on one record
        server.route("/video/1", "<html></html>");
        QStringList arguments {"--json", "--all-hosts", server.hostPort()};
        for (const QString &t : targets)
            arguments << (t.startsWith('/') ? server.url(t.toUtf8()) : t);
        if (sites.size() == SiteCount)
            arguments.prepend("auto"), arguments.prepend("--site");
        const ProcessResult run = runProgram(QUORVIN_EXTRACT, arguments);
        QCOMPARE(run.exitCode, status);
        const QList<QByteArray> lines = run.out.trimmed().split('\n');
        QCOMPARE(lines.size(), sites.size());
        for (qsizetype i = 0; i < lines.size(); ++i)
            QCOMPARE(QJsonDocument::fromJson(lines[i]).object()["site"].toString(), siteName(sites[i]));
        QCOMPARE(run.err.contains("no service's page prefix matches"), sites.contains(-1));
    }

    // What a script writer expects: options parsed the POSIX way, every --print line, output
    // that fails never passing for success, a failed --exec counted.
    void scriptConventions_data()
    {
        QTest::addColumn<QStringList>("arguments");  // {{BASE}}: the server, {{DIR}}: a folder
        QTest::addColumn<QString>("sink");           // where standard output goes
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");     // in standard output ("!": nothing at all)
        QTest::addColumn<QByteArray>("err");     // in standard error ("" : nothing at all)
        QTest::addColumn<QByteArray>("config");  // the config file in the home folder's config folder
        const QString page = QStringLiteral("{{BASE}}/media/1");
        QTest::newRow("-jq") << QStringList {"-jq", page} << "" << 0 << QByteArray("{\"address\": ") << QByteArray()
                             << QByteArray();
        QTest::newRow("-R5, two -O, a bare field") << QStringList {"-R5", "-O", "id", "-O", "%(site)s", page} << "" << 0
                                                   << QByteArray("1\nmeipai\n") << QByteArray() << QByteArray();
        QTest::newRow("an unknown option named as written") << QStringList {"-jz", page} << "" << 2 << QByteArray()
                                                            << QByteArray("unknown option -z (in -jz)") << QByteArray();
        QTest::newRow("a full disk") << QStringList {"-j", page} << "> /dev/full" << 1 << QByteArray()
                                     << QByteArray("ERROR: cannot write to standard output: No space left")
                                     << QByteArray();
        QTest::newRow("a reader gone") << QStringList {"-j", "{{BASE}}/media/slow", page} << "| (exec 0<&-; sleep 1)"
                                       << 141 << QByteArray() << QByteArray("") << QByteArray();
        QTest::newRow("a failed --exec") << QStringList {"--download", "-P", "{{DIR}}", "--exec", "false", page} << ""
                                         << 3 << QByteArray() << QByteArray("ERROR: --exec exited with 1")
                                         << QByteArray();
        QTest::newRow("two addresses on one batch line") << QStringList {"-O", "id", "-a", "{{DIR}}/two.txt"} << "" << 0
                                                         << QByteArray("1\n2\n") << QByteArray() << QByteArray();
        QTest::newRow("-P ~/x in the home folder")
            << QStringList {"--download", "-P", "~/videos", "-O", "id", page} << "" << 0 << QByteArray("1\n")
            << QByteArray("[meipai-1].mp4: 100%") << QByteArray();
        QTest::newRow("-P home:DIR") << QStringList {"--download", "-P", "home:{{DIR}}/home/videos", page} << "" << 0
                                     << QByteArray() << QByteArray("[meipai-1].mp4: 100%") << QByteArray();
        QTest::newRow("-P temp:DIR: the video in the home path")
            << QStringList {"--download", "-P", "temp:{{DIR}}/t", "-P", "home:~/videos", page} << "" << 0
            << QByteArray() << QByteArray("a download's part is kept beside the video") << QByteArray();
        QTest::newRow("-o ~/videos/TEMPLATE") << QStringList {"--download", "-o", "~/videos/%(id)s.%(ext)s", page} << ""
                                              << 0 << QByteArray() << QByteArray("saved: ") << QByteArray();
        QTest::newRow("-o - refused") << QStringList {"--download", "-o", "-", page} << "" << 2 << QByteArray()
                                      << QByteArray("-o - (the video on standard output) is not offered")
                                      << QByteArray();
        QTest::newRow("--exec with a template")
            << QStringList {"--download", "-P", "{{DIR}}", "--exec", "echo %(id)s.%(ext)s", page} << "" << 0
            << QByteArray("1.mp4\n") << QByteArray("saved: ") << QByteArray();
        QTest::newRow("--exec with a bad template")
            << QStringList {"--download", "--exec", "echo %(id", page} << "" << 2 << QByteArray("!")
            << QByteArray("cannot be read at character 1") << QByteArray();
        QTest::newRow("--exec with && warned")
            << QStringList {"--download", "-P", "{{DIR}}", "--exec", "true && true", page} << "" << 0 << QByteArray()
            << QByteArray("WARNING: --exec runs its command without a shell") << QByteArray();
        const QByteArray saveConfig = "# where this machine's videos go\n-o '%(id)s from config.%(ext)s'\n";
        QTest::newRow("a config file's -o") << QStringList {"--download", "-P", "{{DIR}}", page} << "" << 0
                                            << QByteArray("1 from config.mp4") << QByteArray("saved: ") << saveConfig;
        QTest::newRow("--ignore-config drops it")
            << QStringList {"--ignore-config", "--download", "-P", "{{DIR}}", page} << "" << 0
            << QByteArray("[meipai-1].mp4") << QByteArray("saved: ") << saveConfig;
        QTest::newRow("a bad config line")
            << QStringList {"-j", page} << "" << 2 << QByteArray("!")
            << QByteArray("config, line 2: Unknown option 'fast'") << QByteArray("-q\n--fast\n");
        QTest::newRow("the JSON line's common names")
            << QStringList {"-j", page} << "" << 0
            << QByteArray("\"error_code\": null, \"id\": \"1\", \"ext\": \"mp4\", \"title\": \"\", \"uploader\": \"\"")
            << QByteArray() << QByteArray();
        QTest::newRow("-q: only what was asked for") << QStringList {"-q", "--download", "-P", "{{DIR}}", page} << ""
                                                     << 0 << QByteArray("!") << QByteArray() << QByteArray();
        QTest::newRow("a warning's form")
            << QStringList {"-O", "%(views)s", page} << "" << 0 << QByteArray("NA\n")
            << QByteArray("quorvin-extract: WARNING: no video has the field %(views)s") << QByteArray();
        QTest::newRow("--no-warnings") << QStringList {"--no-warnings", "-O", "%(views)s", page} << "" << 0
                                       << QByteArray("NA\n") << QByteArray() << QByteArray();
        QTest::newRow("--abort-on-error") << QStringList {"--abort-on-error", "-O", "id", "{{BASE}}/media/none", page}
                                          << "" << 4 << QByteArray("!") << QByteArray("ERROR: ") << QByteArray();
        QTest::newRow("-R inf, --mtime, --restrict-filenames, --trim-filenames")
            << QStringList {"-R", "inf", "--mtime", "--restrict-filenames", "--trim-filenames", "8", "--download", "-P",
                   "{{DIR}}", "-o", "%(title,id)s 视频 %(id)s.%(ext)s", "--windows-filenames", page}
            << "" << 0 << QByteArray() << QByteArray("saved: {{DIR}}/1_1.mp4") << QByteArray();
        QTest::newRow("what every request carries")
            << QStringList {"--user-agent", "QV/1", "--referer", "http://r.example/", "--add-header", "X-Token: 7",
                   "--cookies", "{{DIR}}/cookies.txt", "-O", "id", page}
            << "" << 0 << QByteArray("1\n") << QByteArray() << QByteArray();
    }
    void scriptConventions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, sink);
        QFETCH(int, status);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(QByteArray, config);
        RouteServer server;
        const QByteArray page = "<div data-video=\"" + server.url("/v/clip.mp4").toUtf8() + "\"></div>";
        server.route("/media/1", page);
        HttpResponse slow = HttpResponse::text(page);
        slow.delayMs = 500;  // the reader is gone well before the first line
        server.route("/media/slow", slow);
        server.route("/v/clip.mp4", patternBytes(2000), "video/mp4");
        server.route("/media/2", "<div data-video=\"" + server.url("/v/clip.mp4").toUtf8() + "\"></div>");
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("home"));
        QFile two(dir.filePath("two.txt"));
        QVERIFY(two.open(QIODevice::WriteOnly));
        two.write(server.url("/media/1").toUtf8() + " 看看这两个 " + server.url("/media/2").toUtf8() + "\n");
        two.close();
        QFile cookies(dir.filePath("cookies.txt"));
        QVERIFY(cookies.open(QIODevice::WriteOnly));
        cookies.write("# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\t42\n"
                      "#HttpOnly_127.0.0.1\tFALSE\t/media\tFALSE\t0\tlogin\tyes\n"
                      "other.example\tTRUE\t/\tFALSE\t0\tforeign\tno\n");
        cookies.close();
        if (!config.isEmpty()) {
            QVERIFY(QDir(dir.path()).mkpath("home/.config/quorvin-extract"));
            QFile file(dir.filePath("home/.config/quorvin-extract/config"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(config);
        }
        err.replace("{{DIR}}", dir.path().toUtf8());
        for (QString &a : arguments)
            a.replace("{{BASE}}", server.base()).replace("{{DIR}}", dir.path());
        const QStringList common = {"--site", "meipai", "--retries", "0", "--all-hosts", server.hostPort()};
        // The home folder is the test's; nothing may be made where the program runs.
        const QString script = "export HOME='" + dir.filePath("home") + "' XDG_CONFIG_HOME='" +
            dir.filePath("home/.config") + "'; cd \"$HOME\" && \"$0\" \"$@\" " + sink + "; exit ${PIPESTATUS[0]}";
        const ProcessResult run = runProgram("bash", QStringList {"-c", script, QUORVIN_EXTRACT} + common + arguments);
        const QStringList made = QDir(dir.filePath("home")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        QVERIFY2(made.isEmpty() || made == QStringList {"videos"}, qPrintable(made.join('|')));
        if (QTest::currentDataTag() == QByteArray("-P ~/x in the home folder") ||
            QByteArray(QTest::currentDataTag()).startsWith("-P temp:DIR"))
            QCOMPARE(QDir(dir.filePath("home/videos")).entryList(QDir::Files), QStringList {"[meipai-1].mp4"});
        if (QByteArray(QTest::currentDataTag()).startsWith("-o ~/videos"))
            QCOMPARE(QDir(dir.filePath("home/videos")).entryList(QDir::Files), QStringList {"1.mp4"});
        QVERIFY2(run.exitCode == status, run.err.constData());
        if (out == "!")
            QVERIFY2(run.out.isEmpty(), run.out.constData());
        else
            QVERIFY2(run.out.contains(out), run.out.constData());
        if (QTest::currentDataTag() == QByteArray("what every request carries")) {
            const HttpRequest first = server.requests().first();
            const auto header = [&first](const QByteArray &name) {
                for (const auto &[key, value] : first.headers) {
                    if (key == name)
                        return value;
                }
                return QByteArray();
            };
            QCOMPARE(header("user-agent"), QByteArray("QV/1"));
            QCOMPARE(header("referer"), QByteArray("http://r.example/"));
            QCOMPARE(header("x-token"), QByteArray("7"));
            QCOMPARE(header("cookie"), QByteArray("sid=42; login=yes"));  // not the other host's
        }
        if (err.isEmpty())
            QVERIFY2(run.err.isEmpty(), run.err.constData());
        else
            QVERIFY2(run.err.contains(err), run.err.constData());
    }

    // After --download: the video made into MP4 or its sound, the original removed unless -k
    // and only after the new file passed; a refused conversion keeps the original and fails
    // the run as a download does; a later run finds the converted file as this video's.
    void conversions_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("clip");  // the served FLV: "sample" or "old-codec"
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("files");  // what the folder holds after the run (NAME: the base)
        QTest::addColumn<QString>("converted");  // the JSON line's converted.format or .error_code
        QTest::newRow("--remux-video mp4")
            << QStringList {"--remux-video", "mp4"} << "sample" << 0 << QStringList {"NAME.mp4"} << "mp4";
        QTest::newRow("-k keeps the FLV") << QStringList {"--remux-video", "MP4", "-k"} << "sample" << 0
                                          << QStringList {"NAME.flv", "NAME.mp4"} << "mp4";
        QTest::newRow("-x: M4A") << QStringList {"-x"} << "sample" << 0 << QStringList {"NAME.m4a"} << "m4a";
        QTest::newRow("-x MP3 by quality, tags and cover")
            << QStringList {"-x", "--audio-format", "mp3", "--audio-quality", "5", "--embed-metadata",
                   "--embed-thumbnail"}
            << "sample" << 0 << QStringList {"NAME.mp3"} << "mp3";
        QTest::newRow("-x MP3 at 128K, info file")
            << QStringList {"-x", "--audio-format", "mp3", "--audio-quality", "128K", "--write-info-json"} << "sample"
            << 0 << QStringList {"NAME.info.json", "NAME.mp3"} << "mp3";
        QTest::newRow("an old codec: refused, kept")
            << QStringList {"--remux-video", "mp4"} << "old-codec" << 3 << QStringList {"NAME.flv"} << "unfit_codec";
        QTest::newRow("--remux-video avi")
            << QStringList {"--remux-video", "avi"} << "sample" << 2 << QStringList() << "";
        QTest::newRow("--audio-quality 11")
            << QStringList {"-x", "--audio-quality", "11"} << "sample" << 2 << QStringList() << "";
        QTest::newRow("--audio-format without -x")
            << QStringList {"--audio-format", "mp3"} << "sample" << 2 << QStringList() << "";
    }
    void conversions()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, clip);
        QFETCH(int, status);
        QFETCH(QStringList, files);
        QFETCH(QString, converted);
        RouteServer server;
        QFile flv(QStringLiteral(QUORVIN_SOURCE_DIR "/sim/media/") + clip + ".flv");
        QVERIFY(flv.open(QIODevice::ReadOnly));
        const QByteArray video = flv.readAll();
        server.route("/media/1",
            "<div data-video=\"" + server.url("/v/1.flv").toUtf8() + "\"></div><img id=\"video_img\" src=\"" +
                server.url("/c/1.jpg").toUtf8() +
                "\"><a class=\"name\">作者</a><p class=\"description br\">海边的日落</p>");
        server.route("/v/1.flv", video, "video/x-flv");
        server.route("/c/1.jpg", encodedPicture(Qt::red), "image/jpeg");
        QTemporaryDir dir;
        const QStringList args = QStringList {"--site", "meipai", "-j", "-q", "--download", "-P", dir.path(),
                                     "--all-hosts", server.hostPort(), server.url("/media/1")} +
            options;
        const ProcessResult run = runProgram(QUORVIN_EXTRACT, args);
        QVERIFY2(run.exitCode == status, run.err.constData());
        QStringList made = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        made.replaceInStrings("作者 - 海边的日落 [meipai-1]", "NAME");
        QCOMPARE(made, files);
        if (status == 2)
            return;
        const QJsonObject line = QJsonDocument::fromJson(run.out).object();
        const QJsonObject c = line["converted"].toObject();
        QCOMPARE(c.contains("format") ? c["format"].toString() : c["error_code"].toString(), converted);
        if (!c.contains("format")) {
            QVERIFY2(run.err.contains("ERROR: conversion failed, the original kept"), run.err.constData());
            return;
        }
        QCOMPARE(line["file"].toString(), c["file"].toString());  // the final file
        QVERIFY(line["duration"].toDouble() > 1.9);
        QCOMPARE(qint64(line["filesize"].toDouble()), QFileInfo(c["file"].toString()).size());
        if (files.contains("NAME.info.json")) {
            // The info file speaks the common downloader's names too.
            QFile info(dir.filePath("作者 - 海边的日落 [meipai-1].info.json"));
            QVERIFY(info.open(QIODevice::ReadOnly));
            const QJsonObject o = QJsonDocument::fromJson(info.readAll()).object();
            QCOMPARE(o["title"].toString(), QString("海边的日落"));
            QCOMPARE(o["uploader"].toString(), QString("作者"));
            QCOMPARE(o["extractor"].toString(), QString("meipai"));
            QCOMPARE(o["extractor_key"].toString(), QString("Meipai"));
            QCOMPARE(o["webpage_url"].toString(), server.url("/media/1"));
            QCOMPARE(o["url"].toString(), server.url("/v/1.flv"));
            QCOMPARE(o["ext"].toString(), QString("mp3"));
            QCOMPARE(o["filename"].toString(), c["file"].toString());
            QCOMPARE(o["acodec"].toString(), QString("mp3"));
        }
        if (options.contains("-k"))
            return;
        // A second run: the converted file is this video's, and nothing is fetched again.
        const qsizetype fetched = server.targets().count("/v/1.flv");
        const ProcessResult again = runProgram(QUORVIN_EXTRACT, args);
        QCOMPARE(again.exitCode, 0);
        const QJsonObject second = QJsonDocument::fromJson(again.out).object();
        QCOMPARE(second["skipped"].toString(), QString("exists"));
        QCOMPARE(second["file"].toString(), c["file"].toString());
        QCOMPARE(server.targets().count("/v/1.flv"), fetched);
    }

    // Output templates as the common downloader's documentation writes them.
    void templates_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");  // "!" and the start of the syntax problem when refused
        QTest::newRow("plain") << "%(id)s.%(ext)s"
                               << "10001.mp4";
        QTest::newRow("cut by characters") << "%(title).4s"
                                           << "夏天就要";
        QTest::newRow("a cut never splits one") << "%(author).2s"
                                                << "👩‍👩‍👧‍👦猫";
        QTest::newRow("a date in another form") << "%(upload_date>%Y-%m-%d)s"
                                                << "2015-07-08";
        QTest::newRow("the page's date, formatted") << "%(date>%d.%m.%Y %H:%M)s"
                                                    << "08.07.2015 18:00";
        QTest::newRow("a default") << "%(uploader|x)s|%(views|unknown)s"
                                   << "👩‍👩‍👧‍👦猫咪|unknown";
        QTest::newRow("alternatives") << "%(thumbnail,id)s"
                                      << "10001";
        QTest::newRow("a replacement") << "%(date&on {})s%(thumbnail&cover)s"
                                       << "on 2015-07-08 18:00NA";
        QTest::newRow("width and zero padding") << "[%(id)8s][%(id)-7s][%(autonumber)s][%(autonumber)03d]"
                                                << "[   10001][10001  ][00007][007]";
        QTest::newRow("numbers") << "%(duration).1f %(width)dx%(height)d %(filesize)06d"
                                 << "2.1 320x240 023149";
        QTest::newRow("not measured: NA") << "%(vcodec)s %(acodec|none)s"
                                          << "h264 none";
        QTest::newRow("the common downloader's derived fields")
            << "%(extractor_key)s %(timestamp)s %(duration_string)s %(resolution)s"
            << "Meipai 1436349600 2 320x240";
        QTest::newRow("shell-quoted, JSON, JSON as it is")
            << "%(title)q %(id)q %(views)q %(title)j %(title)+j %(width)j %(views)j"
            << "'夏天就要去海边' 10001 NA \"\\u590f\\u5929\\u5c31\\u8981\\u53bb\\u6d77\\u8fb9\" \"夏天就要去海边\" 320 \"NA\"";
        QTest::newRow("percent signs") << "100%% %(id)s 5%"
                                       << "100% 10001 5%";
        QTest::newRow("no closing bracket") << "%(title.10s"
                                            << "!at character 1";
        QTest::newRow("no type") << "x %(title)"
                                 << "!at character 11";
        QTest::newRow("no field name") << "%(ti tle)s"
                                       << "!at character 3";
    }
    void templates()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        outtmpl::Fields f;
        f.video.id = "10001";
        f.video.site = "meipai";
        f.video.author = "👩‍👩‍👧‍👦猫咪";
        f.video.description = "夏天就要去海边";
        f.video.date = "2015-07-08 18:00";
        f.extension = "mp4";
        f.more = {{"autonumber", 7}, {"duration", 2.08}, {"width", 320}, {"height", 240}, {"filesize", 23149},
            {"vcodec", "h264"}};
        const std::optional<QString> problem = outtmpl::syntaxProblem(text);
        if (expected.startsWith('!')) {
            QVERIFY(problem);
            QVERIFY2(problem->startsWith(expected.mid(1)), qPrintable(*problem));
            return;
        }
        QVERIFY2(!problem, qPrintable(problem.value_or(QString())));
        QCOMPARE(outtmpl::expand(text, f, false), expected);
    }

    void exitStatuses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::newRow("help") << QStringList {"--help"} << 0;
        QTest::newRow("version") << QStringList {"--version"} << 0;
        QTest::newRow("no site: no service matches") << QStringList {"http://x/"} << 1;
        QTest::newRow("unknown site") << QStringList {"--site", "douyin", "http://x/"} << 2;
        QTest::newRow("no address") << QStringList {"--site", "0"} << 2;
        QTest::newRow("unknown option") << QStringList {"--site", "0", "--fast", "x"} << 2;
        QTest::newRow("rejected address") << QStringList {"--site", "4", ""} << 1;
        QTest::newRow("unreachable host: the extraction failed")
            << QStringList {"--site", "weipai", "--all-hosts", "127.0.0.1:1", "http://127.0.0.1:1/video/1"} << 4;
        QTest::newRow("retries needs a number") << QStringList {"--retries", "x", "http://x/"} << 2;
        QTest::newRow("unknown progress mode") << QStringList {"--progress", "dots", "http://x/"} << 2;
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
