#include "site_limits.h"
#include "site_registry.h"
#include "site_run.h"
#include "sites.h"

#include <QTest>

namespace {

QString page(const char *name)
{
    return QString::fromUtf8(testData(QString::fromLatin1(name)));
}

QString weishiPage(const QString &id, const QString &title = "小明的微视",
    const QString &msg = "  今天 天气\r\n真好\n啊  ", const QString &avatar = "http://pic.test/head/xm.jpg")
{
    QString text = page("weishi.html");
    return text.replace("{{ID}}", id).replace("{{TITLE}}", title).replace("{{MSG}}", msg).replace("{{AVATAR}}", avatar);
}

QString weishiApi(const QString &link)
{
    QString escaped = link;
    escaped.replace("/", "\\/");
    return R"({"ret":0,"data":{"url":[")" + escaped + R"(","http:\/\/backup.test\/x.mp4"],"cover":["c"]}})";
}

}  // namespace

class TestSites : public QObject {
    Q_OBJECT
private slots:
    // Whoever wrote a description, its work is bounded: no value passes its cap (the step
    // that would make it is skipped, "value too large"), and a pattern never backtracks.
    void caps_data()
    {
        QTest::addColumn<QByteArray>("steps");
        QTest::addColumn<int>("pageUnits");
        QTest::addColumn<qsizetype>("slot30");  // its size afterwards
        QTest::addColumn<QString>("why");       // of the last step
        const QByteArray doubling = "[[step]]\nto = 30\nfrom = 30\ndo = [{ append = '{30}' }]\n";
        QTest::newRow("doubling stops at the cap") << "[[step]]\nto = 30\ntext = 'ab'\n" + doubling.repeated(40) << 10
                                                   << sitelimits::MaxValueUnits << "value too large";
        QTest::newRow("a template 2000 pages long")
            << "[[step]]\nto = 30\ntext = '" + QByteArray("{0}").repeated(2000) + "'\n"
            << 1000000 << qsizetype(0) << "value too large";
        QTest::newRow("replace that grows")
            << QByteArray("[[step]]\nto = 30\nfrom = 'page'\ndo = [{ replace = ['x', '") + QByteArray(1000, 'y') +
                "'] }]\n"
            << 1000000 << qsizetype(0) << "value too large";
        QTest::newRow("a pattern that backtracks elsewhere")
            << QByteArray("[[step]]\nto = 30\nfrom = 'page'\ndo = [{ preg = ['(x+x+)+y', 'Z'] }]\n") << 23000
            << qsizetype(23000) << "";
        QTest::newRow("{page} and {address} within the caps")
            << QByteArray("[[step]]\nto = 30\ntext = '{address}|{page}'\n") << 3
            << qsizetype(QString("http://a/media/1|xxx").size()) << "";
    }
    void caps()
    {
        QFETCH(QByteArray, steps);
        QFETCH(int, pageUnits);
        QFETCH(qsizetype, slot30);
        QFETCH(QString, why);
        const QByteArray head =
            "index = 1\ncaption = \"c\"\nname = \"test\"\n[prefixes]\npage = { host = \"MEIPAI_PAGE_HOST\", "
            "path = \"/media/\" }\n[checks]\nempty = \"a\"\nwrong_prefix = \"b\"\nonly_prefix = \"c\"\n"
            "[display]\nauthor = 8\nauthor_cut = 8\ndescription = 10\ndate = 12\ncover = 4\navatar = 6\n";
        LoadError error;
        const std::optional<SiteDescription> site = parseSiteDescription(head + steps, "test.toml", &error);
        QVERIFY2(site, qPrintable(error.reason));
        Slots rs;
        rs[SlotPage] = QString(pageUnits, u'x');
        const Hosts h = Hosts::allOn("127.0.0.1:9");
        const ExtractorContext ctx {
            [](const QString &) { return std::optional<QString>(); }, [] { return QString("http://a/media/1"); }, h};
        QList<StepTrace> trace;
        runSteps(*site, rs, ctx, &trace);
        QCOMPARE(rs[30].size(), slot30);
        QCOMPARE(trace.last().why, why);
    }

