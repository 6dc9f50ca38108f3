// What the command line does to the user's files when scripts drive it the common downloader's
// way: --exec, templates, restricted names, the config file and the tags of a plain download.
// Each row runs quorvin-extract in a folder of its own and looks at what the folder holds.
#include "fixtures.h"
#include "media_input.h"
#include "process.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <sys/stat.h>

extern "C" {
#include <libavutil/log.h>
}

namespace {

const QString Media = QStringLiteral(QUORVIN_SOURCE_DIR "/sim/media/");

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The container's tags and its cover's picture type, as libavformat reads them back:
// "title|artist|cover comment", the comment empty without a cover.
QString tagsOf(const QString &path)
{
    std::string why;
    const media::InputContext in = media::openInput(path.toStdString(), media::SavedVideoFormats, &why);
    if (!in)
        return QStringLiteral("unreadable: ") + QString::fromStdString(why);
    const auto tag = [](AVDictionary *d, const char *key) {
        const AVDictionaryEntry *e = av_dict_get(d, key, nullptr, 0);
        return e != nullptr ? QString::fromUtf8(e->value) : QString();
    };
    QString cover = QStringLiteral("no cover");
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        if ((in->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0)
            cover = QStringLiteral("cover ") + tag(in->streams[i]->metadata, "comment");
    }
    return tag(in->metadata, "title") + u'|' + tag(in->metadata, "artist") + u'|' + cover.trimmed();
}

}  // namespace

class TestCliFiles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { av_log_set_level(AV_LOG_QUIET); }
    void scriptsNeverTurnAgainstFiles_data();
    void scriptsNeverTurnAgainstFiles();
    void killedDuringAConversionLeavesNothing();
};

// A run killed while its converter works: the converter ends with it and no half-made file
// is left beside the saved video, under any name.
void TestCliFiles::killedDuringAConversionLeavesNothing()
{
    QTemporaryDir tools;
    const QString helper = tools.filePath("helper.sh");
    QFile script(helper);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nfor last; do :; done\necho partial > \"$last\"\necho $$ > \"$0.pid\"\n"
                 "echo 'progress 45'\nexec sleep 60\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    RouteServer server;
    server.route("/media/flv", "<div data-video=\"" + server.url("/v/flv.flv").toUtf8() + "\"></div>");
    server.route("/v/flv.flv", fileBytes(Media + "sample.flv"), "video/x-flv");
    QTemporaryDir dir;
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUORVIN_MEDIA_HELPER", helper);
    run.setProcessEnvironment(env);
    run.start(QUORVIN_EXTRACT,
        {"--site", "meipai", "--all-hosts", server.hostPort(), "--ignore-config", "-q", "--remux-video", "mp4", "-P",
            dir.path(), "-o", "%(id)s.%(ext)s", server.url("/media/flv")});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(helper + ".pid"), 20000);
    QTRY_VERIFY(!fileBytes(helper + ".pid").trimmed().isEmpty());
    const pid_t converter = pid_t(fileBytes(helper + ".pid").trimmed().toInt());
    run.kill();
    QVERIFY(run.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(::kill(converter, 0) != 0, 10000);  // the converter ended with it
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList {"flv.flv"});
}

