#include "extract/address_check.h"
#include "extract/display.h"
#include "extract/driver.h"
#include "extract/headless_view.h"
#include "extract/readable_text.h"
#include "sites/site_registry.h"
#include "sites/sites.h"

#include "http_server.h"
#include "site_run.h"

#include <QTest>

namespace {

const Hosts H = Hosts::allOn(QStringLiteral("svc.test"));

struct Run {
    ExtractionResult result;
    HeadlessView view;
    QStringList fetched;
    std::optional<QString> page = QString();

    ExtractionOutcome go(int site, const QString &address)
    {
        view.site = site;
        view.address = address;
        ExtractionDriver driver(result, view, H, [this](const QString &url) {
            fetched << url;
            return url == view.address ? page : std::optional<QString>();
        });
        return driver.run(site, address);
    }
};

}  // namespace

class TestDriver : public QObject {
    Q_OBJECT
private slots:
    // The box edited while the page is fetched: the run keeps the address it was started
    // with, so the record never holds another video's link beside this one's id.
    void addressOfThePressForTheWholeRun_data()
    {
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("typed");
        QTest::newRow("秒拍") << "miaopai"
                              << "mp3001.htm"
                              << "mp3002.htm";
        QTest::newRow("微拍") << "weipai"
                              << "wp8001"
                              << "wp8002";
    }
    void addressOfThePressForTheWholeRun()
    {
        QFETCH(QString, site);
        QFETCH(QString, first);
        QFETCH(QString, typed);
        const int index = siteFromName(site);
        QVERIFY(index >= 0);
        Run run;
        const QString prefix = pagePrefix(index, H);
        run.page = QStringLiteral("<html><title>x</title><div class=\"nick\">作者</div></html>");
        run.view.site = index;
        run.view.address = prefix + first;
        ExtractionDriver driver(run.result, run.view, H, [&run, &prefix, &typed](const QString &url) {
            run.fetched << url;
            run.view.address = prefix + typed;  // the user edits the box during the fetch
            return run.page;
        });
        driver.run(index, prefix + first);
        const QString id = QString(first).remove(QStringLiteral(".htm"));
        const QString other = QString(typed).remove(QStringLiteral(".htm"));
        QCOMPARE(run.fetched.first(), prefix + first);
        bool ours = false;
        for (const QString &slot : run.result.ResultSlots) {
            QVERIFY2(!slot.contains(other), qPrintable(slot));
            ours = ours || slot.contains(id);
        }
        for (const QString &url : std::as_const(run.fetched)) {
            QVERIFY2(!url.contains(other), qPrintable(url));
            ours = ours || url.contains(id);
        }
        QVERIFY(ours);  // the steps did read the address
    }

