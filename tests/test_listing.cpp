// Authors' pages: listed against the simulator's authors of every service and against
// hostile servers (bounded whoever serves them), and the command line's playlist options.
#include "catalog.h"
#include "extract/address_check.h"
#include "extract/author_listing.h"
#include "extract/extraction_queue.h"
#include "await.h"
#include "fixtures.h"
#include "process.h"
#include "sites/sites.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using Pages = QList<QPair<QByteArray, QByteArray>>;  // a server's targets and their pages

namespace {

struct Listed {
    ListedAuthor author;
    QList<ListedWork> works;
    ListingEnd end = ListingEnd::Done;
    QString said;
    int pages = 0;
    int leftOut = 0;
    int repeated = 0;
};

Listed listNow(int site, const QString &address, const Hosts &h, ListingLimits limits = {})
{
    AuthorListing listing(h);
    Listed out;
    bool ended = false;
    QObject::connect(
        &listing, &AuthorListing::worksFound, [&out](const QList<ListedWork> &works) { out.works += works; });
    QObject::connect(&listing, &AuthorListing::ended, [&](ListingEnd end, const QString &said) {
        out.end = end;
        out.said = said;
        ended = true;
    });
    listing.start(site, address, limits);
    awaitUntil([&] { return ended; });
    out.author = listing.author();
    out.pages = listing.pagesAsked();
    out.leftOut = listing.leftOut();
    out.repeated = listing.repeated();
    return out;
}

// A 美拍 author's page of the given works (ids), linking next when given.
QByteArray meipaiPage(const QStringList &ids, const QString &next = QString())
{
    QString html = QStringLiteral("<html><h1 class=\"user-name\">测试作者</h1><ul>");
    for (const QString &id : ids) {
        const QString href = id.startsWith(u"http") ? id : QStringLiteral("/media/") + id;
        html += QStringLiteral("<li class=\"feed-item\"><a href=\"%1\" class=\"feed-link\"><img class=\"feed-cover\" "
                               "src=\"/c/%2.jpg\"></a><p class=\"feed-desc\">作品%2</p><span class=\"feed-date\">"
                               "2016-06-01 12:00</span></li>\n")
                    .arg(href, id.section(u'/', -1));
    }
    html += QStringLiteral("</ul>");
    if (!next.isEmpty())
        html += QStringLiteral("<a class=\"next\" href=\"%1\">下一页</a>").arg(next);
    return html.toUtf8();
}

QStringList idsOf(const QList<ListedWork> &works)
{
    QStringList ids;
    for (const ListedWork &w : works)
        ids << w.id;
    return ids;
}

}  // namespace

class TestListing : public QObject {
    Q_OBJECT
    HttpServer sim_;
    std::unique_ptr<Catalog> catalog_;
    Hosts hosts_;

    QString simAddress(const QString &path) const { return sim_.base() + path; }

private slots:
    void initTestCase()
    {
        Q_INIT_RESOURCE(sim_media);
        QVERIFY(sim_.listen());
        hosts_ = Hosts::allOn(sim_.hostPort());
        catalog_ = std::make_unique<Catalog>(hosts_);
        sim_.setHandler([this](const HttpRequest &r) { return catalog_->answer(r); });
    }