void TestCliFiles::scriptsNeverTurnAgainstFiles_data()
{
    QTest::addColumn<QStringList>("arguments");  // {{BASE}}: the server, {{DIR}}: the run's folder
    QTest::addColumn<QByteArray>("config");      // the config file ("" for none)
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("files");  // what the folder holds afterwards, sorted
    QTest::addColumn<QString>("out");        // in standard output ("" : anything)
    QTest::addColumn<QString>("err");        // in standard error ("" : anything)
    QTest::addColumn<QString>("tags");       // tagsOf the file named first in files ("" : not read)
    const QString one = QStringLiteral("{{BASE}}/media/1");
    const QString two = QStringLiteral("{{BASE}}/media/2");
    const QStringList byId = {"--download", "-o", "%(id)s.%(ext)s"};

    QTest::newRow("--exec with a field leaves the video")
        << byId + QStringList {"--exec", "rm -f %(id)s.tmp", one} << QByteArray() << 0 << QStringList {"1.mp4"} << ""
        << ""
        << "";
    QTest::newRow("two --exec run in order, the path added to each")
        << byId + QStringList {"--exec", "echo first", "--exec", "echo second", one} << QByteArray() << 0
        << QStringList {"1.mp4"} << "first {{DIR}}/1.mp4\nsecond {{DIR}}/1.mp4\n"
        << ""
        << "";
    QTest::newRow("%(filepath)q: one word for --exec, quoted for --print")
        << QStringList {"--download", "-o", "%(id)s 视频.%(ext)s", "--exec", "touch %(filepath)q.seen", "-O",
               "%(filepath)q", one}
        << QByteArray() << 0 << QStringList {"1 视频.mp4", "1 视频.mp4.seen"} << "'{{DIR}}/1 视频.mp4'\n"
        << ""
        << "";
    // Inside a shell's script a value is read again, quoted or not: refused, however the
    // shell's options are written.
    for (const char *command : {"sh -c 'echo %(title)s'", "sh -c -- 'echo %(title)s'", "sh -c \"echo '%(title)q'\"",
             "bash -o errexit -c 'echo %(id)s'"}) {
        QTest::newRow(qPrintable(QStringLiteral("a field in a shell's script: ") + command))
            << byId + QStringList {"--exec", command, one} << QByteArray() << 2 << QStringList() << ""
            << "a field inside a shell's -c script"
            << "";
    }
    QTest::newRow("the run's fields in --exec")
        << byId + QStringList {"--autonumber-start", "3", "--exec", "echo n=%(autonumber)s", one} << QByteArray() << 0
        << QStringList {"1.mp4"} << "n=00003\n"
        << ""
        << "";
    QTest::newRow("restricted: a Chinese value is _")
        << QStringList {"--download", "--restrict-filenames", "-o", "%(uploader)s.%(ext)s", one} << QByteArray() << 0
        << QStringList {"_.mp4"} << ""
        << ""
        << "";
    QTest::newRow("restricted: never a name that reads as an option")
        << QStringList {"--download", "--restrict-filenames", "-o", "%(title)s-%(id)s.%(ext)s", one} << QByteArray()
        << 0 << QStringList {"_-1.mp4"} << ""
        << ""
        << "";
    QTest::newRow("unrestricted: a leading - made _")
        << QStringList {"--download", "-o", "-%(id)s.%(ext)s", one} << QByteArray() << 0 << QStringList {"_1.mp4"} << ""
        << ""
        << "";
    QTest::newRow("autonumber counts in -o as in --print")
        << QStringList {"--download", "-o", "%(autonumber)s.%(ext)s", "-O", "%(autonumber)s", one, two} << QByteArray()
        << 0 << QStringList {"00001.mp4", "00002.mp4"} << "00001\n00002\n"
        << ""
        << "";
    QTest::newRow("--autonumber-start") << QStringList {"--download", "--autonumber-start", "7", "-o",
                                               "%(autonumber)03d.%(ext)s", one, two}
                                        << QByteArray() << 0 << QStringList {"007.mp4", "008.mp4"} << ""
                                        << ""
                                        << "";
    QTest::newRow("a config line's trailing comment")
        << QStringList {"--download", one} << QByteArray("-o '%(id)s #1.%(ext)s'   # the id alone\n# -q\n") << 0
        << QStringList {"1 #1.mp4"} << ""
        << "saved: "
        << "";
    QTest::newRow("a config's -P with -j: nothing saved, no error")
        << QStringList {"-j", one} << QByteArray("-P {{DIR}}/videos\n") << 0 << QStringList() << "\"id\": \"1\""
        << ""
        << "";
    QTest::newRow("a config's sidecars and --exec with -j: nothing saved, no error")
        << QStringList {"-j", one} << QByteArray("--write-info-json\n--exec 'echo saved'\n") << 0 << QStringList()
        << "\"id\": \"1\""
        << ""
        << "";
    QTest::newRow("a config's -- refused by its line")
        << QStringList {"-j", one} << QByteArray("-q\n-- --no-progress\n") << 2 << QStringList() << ""
        << "config, line 2: \"--\" would end"
        << "";
    QTest::newRow("a config's wrong value names its line")
        << QStringList {"-j", one} << QByteArray("-q\n\n--limit-rate lots  # too fast\n") << 2 << QStringList() << ""
        << "config, line 3: --limit-rate needs a rate"
        << "";
    QTest::newRow("a FIFO as the config file: refused at once")
        << QStringList {"-j", one} << QByteArray("FIFO") << 2 << QStringList() << ""
        << "config is not a regular file"
        << "";
    QTest::newRow("-x saves without --download")
        << QStringList {"-x", "-o", "%(id)s.%(ext)s", one} << QByteArray() << 0 << QStringList {"1.m4a"} << ""
        << ""
        << "";
    QTest::newRow("tags and cover written into a plain download")
        << byId + QStringList {"--embed-metadata", "--embed-thumbnail", one} << QByteArray() << 0
        << QStringList {"1.mp4"} << ""
        << "tags written: {{DIR}}/1.mp4"
        << "海边的日落|作者|cover";
    QTest::newRow("an MP3's cover is the front cover; the info file names what is on disk")
        << byId + QStringList {"-x", "--audio-format", "mp3", "--embed-thumbnail", "--write-info-json", one}
        << QByteArray() << 0 << QStringList {"1.mp3", "1.info.json"} << ""
        << ""
        << "||cover Cover (front)";
    QTest::newRow("an FLV holds no tags: said, the video kept")
        << byId + QStringList {"--embed-metadata", "{{BASE}}/media/flv"} << QByteArray() << 0 << QStringList {"flv.flv"}
        << ""
        << "is not an MP4"
        << "";
    QTest::newRow("--mtime takes the video's Last-Modified")
        << byId + QStringList {"--mtime", one} << QByteArray() << 0 << QStringList {"1.mp4"} << ""
        << ""
        << "";
    QTest::newRow("--print shorthands") << QStringList {"-O", "id,uploader", "-O", "title=", "-O", "extractor_key", one}
                                        << QByteArray() << 0 << QStringList()
                                        << "1\n作者\ntitle = \"\\u6d77\\u8fb9\\u7684\\u65e5\\u843d\"\nMeipai\n"
                                        << ""
                                        << "";
}