    void addressChecks_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("message");
        const char *const empties[] = {"请您输入微视网页版地址..", "请您输入美拍网页版地址..",
            "请您输入快手网页版地址..", "请您输入微拍网页版地址..", "请您输入秒拍网页版地址.."};
        const QString www = QStringLiteral("如果网之前没有www，请加www");
        const QString wrong = QStringLiteral("您输入的地址有误,请检查!");
        const QString wrongs[] = {wrong + www, wrong, wrong, wrong, wrong + www};
        const QString onlys[] = {"请输入正确的微视地址.." + www, QStringLiteral("请输入正确的美拍地址.."),
            QStringLiteral("请输入正确的快手地址.."), QStringLiteral("请输入正确的微拍地址.."),
            "请输入正确的秒拍地址.." + www};
        // The five services whose texts are known here.
        for (int site = 0; site < int(std::size(empties)); ++site) {
            const QString prefix = pagePrefix(site, H);
            const QByteArray tag = siteCaption(site).toUtf8();
            QTest::newRow(tag + ": empty") << site << QString() << QString::fromUtf8(empties[site]);
            QTest::newRow(tag + ": no http://")
                << site << prefix.mid(7) + "123" << QStringLiteral("请在网之前加入http://");
            QTest::newRow(tag + ": https")
                << site << "https" + prefix.mid(4) + "1" << QStringLiteral("请在网之前加入http://");
            QTest::newRow(tag + ": capital scheme")
                << site << "HTTP" + prefix.mid(4) + "1" << QStringLiteral("请在网之前加入http://");
            QTest::newRow(tag + ": other site") << site << pagePrefix((site + 1) % SiteCount, H) + "zz" << wrongs[site];
            QTest::newRow(tag + ": prefix alone") << site << prefix << onlys[site];
            QTest::newRow(tag + ": prefix twice") << site << prefix + prefix << onlys[site];
            QTest::newRow(tag + ": space is not empty") << site << " " << QStringLiteral("请在网之前加入http://");
        }
    }
    void addressChecks()
    {
        QFETCH(int, site);
        QFETCH(QString, address);
        QFETCH(QString, message);
        Run run;
        run.result.ResultSlots[SlotVideoUrl] = "earlier";
        QCOMPARE(run.go(site, address), ExtractionOutcome::AddressRejected);
        QCOMPARE(run.view.status, message);
        // Nothing else happened: badges hidden, then only the message.
        QCOMPARE(run.view.calls, QStringList({"hideBadges", "status:" + message}));
        QVERIFY(run.fetched.isEmpty());
        QCOMPARE(run.result.ResultSlots[SlotVideoUrl], QString("earlier"));
    }

    // Share text as people paste it: the address alone, whatever surrounds it.
    void shareAddressInText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address");
        const QString p = pagePrefix(Meipai, H);
        const QString k = pagePrefix(Kuaishou, H);
        QTest::newRow("alone") << p + "1" << p + "1";
        QTest::newRow("line break and spaces") << "  " + p + "1 \r\n" << p + "1";
        QTest::newRow("美拍 share message")
            << "【美拍】" + p + "10002我在美拍发现了一个好视频，快来看看吧！" << p + "10002";
        QTest::newRow("快手 share message")
            << "复制此链接，打开【快手】直接观看！" + k + "5002复制此消息" << k + "5002";
        QTest::newRow("full-width stop and bracket") << "（" + p + "7）。" << p + "7";
        QTest::newRow("ideographic space, zero-width space, BOM")
            << QString(u'\x3000') + p + "8" + QChar(0x200b) + "x" << p + "8";
        QTest::newRow("emoji after") << p + "9" + QString::fromUtf8("\xF0\x9F\x98\x82") << p + "9";
        QTest::newRow("sentence punctuation dropped") << "see \"" + p + "3\")." << p + "3";
        QTest::newRow("query and fragment kept") << p + "4?from=share#top，" << p + "4?from=share#top";
        QTest::newRow("two run together: the first") << p + "1" + p + "2" << p + "1";
        QTest::newRow("an address in a query belongs to it")
            << p + "5?url=http://x.test/a b" << p + "5?url=http://x.test/a";
        QTest::newRow("the service's address, not the first") << "http://t.cn/x 看 " + k + "6" << k + "6";
        QTest::newRow("https taken the same way") << "看https://x.test/m/1。"
                                                  << "https://x.test/m/1";
        QTest::newRow("no service: the first address") << "http://elsewhere.test/media/1 http://b.test"
                                                       << "http://elsewhere.test/media/1";
        QTest::newRow("the prefix alone") << p + " x" << p;
        QTest::newRow("no address") << "快来看看吧"
                                    << "";
        QTest::newRow("in angle brackets") << "<" + p + "8003>" << p + "8003";
        QTest::newRow("upper-case scheme and host") << "HTTP://WWW.X.TEST/Media/1"
                                                    << "http://www.x.test/Media/1";
        QTest::newRow("typed through an input method") << "看这个" + p + "10001好看" << p + "10001";
        QTest::newRow("no scheme: left to the checks") << "www.meipai.com/media/1"
                                                       << "";
    }
    void shareAddressInText()
    {
        QFETCH(QString, text);
        QFETCH(QString, address);
        QCOMPARE(shareAddressIn(text, H), address);
    }

    // A cover address built from an empty video id stays in the record but is not loaded.
    void coverFromAnEmptyCutIsNotLoaded()
    {
        Run run;
        run.page = "<title>某人的微视</title>";
        run.go(Weishi, pagePrefix(Weishi, H) + "/1");
        QCOMPARE(run.result.ResultSlots[SlotCoverUrl], prefixAddress(*siteDescription(Weishi), "cover", H) + "_1/480");
        QVERIFY(run.view.display && !run.view.display->loadCover && run.view.display->loadAvatar);
    }

    // An address is a service's only when it begins with its page prefix: one that merely
    // holds it would be fetched from whatever host it begins with.
    void addressMustBeginWithThePrefix()
    {
        for (int site = 0; site < SiteCount; ++site) {
            const QString prefix = pagePrefix(site, H);
            QCOMPARE(checkAddress(site, prefix + "abc", H), std::nullopt);
            for (const QString &address : {"见 " + prefix + "abc", "http://127.0.0.1:9/?u=" + prefix + "10002"})
                QCOMPARE(checkAddress(site, address, H), siteDescription(site)->checkWrongPrefix);
        }
    }

    // Every extraction starts from an empty record; one that finds no web video link says so.
    // A failed extraction says why, for people and for scripts, from the fetch's own reason;
    // an error page fails even when a link can be built from the address (秒拍).
    void failureSaysWhy_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<int>("status");  // 0: nothing listens
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("code");
        QTest::newRow("秒拍 404 with a built link") << int(Miaopai) << 404 << "<h1>Not Found</h1>"
                                                    << "页面不存在: 404"
                                                    << "http_status";
        QTest::newRow("503") << int(Meipai) << 503 << "busy"
                             << "服务器错误: 503"
                             << "http_status";
        QTest::newRow("403") << int(Meipai) << 403 << "no"
                             << "页面无法访问: 403"
                             << "http_status";
        QTest::newRow("refused") << int(Meipai) << 0 << ""
                                 << "无法连接到服务器"
                                 << "fetch_failed";
        QTest::newRow("no marker") << int(Meipai) << 200 << "<p>hi</p>"
                                   << "页面中没有找到视频"
                                   << "no_video_link";
        QTest::newRow("empty") << int(Meipai) << 200 << ""
                               << "页面是空的"
                               << "empty_page";
        // Each search for a link tag may read the rest of the paragraph: past the work budget.
        QTest::newRow("a paragraph of 100,000 links")
            << int(Miaopai) << 200 << "<p>" + QString("<a>").repeated(100000) + "</p>"
            << "页面太复杂"
            << "work_limit";
    }
    void failureSaysWhy()
    {
        QFETCH(int, site);
        QFETCH(int, status);
        QFETCH(QString, body);
        QFETCH(QString, reason);
        QFETCH(QString, code);
        HttpServer server;
        QVERIFY(server.listen());
        server.setHandler([&](const HttpRequest &) {
            HttpResponse r = HttpResponse::text(body.toUtf8());
            r.status = status;
            return r;
        });
        const Hosts hosts = Hosts::allOn(status == 0 ? QStringLiteral("127.0.0.1:9") : server.hostPort());
        const QString address = pagePrefix(site, hosts) + "mp3001.htm";
        ExtractionResult result;
        HeadlessView view;
        view.site = site;
        view.address = address;
        ExtractionDriver driver(result, view, hosts);
        QVERIFY(extractionFailed(awaitRun(driver, site, address)));
        QCOMPARE(view.status, "视频提取失败..(" + reason + ")");
        QCOMPARE(driver.failure().code, code);
        QVERIFY(result.Failed);
        QCOMPARE(bool(view.display), status != 0 && !body.isEmpty());
    }

    void freshRecordEachAddress_data()
    {
        QTest::addColumn<QString>("second");  // the second address's page; "refused": no page
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("author");  // the record's author after the second run
        QTest::addColumn<QString>("video");
        const QString good = "<div data-video=\"http://v.test/2.mp4\"></div><a class=\"name\">第二位</a>";
        QTest::newRow("good, then good") << good << int(ExtractionOutcome::Extracted) << "第二位"
                                         << "http://v.test/2.mp4";
        QTest::newRow("good, then a 404 page") << "<h1>404 Not Found</h1>" << int(ExtractionOutcome::NoVideoLink) << ""
                                               << "";
        QTest::newRow("good, then refused") << "refused" << int(ExtractionOutcome::FetchFailed) << ""
                                            << "";
        QTest::newRow("good, then an empty page") << "" << int(ExtractionOutcome::EmptyPage) << ""
                                                  << "";
        QTest::newRow("good, then no video marker")
            << "<a class=\"name\">第二位</a>" << int(ExtractionOutcome::NoVideoLink) << "第二位"
            << "";
        QTest::newRow("good, then a local file link")
            << "<div data-video=\"file:///etc/passwd\"></div>" << int(ExtractionOutcome::NoVideoLink) << ""
            << "file:///etc/passwd";
    }
    void freshRecordEachAddress()
    {
        QFETCH(QString, second);
        QFETCH(int, outcome);
        QFETCH(QString, author);
        QFETCH(QString, video);
        Run run;
        run.page = "<div data-video=\"http://v.test/1.mp4\"></div><a class=\"name\">第一位</a>";
        QCOMPARE(run.go(Meipai, pagePrefix(Meipai, H) + "1"), ExtractionOutcome::Extracted);
        QCOMPARE(run.view.status, QString("视频提取完毕.."));
        QVERIFY(!run.result.Failed);
        run.view.calls.clear();
        run.view.display.reset();
        run.result.IsPlaying = 1;
        run.page = second == "refused" ? std::optional<QString>() : std::optional<QString>(second);
        QCOMPARE(int(run.go(Meipai, pagePrefix(Meipai, H) + "2")), outcome);

        const bool failed = outcome != int(ExtractionOutcome::Extracted);
        QCOMPARE(run.result.Failed, failed);
        QVERIFY(run.view.status.startsWith(failed ? QString("视频提取失败..(") : QString("视频提取完毕..")));
        QCOMPARE(run.result.ResultSlots[SlotAuthor], author);
        QCOMPARE(run.result.ResultSlots[SlotVideoUrl], video);
        QCOMPARE(run.result.IsPlaying, 0);
        QVERIFY(run.view.extractEnabled);
        // The result area is reset before the fetch; the display step runs for any page.
        QCOMPARE(
            run.view.calls.mid(0, 4), QStringList({"hideBadges", "disable", "status:正在提取视频,请稍等...", "reset"}));
        QCOMPARE(bool(run.view.display), !second.isEmpty() && second != "refused");
        if (run.view.display)
            QCOMPARE(run.view.display->author, author);
    }

    // Page text as people read it; what is not a reference to a shown character stays.
    void readableTexts_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("text");
        QTest::newRow("named") << "Tom &amp; &lt;b&gt; &quot;x&quot; &#39;y&#39;"
                               << "Tom & <b> \"x\" 'y'";
        QTest::newRow("numeric") << "&#x4e2d;&#20013;&#X4E2D;"
                                 << "中中中";
        QTest::newRow("read once") << "&amp;lt;"
                                   << "&lt;";
        QTest::newRow("line breaks") << "a<br>b<BR/>c <br /> d"
                                     << "a b c d";
        QTest::newRow("breaks in a row") << "a<br><br/>\nb"
                                         << "a b";
        QTest::newRow("a break a cut left") << "爬山br/>风景"
                                            << "爬山 风景";
        QTest::newRow("a word ending in br stays") << "abr/> x"
                                                   << "abr/> x";
        QTest::newRow("unknown, control, beyond Unicode, unclosed") << "&bogus; &#27; &#x110000; &#0; &amp"
                                                                    << "&bogus; &#27; &#x110000; &#0; &amp";
    }
    void readableTexts()
    {
        QFETCH(QString, raw);
        QFETCH(QString, text);
        QCOMPARE(readableText(raw), text);
    }

    void display_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QString>("author");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("label1");
        QTest::addColumn<QString>("label2");
        QTest::addColumn<int>("badge");
        const QString a20 = QStringLiteral("一二三四五六七八九十一二三四五六七八九十");
        const QString d21 = a20 + "廿";
        QTest::newRow("weishi 20 whole") << int(Weishi) << a20 << "d"
                                         << "p" << a20 << "d" << int(Badge::None);
        QTest::newRow("weishi 21 cut") << int(Weishi) << a20 + "X"
                                       << "d"
                                       << "p" << a20 + ".."
                                       << "d" << int(Badge::None);
        QTest::newRow("meipai 8 whole") << int(Meipai) << a20.left(8) << "d"
                                        << "vip" << a20.left(8) << "d" << int(Badge::None);
        QTest::newRow("meipai 9 cut") << int(Meipai) << a20.left(9) << "d"
                                      << "" << a20.left(8) + ".."
                                      << "d" << int(Badge::None);
        QTest::newRow("weipai 9 cut") << int(Weipai) << a20.left(9) << ""
                                      << "" << a20.left(8) + ".."
                                      << "该视频暂无描述" << int(Badge::None);
        QTest::newRow("description 20 whole") << int(Meipai) << "a" << a20 << ""
                                              << "a" << a20 << int(Badge::None);
        QTest::newRow("description 21 cut") << int(Meipai) << "a" << d21 << ""
                                            << "a" << a20 + ".." << int(Badge::None);
        QTest::newRow("empty description") << int(Miaopai) << "a"
                                           << ""
                                           << ""
                                           << "a"
                                           << "该视频暂无描述" << int(Badge::None);
        QTest::newRow("weishi vip anywhere") << int(Weishi) << "a"
                                             << "d"
                                             << "<i>vip</i>"
                                             << "a"
                                             << "d" << int(Badge::Weishi);
        QTest::newRow("weishi VIP wrong case") << int(Weishi) << "a"
                                               << "d"
                                               << "VIP"
                                               << "a"
                                               << "d" << int(Badge::None);
        QTest::newRow("weishi always verified") << int(Weishi) << "Quorvin官方"
                                                << "d"
                                                << ""
                                                << "Quorvin官方"
                                                << "d" << int(Badge::Weishi);
        QTest::newRow("miaopai v.png") << int(Miaopai) << "a"
                                       << "d"
                                       << "<img src=x/v.png>"
                                       << "a"
                                       << "d" << int(Badge::Miaopai);
        QTest::newRow("miaopai vip is not its marker") << int(Miaopai) << "a"
                                                       << "d"
                                                       << "vip"
                                                       << "a"
                                                       << "d" << int(Badge::None);
        // The name is tested after cutting: the verified name cut off at 20 loses the badge.
        QTest::newRow("verified name cut away") << int(Miaopai) << QString(19, 'x') + "Quorvin"
                                                << "d"
                                                << "" << QString(19, 'x') + "Q.."
                                                << "d" << int(Badge::None);
        // Character references and line breaks are read before the cuts and the badge.
        QTest::newRow("references read before the cut")
            << int(Meipai) << QString("&amp;").repeated(9) << "Tom &amp; &lt;b&gt;"
            << "" << QString(8, '&') + ".."
            << "Tom & <b>" << int(Badge::None);
        QTest::newRow("a line break left as br/> in the description")
            << int(Meipai) << "a"
            << "和@小伙伴一起去爬山br/>风景超棒"
            << ""
            << "a"
            << "和@小伙伴一起去爬山 风景超棒" << int(Badge::None);
        QTest::newRow("a verified name written with references") << int(Weishi) << "&#81;uorvin"
                                                                 << "d"
                                                                 << ""
                                                                 << "Quorvin"
                                                                 << "d" << int(Badge::Weishi);
    }
    void display()
    {
        QFETCH(int, site);
        QFETCH(QString, author);
        QFETCH(QString, description);
        QFETCH(QString, page);
        QFETCH(QString, label1);
        QFETCH(QString, label2);
        QFETCH(int, badge);
        Slots s;
        s[SlotPage] = page;
        s[SlotAuthor] = author;
        s[SlotDescription] = description;
        s[SlotDate] = "2014-05-01";
        const DisplayPlan plan = planDisplay(site, s, H);
        QCOMPARE(plan.authorCaption, label1);
        QCOMPARE(plan.descriptionCaption, label2);
        QCOMPARE(plan.date, QString("2014-05-01"));
        QCOMPARE(int(plan.badge), badge);
        QCOMPARE(plan.badgeOffset, badge == int(Badge::Miaopai) ? 5 : 0);
    }

    void buildHostsCarryTheirFixedPaths()
    {
        const Hosts b = Hosts::fromBuild();
        const struct {
            int site;
            const char *key, *path;
        } prefixes[] = {{Weishi, "page", "/t"}, {Weishi, "download_api", "/weishi/video/downloadVideo.php?v=p&vid="},
            {Weishi, "relay", "/"}, {Weishi, "cover", "/weishi_pic/0/"}, {Meipai, "page", "/media/"},
            {Kuaishou, "page", "/i/photo"}, {Weipai, "page", "/video/"}, {Weipai, "api", "/api/weipai/video/"},
            {Weipai, "avatar", "/avatar"}, {Miaopai, "page", "/show/"}, {Miaopai, "stream", "/stream/"}};
        for (const auto &p : prefixes) {
            const QString value = sitePrefix(p.site, QString::fromLatin1(p.key), b);
            QVERIFY2(value.startsWith("http://") && value.endsWith(QString::fromLatin1(p.path)), qPrintable(value));
            QVERIFY(value.size() > 7 + int(qstrlen(p.path)));
        }
        QVERIFY(!b.host("WEISHI_VIDEO_CDN_HOST").contains('/'));
        QVERIFY(sitePrefix(Meipai, "avatar", b).startsWith("http://") &&
            sitePrefix(Miaopai, "avatar", b).startsWith("http://"));
        QVERIFY(!b.ForumUrl.endsWith('/'));
        QVERIFY(!b.AlwaysVerifiedAuthor.isEmpty());
        QCOMPARE(AppMessageTitle, QString("Quorvin系列软件"));
    }

    void kuaishouRowUsesItsOwnLayout()
    {
        Slots s;
        s[4] = "描述";
        s[6] = "日期";
        s[8] = "http://a/avatar.jpg";
        s[10] = "http://a/cover.jpg";
        s[12] = "九个字的作者名字啊";
        s[SlotPage] = "vip v.png";
        const DisplayPlan plan = planDisplay(Kuaishou, s, H);
        QCOMPARE(plan.authorCaption, QString("九个字的作者名字.."));
        QCOMPARE(plan.descriptionCaption, QString("描述"));
        QCOMPARE(plan.date, QString("日期"));
        QCOMPARE(plan.cover, QString("http://a/cover.jpg"));
        QCOMPARE(plan.avatar, QString("http://a/avatar.jpg"));
        QVERIFY(plan.avatarViaFile);
        QCOMPARE(plan.badge, Badge::None);
    }
};

QTEST_GUILESS_MAIN(TestDriver)
#include "test_driver.moc"