    void weishi_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("video");
        QTest::addColumn<QString>("avatar");
        QTest::addColumn<QString>("author");
        QTest::addColumn<QString>("description");
        const QString relay = "{{BASE}}/cdn.weishi.test";
        QTest::newRow("plain") << weishiPage("ab12") << "http://cdn.weishi.test/v/ab12.mp4?vkey=K1&t=2"
                               << relay + "/v/ab12.mp4?vkey=K1&t=2"
                               << "http://pic.test/head/xm.jpg"
                               << "小明"
                               << "今天天气真好\n啊";
        QTest::newRow("cdn host twice") << weishiPage("ab12")
                                        << "http://cdn.weishi.test/v/1.mp4?from=cdn.weishi.test&x=1"
                                        << relay + "/v/1.mp4?from="
                                        << "http://pic.test/head/xm.jpg"
                                        << "小明"
                                        << "今天天气真好\n啊";
        QTest::newRow("title without suffix")
            << weishiPage("ab12", "微视热门") << "http://cdn.weishi.test/a.mp4" << relay + "/a.mp4"
            << "http://pic.test/head/xm.jpg"
            << "微视热门"
            << "今天天气真好\n啊";
        QTest::newRow("avatar holding e=") << weishiPage("ab12", "小明的微视", "x", "http://pic.test/h.jpg?size=100")
                                           << "http://cdn.weishi.test/a.mp4" << relay + "/a.mp4"
                                           << "http://pic.test/h.jpg?size"
                                           << "小明"
                                           << "x";
    }
    void weishi()
    {
        QFETCH(QString, page);
        QFETCH(QString, link);
        QFETCH(QString, video);
        QFETCH(QString, avatar);
        QFETCH(QString, author);
        QFETCH(QString, description);
        SiteRun run;
        run.serve("/t/share/ab12", page);
        run.serve("/weishi/video/downloadVideo.php?v=p&vid=ab12&play=2&device=2", weishiApi(link), "application/json");
        QCOMPARE(run.extract(Weishi, "{{BASE}}/t/share/ab12"), ExtractionOutcome::Extracted);
        QCOMPARE(run.server.targets(),
            QList<QByteArray>({"/t/share/ab12", "/weishi/video/downloadVideo.php?v=p&vid=ab12&play=2&device=2"}));
        QCOMPARE(run.slot(SlotVideoUrl), run.expand(video));
        QCOMPARE(run.slot(SlotCoverUrl), run.expand("{{BASE}}/weishi_pic/0/ab12_1/480"));
        QCOMPARE(run.slot(SlotAvatarUrl), avatar);
        QCOMPARE(run.slot(SlotAuthor), author);
        QCOMPARE(run.slot(SlotDescription), description);
        QCOMPARE(run.slot(SlotDate), QString("2014-03-15 12:30"));
        QCOMPARE(run.view.status, QString("视频提取完毕.."));
    }

    void weishiSecondPageStartsFromNothing()
    {
        SiteRun run;
        run.serve("/t/1", weishiPage("ab12"));
        run.serve(
            "/weishi/video/downloadVideo.php", weishiApi("http://cdn.weishi.test/v/first.mp4"), "application/json");
        run.serve("/t/2", "<html><title>第二个的微视</title><body>没有播放器</body></html>");
        run.extract(Weishi, "{{BASE}}/t/1");
        run.extract(Weishi, "{{BASE}}/t/2");
        // Nothing of the first page: its id, cover and date are gone with its record.
        QCOMPARE(run.slot(SlotCoverUrl), run.expand("{{BASE}}/weishi_pic/0/_1/480"));
        QCOMPARE(run.slot(SlotAuthor), QString("第二个"));
        QCOMPARE(run.slot(SlotDate), QString());
        QVERIFY(!run.server.targets().last().contains("ab12"));
    }

    void meipai_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("video");
        QTest::addColumn<QString>("avatar");
        QTest::newRow("plain") << page("meipai.html") << "http://mvvideo.test/11/v.mp4"
                               << "{{BASE}}/mvavatar1/u1.jpg!thumb60";
        QString attrs = page("meipai.html");
        attrs.replace(R"(v.mp4">)", R"(v.mp4" data-poster="p.jpg">)");
        QTest::newRow("further attributes stay") << attrs << "http://mvvideo.test/11/v.mp4 data-poster=p.jpg"
                                                 << "{{BASE}}/mvavatar1/u1.jpg!thumb60";
        QString twice = page("meipai.html");
        twice.replace(R"(<img src="{{BASE}}/mvavatar1/u1.jpg!thumb60")",
            R"(<img alt="{{BASE}}/mvavatar {{BASE}}/mvavatar1/u1.jpg")");
        QTest::newRow("marker twice, quote only behind the second") << twice << "http://mvvideo.test/11/v.mp4"
                                                                    << "{{BASE}}/mvavatar";
    }
    void meipai()
    {
        QFETCH(QString, page);
        QFETCH(QString, video);
        QFETCH(QString, avatar);
        SiteRun run;
        run.serve("/media/11", page);
        run.extract(Meipai, "{{BASE}}/media/11");
        QCOMPARE(run.slot(SlotVideoUrl), video);
        QCOMPARE(run.slot(SlotCoverUrl), QString("http://mvimg.test/11/cover.jpg"));
        QCOMPARE(run.slot(SlotAvatarUrl), run.expand(avatar));
        QCOMPARE(run.slot(SlotAuthor), QString("美拍小达人"));
        QCOMPARE(run.slot(SlotDescription), QString("夏天的海边，真美"));
        QCOMPARE(run.slot(SlotDate), QString("2015-07-08 18:00"));
        QCOMPARE(run.server.requests().size(), 1);
    }

    void kuaishou()
    {
        SiteRun run;
        run.serve("/i/photo/7", page("kuaishou.html"));
        run.extract(Kuaishou, "{{BASE}}/i/photo/7");
        QCOMPARE(run.slot(SlotVideoUrl), QString("http://ks.test/v/7.mp4"));
        QCOMPARE(run.slot(12), QString("快手老铁"));
        QCOMPARE(run.slot(4), QString("今天去爬山 好累"));
        QCOMPARE(run.slot(6), QString("2015-06-01"));
        QCOMPARE(run.slot(8), QString("http://ks.test/avatar/7.jpg"));
        QCOMPARE(run.slot(10), QString("http://ks.test/cover/7.jpg"));
        QVERIFY(run.view.display->avatarViaFile);
        QCOMPARE(run.view.display->cover, QString("http://ks.test/cover/7.jpg"));
    }

    void kuaishouShareBlockForms_data()
    {
        QTest::addColumn<QString>("block");
        QTest::addColumn<QString>("author");
        QTest::addColumn<QString>("description");
        QTest::newRow("one span") << "<span>老铁:今天\t爬山 </span>"
                                  << "老铁"
                                  << "今天\t爬山";
        QTest::newRow("crlf in the name") << "\r\n<span>老\r\n铁:描述</span>"
                                          << "老铁"
                                          << "描述";
        QTest::newRow("colon in the description") << "<span>老铁:时间 12:30 出发</span>"
                                                  << "老铁"
                                                  << "时间 1230 出发";
        QTest::newRow("no closing span") << "<span>老铁:描述"
                                         << "老铁"
                                         << "";
    }
    void kuaishouShareBlockForms()
    {
        QFETCH(QString, block);
        QFETCH(QString, author);
        QFETCH(QString, description);
        SiteRun run;
        run.serve("/i/photo/8", "<div id=\"qqzone_web\">" + block + "<img src=\"http://ks.test/a.jpg\"></div>");
        run.extract(Kuaishou, "{{BASE}}/i/photo/8");
        QCOMPARE(run.slot(12), author);
        QCOMPARE(run.slot(4), description);
        QCOMPARE(run.view.display->label2, description.isEmpty() ? QString("该视频暂无描述") : description);
    }

    void weipai_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("apiTarget");
        QTest::addColumn<QString>("api");
        QTest::addColumn<QString>("video");
        QTest::newRow("plain") << "{{BASE}}/video/v1" << QByteArray("/api/weipai/video/v1")
                               << R"({"state":1,"url":"http://wp.test/v/v1","desc":"好玩的视频"})"
                               << "http://wp.test/v/v1.flv";
        QTest::newRow("already .flv") << "{{BASE}}/video/v1" << QByteArray("/api/weipai/video/v1")
                                      << R"({"url":"http://wp.test/v/v1.flv","desc":"好玩的视频"})"
                                      << "http://wp.test/v/v1.flv.flv";
        QTest::newRow("query stays in the id")
            << "{{BASE}}/video/v1?from=qq" << QByteArray("/api/weipai/video/v1?from=qq")
            << R"({"url":"http://wp.test/v/v1","desc":"好玩的视频"})"
            << "http://wp.test/v/v1.flv";
        QTest::newRow("prefix twice") << "{{BASE}}/video/{{BASE}}/video/v1" << QByteArray("/api/weipai/video/v1")
                                      << R"({"url":"http://wp.test/v/v1","desc":"好玩的视频"})"
                                      << "http://wp.test/v/v1.flv";
    }
    void weipai()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, apiTarget);
        QFETCH(QString, api);
        QFETCH(QString, video);
        SiteRun run;
        run.server.setHandler([&](const HttpRequest &r) {
            if (r.target == apiTarget)
                return HttpResponse::text(api.toUtf8(), "application/json");
            if (r.target.startsWith("/video/"))
                return HttpResponse::text(run.expand(page("weipai.html")).toUtf8());
            return HttpResponse::notFound();
        });
        run.extract(Weipai, address);
        QCOMPARE(run.server.targets().last(), apiTarget);
        QCOMPARE(run.slot(SlotVideoUrl), video);
        QCOMPARE(run.slot(SlotCoverUrl), QString("http://wp.test/cover/v1.jpg"));
        QCOMPARE(run.slot(SlotAvatarUrl), run.expand("{{BASE}}/avatar/u9.jpg"));
        QCOMPARE(run.slot(SlotAuthor), QString("微拍小王"));
        QCOMPARE(run.slot(SlotDescription), QString("好玩的视频"));
        QCOMPARE(run.slot(SlotDate), QString("2014-08-08"));
    }

    void weipaiWithoutApiAnswer()
    {
        SiteRun run;
        run.serve("/video/v2", page("weipai.html"));
        run.extract(Weipai, "{{BASE}}/video/v2");
        QCOMPARE(run.slot(SlotVideoUrl), QString(".flv"));
        QCOMPARE(run.slot(SlotDescription), QString());
        QCOMPARE(run.view.display->label2, QString("该视频暂无描述"));
    }

    void miaopai_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("id");
        QTest::newRow("htm") << "{{BASE}}/show/abc.htm"
                             << "abc";
        QTest::newRow("html keeps its l") << "{{BASE}}/show/abc.html"
                                          << "abcl";
        QTest::newRow("query and fragment never reach the links") << "{{BASE}}/show/abc.htm?x=1#t"
                                                                  << "abc";
        QTest::newRow("only the extension") << "{{BASE}}/show/.htm"
                                            << "";
    }
    void miaopai()
    {
        QFETCH(QString, address);
        QFETCH(QString, id);
        SiteRun run;
        run.server.setHandler(
            [&](const HttpRequest &) { return HttpResponse::text(run.expand(page("miaopai.html")).toUtf8()); });
        run.extract(Miaopai, address);
        QCOMPARE(run.slot(SlotVideoUrl), run.expand("{{BASE}}/stream/" + id + ".mp4"));
        QCOMPARE(run.slot(SlotCoverUrl), run.expand("{{BASE}}/stream/" + id + "_m.jpg"));
        QCOMPARE(run.slot(SlotAvatarUrl), run.expand("{{BASE}}/tp/avatar/9.jpg"));
        QCOMPARE(run.slot(SlotAuthor), QString("秒拍达人"));
        QCOMPARE(run.slot(SlotDescription), QString("今天和@朋友一起br/>玩 "));
        QCOMPARE(run.slot(SlotDate), QString("2015-03-03"));
        QCOMPARE(run.view.display->badge, Badge::Miaopai);
        QCOMPARE(run.server.requests().size(), 1);
    }

    void staleSlotsAcrossSites()
    {
        SiteRun run;
        run.serve("/media/11", page("meipai.html"));
        run.serve("/show/x.htm", "<html><title>无名</title><p>只有描述</p></html>");
        run.extract(Meipai, "{{BASE}}/media/11");
        run.extract(Miaopai, "{{BASE}}/show/x.htm");
        // The Miaopai page has no avatar and no date marker: their fields are rebuilt from
        // empty pieces, not from what the Meipai page left.
        QCOMPARE(run.slot(SlotAuthor), QString());
        QCOMPARE(run.slot(SlotDescription), QString("只有描述"));
        QCOMPARE(run.slot(SlotDate), QString());
        QCOMPARE(run.slot(SlotAvatarUrl), run.expand("{{BASE}}/tp"));
        QCOMPARE(run.slot(SlotVideoUrl), run.expand("{{BASE}}/stream/x.mp4"));
    }
};

QTEST_GUILESS_MAIN(TestSites)
#include "test_sites.moc"