void TestCliFiles::scriptsNeverTurnAgainstFiles()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, config);
    QFETCH(int, status);
    QFETCH(QStringList, files);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QString, tags);
    RouteServer server;
    const auto page = [&server](const QByteArray &video, const QByteArray &title) {
        return "<div data-video=\"" + server.url(video).toUtf8() + "\"></div><img id=\"video_img\" src=\"" +
            server.url("/c/1.jpg").toUtf8() + "\"><a class=\"name\">作者</a><p class=\"description br\">" + title +
            "</p>";
    };
    server.route("/media/1", page("/v/1.mp4", "海边的日落"));
    server.route("/media/2", page("/v/2.mp4", "第二个"));
    server.route("/media/flv", page("/v/flv.flv", "旧视频"));
    HttpResponse mp4 = HttpResponse::text(fileBytes(Media + "sample.mp4"), "video/mp4");
    mp4.headers = {{"Last-Modified", "Wed, 09 Sep 2015 09:09:00 GMT"}};
    server.route("/v/1.mp4", mp4);
    server.route("/v/2.mp4", mp4);
    server.route("/v/flv.flv", fileBytes(Media + "sample.flv"), "video/x-flv");
    server.route("/c/1.jpg", encodedPicture(Qt::red, QSize(48, 48)), "image/jpeg");
    QTemporaryDir home;
    QTemporaryDir dir;
    const auto filled = [&](QString text) {
        return text.replace("{{BASE}}", server.base()).replace("{{DIR}}", dir.path());
    };
    for (QString &a : arguments)
        a = filled(a);
    QFile(dir.filePath("1.tmp")).open(QIODevice::WriteOnly);  // what --exec 'rm -f %(id)s.tmp' is for
    if (config == "FIFO") {
        QVERIFY(QDir(home.path()).mkpath(".config/quorvin-extract"));
        QCOMPARE(::mkfifo(QFile::encodeName(home.filePath(".config/quorvin-extract/config")).constData(), 0600), 0);
    } else if (!config.isEmpty()) {
        QVERIFY(QDir(home.path()).mkpath(".config/quorvin-extract"));
        QFile file(home.filePath(".config/quorvin-extract/config"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(filled(QString::fromUtf8(config)).toUtf8());
    }
    const QString script = "export HOME='" + home.path() + "' XDG_CONFIG_HOME='" + home.filePath(".config") +
        "'; cd '" + dir.path() + "' && exec \"$0\" \"$@\"";
    const QStringList common = {"--site", "meipai", "--retries", "0", "--all-hosts", server.hostPort()};
    const ProcessResult run = runProgram("bash", QStringList {"-c", script, QUORVIN_EXTRACT} + common + arguments);
    QVERIFY2(run.exitCode == status, run.err.constData());
    QStringList made = QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    made.removeAll("1.tmp");
    std::sort(files.begin(), files.end());
    QCOMPARE(made, files);
    if (!out.isEmpty())
        QVERIFY2(QString::fromUtf8(run.out).contains(filled(out)), run.out.constData());
    if (!err.isEmpty())
        QVERIFY2(QString::fromUtf8(run.err).contains(filled(err)), run.err.constData());
    if (!tags.isEmpty())
        QCOMPARE(tagsOf(dir.filePath(files.first().endsWith(".json") ? files.last() : files.first())), tags);
    const QByteArray tag = QTest::currentDataTag();
    if (tag.startsWith("--exec with a field"))
        QVERIFY(!QFileInfo::exists(dir.filePath("1.tmp")));
    if (tag.startsWith("--mtime"))
        QCOMPARE(QFileInfo(dir.filePath("1.mp4")).lastModified().toSecsSinceEpoch(), qint64(1441789740));
    if (tag.startsWith("an MP3's cover")) {
        // The common downloader loading this file fetches the format and names it by the
        // format's own extension: the MP4 link is never saved as .mp3.
        const QJsonObject info = QJsonDocument::fromJson(fileBytes(dir.filePath("1.info.json"))).object();
        QCOMPARE(info["ext"].toString(), QString("mp3"));
        QCOMPARE(info["filepath"].toString(), dir.filePath("1.mp3"));
        const QJsonObject format = info["formats"].toArray().first().toObject();
        QCOMPARE(format["url"].toString(), server.url("/v/1.mp4"));
        QCOMPARE(format["ext"].toString(), QString("mp4"));
        QCOMPARE(info["extractor_key"].toString(), QString("Meipai"));
    }
}

QTEST_GUILESS_MAIN(TestCliFiles)
#include "test_cli_files.moc"