    // Each service's authors on the simulator: every work once, in order, with what the list
    // tells; the empty author ends at once; the gone one says so.
    void simulatorAuthors_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("lastId");
        QTest::addColumn<QString>("lastDate");
        const int done = int(ListingEnd::Done);
        const int gone = int(ListingEnd::Gone);
        QTest::newRow("微视 3") << int(Weishi) << "/u/ws3" << 3 << done << "小鱼儿"
                                << "wsv30002"
                                << "2014-03-13 18:42";
        QTest::newRow("微视 45") << int(Weishi) << "/u/ws45" << 45 << done << "连载小剧场"
                                 << "wsv450045"
                                 << "2016-05-30 15:00";
        QTest::newRow("美拍 3") << int(Meipai) << "/user/6003" << 3 << done << "美拍小达人"
                                << "30002"
                                << "2015-07-06 18:00";
        QTest::newRow("美拍 45") << int(Meipai) << "/user/6045" << 45 << done << "连载小剧场"
                                 << "450045"
                                 << "2016-05-30 15:00";
        QTest::newRow("快手 3") << int(Kuaishou) << "/i/user/ks3" << 3 << done << "快手老铁"
                                << "30002"
                                << "2015-05-30 12:00";
        QTest::newRow("快手 45") << int(Kuaishou) << "/i/user/ks45" << 45 << done << "连载小剧场"
                                 << "450045"
                                 << "2016-05-30 15:00";
        QTest::newRow("微拍 3") << int(Weipai) << "/user/wpu3" << 3 << done << "微拍小王"
                                << "wp30002"
                                << "2014-08-06 08:08";
        QTest::newRow("微拍 45") << int(Weipai) << "/user/wpu45" << 45 << done << "连载小剧场"
                                 << "wp450045"
                                 << "2016-05-30 15:00";
        QTest::newRow("秒拍 3") << int(Miaopai) << "/u/mpu3" << 3 << done << "秒拍达人"
                                << "mp30002"
                                << "2015-03-01";
        QTest::newRow("秒拍 45") << int(Miaopai) << "/u/mpu45" << 45 << done << "连载小剧场"
                                 << "mp450045"
                                 << "2016-05-30";
        QTest::newRow("美拍 empty") << int(Meipai) << "/user/6000" << 0 << done << "还没发作品"
                                    << ""
                                    << "";
        QTest::newRow("微拍 empty") << int(Weipai) << "/user/wpu0" << 0 << done << "还没发作品"
                                    << ""
                                    << "";
        QTest::newRow("美拍 gone") << int(Meipai) << "/user/6404" << 0 << gone << ""
                                   << ""
                                   << "";
        QTest::newRow("快手 gone") << int(Kuaishou) << "/i/user/ks404" << 0 << gone << ""
                                   << ""
                                   << "";
    }
    void simulatorAuthors()
    {
        QFETCH(int, site);
        QFETCH(QString, path);
        QFETCH(int, count);
        QFETCH(int, end);
        QFETCH(QString, name);
        QFETCH(QString, lastId);
        QFETCH(QString, lastDate);
        const Listed l = listNow(site, simAddress(path), hosts_);
        QCOMPARE(int(l.end), end);
        QCOMPARE(l.works.size(), count);
        QCOMPARE(l.author.name, name);
        QCOMPARE(l.leftOut + l.repeated, 0);
        if (end == int(ListingEnd::Gone))
            QCOMPARE(l.said, QStringLiteral("该作者不存在或已注销"));
        if (count == 0)
            return;
        QCOMPARE(l.works.last().id, lastId);
        QCOMPARE(l.works.last().date, lastDate);
        QCOMPARE(l.works.last().index, qsizetype(count));
        QVERIFY(!l.author.avatar.isEmpty());
        // Each work's share address is the service's and extracts to the video it lists.
        const ListedWork &w = l.works.last();
        QCOMPARE(siteForAddress(w.address, hosts_), site);
        QVERIFY(!w.description.isEmpty() && !w.cover.isEmpty());
        ExtractionQueue queue(hosts_);
        std::optional<ExtractedVideo> found;
        queue.add({0, site, w.address, ExtractionWhy::CommandLine, {}, nullptr,
            [&found](const ExtractedVideo &v) { found = v; }});
        awaitUntil([&] { return found.has_value(); });
        QVERIFY(found->extracted());
        QCOMPARE(found->video.uploaderUrl, simAddress(path));
    }

    // Hostile servers: whatever they serve, the listing ends, keeps each work once and says
    // why it stopped.
    void boundedWhoeverServes_data()
    {
        QTest::addColumn<Pages>("pages");
        QTest::addColumn<int>("maxPages");
        QTest::addColumn<int>("maxWorks");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<int>("end");
        QTest::addColumn<int>("leftOut");
        QTest::addColumn<int>("repeated");
        using P = Pages;
        QTest::newRow("next page returns")
            << P {{"/user/9", meipaiPage({"1", "2"}, "/user/9?p=2")}, {"/user/9?p=2", meipaiPage({"3"}, "/user/9")}}
            << 500 << 10000 << QStringList {"1", "2", "3"} << int(ListingEnd::PageReturned) << 0 << 0;
        QTest::newRow("a page with no new work")
            << P {{"/user/9", meipaiPage({"1", "2"}, "/user/9?p=2")},
                   {"/user/9?p=2", meipaiPage({"2", "1"}, "/user/9?p=3")}}
            << 500 << 10000 << QStringList {"1", "2"} << int(ListingEnd::NoNewWork) << 0 << 2;
        QTest::newRow("a work twice") << P {{"/user/9", meipaiPage({"1", "1", "2"})}} << 500 << 10000
                                      << QStringList {"1", "2"} << int(ListingEnd::Done) << 0 << 1;
        QTest::newRow("past the page bound")
            << P {{"/user/9", meipaiPage({"1"}, "/user/9?p=2")}, {"/user/9?p=2", meipaiPage({"2"}, "/user/9?p=3")},
                   {"/user/9?p=3", meipaiPage({"3"})}}
            << 2 << 10000 << QStringList {"1", "2"} << int(ListingEnd::PageLimit) << 0 << 0;
        QTest::newRow("past the work bound") << P {{"/user/9", meipaiPage({"1", "2", "3"}, "/user/9?p=2")}} << 500 << 2
                                             << QStringList {"1", "2"} << int(ListingEnd::WorkLimit) << 0 << 0;
        QTest::newRow("a work on a foreign host")
            << P {{"/user/9", meipaiPage({"1", "http://evil.example/media/2", "../../etc/3", "4"})}} << 500 << 10000
            << QStringList {"1", "4"} << int(ListingEnd::Done) << 2 << 0;
        QTest::newRow("a next page that fails") << P {{"/user/9", meipaiPage({"1"}, "/user/8?p=2")}} << 500 << 10000
                                                << QStringList {"1"} << int(ListingEnd::Failed) << 0 << 0;
    }
    void boundedWhoeverServes()
    {
        QFETCH(Pages, pages);
        QFETCH(int, maxPages);
        QFETCH(int, maxWorks);
        QFETCH(QStringList, ids);
        QFETCH(int, end);
        QFETCH(int, leftOut);
        QFETCH(int, repeated);
        RouteServer server;
        for (const auto &[target, body] : pages)
            server.route(target, body);
        const Listed l = listNow(Meipai, server.url("/user/9"), Hosts::allOn(server.hostPort()), {maxPages, maxWorks});
        QCOMPARE(idsOf(l.works), ids);
        QCOMPARE(int(l.end), end);
        QCOMPARE(l.leftOut, leftOut);
        QCOMPARE(l.repeated, repeated);
        QVERIFY(end == int(ListingEnd::Done) || !l.said.isEmpty());
        QVERIFY(server.targets().size() <= maxPages);
    }

    // What a list writes as markup or escapes is read as the characters it stands for.
    void descriptionsRead_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QByteArray>("works");
        QTest::addColumn<QString>("description");
        QTest::newRow("美拍: a character reference")
            << int(Meipai) << meipaiPage({"1"}).replace("作品1", "鱼 &amp; 熊掌") << QStringLiteral("鱼 & 熊掌");
        QTest::newRow("微拍: escaped quotes and \\u")
            << int(Weipai)
            << QByteArray("{\"state\":1,\"videos\":[{\"vid\":\"wp1\",\"desc\":\"\\\"\\u4f5c\\u54c1\\\" \\\\ "
                          "\\/\",\"pic\":\"\",\"time\":\"\"}],\"next_cursor\":\"\"}")
            << QStringLiteral("\"作品\" \\ /");
    }
    void descriptionsRead()
    {
        QFETCH(int, site);
        QFETCH(QByteArray, works);
        QFETCH(QString, description);
        RouteServer server;
        server.route("/user/9", site == Meipai ? works : QByteArray("<span class=\"nick\">x</span>"));
        server.route("/api/weipai/user/9/videos", works, "application/json");
        const Listed l = listNow(site, server.url("/user/9"), Hosts::allOn(server.hostPort()));
        QCOMPARE(l.works.size(), 1);
        QCOMPARE(l.works.first().description, description);
    }

    // A cursor interface that answers the same cursor again ends after it.
    void cursorThatComesBack()
    {
        RouteServer server;
        server.route("/user/u1", "<html><span class=\"nick\">游标</span></html>");
        const QByteArray answer =
            R"({"state":1,"videos":[{"vid":"wp1","desc":"a","pic":"","time":""}],"next_cursor":"c1"})";
        server.route("/api/weipai/user/u1/videos", answer, "application/json");
        server.route("/api/weipai/user/u1/videos?cursor=c1",
            R"({"state":1,"videos":[{"vid":"wp2","desc":"b","pic":"","time":""}],"next_cursor":"c1"})",
            "application/json");
        const Listed l = listNow(Weipai, server.url("/user/u1"), Hosts::allOn(server.hostPort()));
        QCOMPARE(idsOf(l.works), (QStringList {"wp1", "wp2"}));
        QCOMPARE(l.end, ListingEnd::PageReturned);
        QCOMPARE(l.pages, 3);  // the author's page and two answers
    }

    // The command line's playlist options on the simulator's 45-work 美拍 author.
    void commandLinePlaylists_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("listPages");  // requests for the author's pages, -1: not counted
        QTest::newRow("-I ranges") << QStringList {"-I", "1:3,15,-2::1"}
                                   << QStringList {"450001", "450002", "450003", "450015", "450044", "450045"} << 0
                                   << -1;
        QTest::newRow("-I step back") << QStringList {"-I", "5:1:-2"} << QStringList {"450005", "450003", "450001"} << 0
                                      << -1;
        QTest::newRow("-I old form") << QStringList {"--playlist-items", "44-46"} << QStringList {"450044", "450045"}
                                     << 0 << -1;
        QTest::newRow("dates") << QStringList {"--dateafter", "20160601", "--datebefore", "20160601"}
                               << QStringList {"450001", "450002", "450003", "450004", "450005", "450006", "450007",
                                      "450008", "450009", "450010", "450011", "450012"}
                               << 0 << 4;
        QTest::newRow("a relative date") << QStringList {"--dateafter", "today-2weeks"} << QStringList() << 0 << -1;
        QTest::newRow("--max-downloads") << QStringList {"--max-downloads", "2", "--no-flat"}
                                         << QStringList {"450001", "450002"} << 101 << -1;
        QTest::newRow("--break-on-existing")
            << QStringList {"--break-on-existing", "--download-archive", "ARCHIVE"} << QStringList {"450001"} << 0 << 1;
    }
    void commandLinePlaylists()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, ids);
        QFETCH(int, exitCode);
        QFETCH(int, listPages);
        QTemporaryDir dir;
        QFile archive(dir.filePath("archive.txt"));
        QVERIFY(archive.open(QIODevice::WriteOnly));
        archive.write("meipai 450002\n");
        archive.close();
        const bool flat = !options.removeAll(QStringLiteral("--no-flat"));
        options.replaceInStrings(QStringLiteral("ARCHIVE"), archive.fileName());
        if (options.contains(QStringLiteral("--download-archive")))
            options << "--download"
                    << "-P" << dir.path() << "-s";
        sim_.clearRequests();
        const ProcessResult run = runProgram(QUORVIN_EXTRACT,
            QStringList {"--all-hosts", sim_.hostPort(), "-J"} +
                (flat ? QStringList {"--flat-playlist"} : QStringList()) + options +
                QStringList {simAddress("/user/6045")});
        QCOMPARE(run.exitCode, exitCode);
        const QJsonObject playlist = QJsonDocument::fromJson(run.out).object();
        QCOMPARE(playlist.value("_type").toString(), QStringLiteral("playlist"));
        QCOMPARE(playlist.value("uploader_id").toString(), QStringLiteral("6045"));
        QStringList got;
        for (const QJsonValue &entry : playlist.value("entries").toArray()) {
            got << entry.toObject().value("id").toString();
            QCOMPARE(entry.toObject().value("playlist_id").toString(), QStringLiteral("6045"));
        }
        QCOMPARE(got, ids);
        if (listPages >= 0) {
            int asked = 0;
            for (const HttpRequest &r : sim_.requests())
                asked += r.path().startsWith("/user/") ? 1 : 0;
            QCOMPARE(asked, listPages);
        }
    }

    // A service whose description lists no authors says so, in Chinese for the window and in
    // the command line's error, for an author's address.
    void serviceWithoutListingSaysSo()
    {
        QFile built(QStringLiteral(QUORVIN_SITES_DIR "/meipai/meipai.toml"));
        QVERIFY(built.open(QIODevice::ReadOnly));
        const QByteArray text = built.readAll();
        QTemporaryDir dir;
        QFile own(dir.filePath("meipai.toml"));
        QVERIFY(own.open(QIODevice::WriteOnly));
        own.write(text.left(text.indexOf("# The addresses an author")));
        own.close();
        const ProcessResult run = runProgram(QUORVIN_EXTRACT,
            {"--sites-dir", dir.path(), "--site", "meipai", "--all-hosts", sim_.hostPort(), "-j",
                simAddress("/user/6045")});
        QCOMPARE(run.exitCode, 1);
        const QJsonObject line = QJsonDocument::fromJson(run.out).object();
        QCOMPARE(line.value("status").toString(), QStringLiteral("美拍暂不支持读取作者的全部作品"));
        QCOMPARE(line.value("error_code").toString(), QStringLiteral("no_listing"));
        QVERIFY(run.err.contains("meipai does not list an author's works"));
    }
};

QTEST_GUILESS_MAIN(TestListing)
#include "test_listing.moc"
