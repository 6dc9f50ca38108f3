#include "address_check.h"
#include "display.h"
#include "driver.h"
#include "headless_view.h"
#include "site_registry.h"
#include "sites.h"

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
        return driver.run();
    }
};

}  // namespace

class TestDriver : public QObject {
    Q_OBJECT
private slots:
    void addressChecks_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("message");
        const char *const empties[] = {"请您输入微视网页版地址..", "请您输入美拍网页版地址..", "请您输入快手网页版地址..",
                                       "请您输入微拍网页版地址..", "请您输入秒拍网页版地址.."};
        const QString www = QStringLiteral("如果网之前没有www，请加www");
        const QString wrong = QStringLiteral("您输入的地址有误,请检查!");
        const QString wrongs[] = {wrong + www, wrong, wrong, wrong, wrong + www};
        const QString onlys[] = {"请输入正确的微视地址.." + www, QStringLiteral("请输入正确的美拍地址.."),
                                 QStringLiteral("请输入正确的快手地址.."), QStringLiteral("请输入正确的微拍地址.."),
                                 "请输入正确的秒拍地址.." + www};
        for (int site = 0; site < SiteCount; ++site) {
            const QString prefix = pagePrefix(site, H);
            const QByteArray tag = siteCaption(site).toUtf8();
            QTest::newRow(tag + ": empty") << site << QString() << QString::fromUtf8(empties[site]);
            QTest::newRow(tag + ": no http://") << site << prefix.mid(7) + "123" << QStringLiteral("请在网之前加入http://");
            QTest::newRow(tag + ": https") << site << "https" + prefix.mid(4) + "1" << QStringLiteral("请在网之前加入http://");
            QTest::newRow(tag + ": capital scheme") << site << "HTTP" + prefix.mid(4) + "1" << QStringLiteral("请在网之前加入http://");
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

    void textBeforePrefixPasses()
    {
        for (int site = 0; site < SiteCount; ++site) {
            const QString address = "见 " + pagePrefix(site, H) + "abc";
            QCOMPARE(checkAddress(site, address, H), std::nullopt);
        }
    }

    // Every extraction starts from an empty record; one that finds no web video link says so.
    void freshRecordEachAddress_data()
    {
        QTest::addColumn<QString>("second");  // the second address's page; "refused": no page
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("author");   // the record's author after the second run
        QTest::addColumn<QString>("video");
        const QString good = "<div data-video=\"http://v.test/2.mp4\"></div><a class=\"name\">第二位</a>";
        QTest::newRow("good, then good") << good << int(ExtractionOutcome::Extracted) << "第二位" << "http://v.test/2.mp4";
        QTest::newRow("good, then a 404 page") << "<h1>404 Not Found</h1>" << int(ExtractionOutcome::NoVideoLink) << "" << "";
        QTest::newRow("good, then refused") << "refused" << int(ExtractionOutcome::FetchFailed) << "" << "";
        QTest::newRow("good, then an empty page") << "" << int(ExtractionOutcome::EmptyPage) << "" << "";
        QTest::newRow("good, then no video marker") << "<a class=\"name\">第二位</a>" << int(ExtractionOutcome::NoVideoLink) << "第二位" << "";
        QTest::newRow("good, then a local file link") << "<div data-video=\"file:///etc/passwd\"></div>" << int(ExtractionOutcome::NoVideoLink) << "" << "file:///etc/passwd";
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
        QCOMPARE(run.view.status, failed ? QString("视频提取失败..") : QString("视频提取完毕.."));
        QCOMPARE(run.result.ResultSlots[SlotAuthor], author);
        QCOMPARE(run.result.ResultSlots[SlotVideoUrl], video);
        QCOMPARE(run.result.IsPlaying, 0);
        QVERIFY(run.view.extractEnabled);
        // The result area is reset before the fetch; the display step runs for any page.
        QCOMPARE(run.view.calls.mid(0, 4), QStringList({"hideBadges", "disable", "status:正在提取视频,请稍等...", "reset"}));
        QCOMPARE(bool(run.view.display), !second.isEmpty() && second != "refused");
        if (run.view.display)
            QCOMPARE(run.view.display->author, author);
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
        QTest::newRow("weishi 20 whole") << int(Weishi) << a20 << "d" << "p" << a20 << "d" << int(Badge::None);
        QTest::newRow("weishi 21 cut") << int(Weishi) << a20 + "X" << "d" << "p" << a20 + ".." << "d" << int(Badge::None);
        QTest::newRow("meipai 8 whole") << int(Meipai) << a20.left(8) << "d" << "vip" << a20.left(8) << "d" << int(Badge::None);
        QTest::newRow("meipai 9 cut") << int(Meipai) << a20.left(9) << "d" << "" << a20.left(8) + ".." << "d" << int(Badge::None);
        QTest::newRow("weipai 9 cut") << int(Weipai) << a20.left(9) << "" << "" << a20.left(8) + ".." << "该视频暂无描述" << int(Badge::None);
        QTest::newRow("description 20 whole") << int(Meipai) << "a" << a20 << "" << "a" << a20 << int(Badge::None);
        QTest::newRow("description 21 cut") << int(Meipai) << "a" << d21 << "" << "a" << a20 + ".." << int(Badge::None);
        QTest::newRow("empty description") << int(Miaopai) << "a" << "" << "" << "a" << "该视频暂无描述" << int(Badge::None);
        QTest::newRow("weishi vip anywhere") << int(Weishi) << "a" << "d" << "<i>vip</i>" << "a" << "d" << int(Badge::Weishi);
        QTest::newRow("weishi VIP wrong case") << int(Weishi) << "a" << "d" << "VIP" << "a" << "d" << int(Badge::None);
        QTest::newRow("weishi always verified") << int(Weishi) << "Quorvin官方" << "d" << "" << "Quorvin官方" << "d" << int(Badge::Weishi);
        QTest::newRow("miaopai v.png") << int(Miaopai) << "a" << "d" << "<img src=x/v.png>" << "a" << "d" << int(Badge::Miaopai);
        QTest::newRow("miaopai vip is not its marker") << int(Miaopai) << "a" << "d" << "vip" << "a" << "d" << int(Badge::None);
        // The name is tested after cutting: the verified name cut off at 20 loses the badge.
        QTest::newRow("verified name cut away") << int(Miaopai) << QString(19, 'x') + "Quorvin" << "d" << "" << QString(19, 'x') + "Q.." << "d" << int(Badge::None);
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
        QCOMPARE(plan.label1, label1);
        QCOMPARE(plan.label2, label2);
        QCOMPARE(plan.label3, QString("2014-05-01"));
        QCOMPARE(int(plan.badge), badge);
        QCOMPARE(plan.badgeOffset, badge == int(Badge::Miaopai) ? 5 : 0);
    }

    void buildHostsCarryTheirFixedPaths()
    {
        const Hosts b = Hosts::fromBuild();
        const struct { int site; const char *key, *path; } prefixes[] = {
            {Weishi, "page", "/t"}, {Weishi, "download_api", "/weishi/video/downloadVideo.php?v=p&vid="},
            {Weishi, "relay", "/"}, {Weishi, "cover", "/weishi_pic/0/"}, {Meipai, "page", "/media/"},
            {Kuaishou, "page", "/i/photo"}, {Weipai, "page", "/video/"}, {Weipai, "api", "/api/weipai/video/"},
            {Weipai, "avatar", "/avatar"}, {Miaopai, "page", "/show/"}, {Miaopai, "stream", "/stream/"}};
        for (const auto &p : prefixes) {
            const QString value = sitePrefix(p.site, QString::fromLatin1(p.key), b);
            QVERIFY2(value.startsWith("http://") && value.endsWith(QString::fromLatin1(p.path)), qPrintable(value));
            QVERIFY(value.size() > 7 + int(qstrlen(p.path)));
        }
        QVERIFY(!b.host("WEISHI_VIDEO_CDN_HOST").contains('/'));
        QVERIFY(sitePrefix(Meipai, "avatar", b).startsWith("http://") && sitePrefix(Miaopai, "avatar", b).startsWith("http://"));
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
        QCOMPARE(plan.label1, QString("九个字的作者名字..") );
        QCOMPARE(plan.label2, QString("描述"));
        QCOMPARE(plan.label3, QString("日期"));
        QCOMPARE(plan.cover, QString("http://a/cover.jpg"));
        QCOMPARE(plan.avatar, QString("http://a/avatar.jpg"));
        QVERIFY(plan.avatarViaFile);
        QCOMPARE(plan.badge, Badge::None);
    }
};

QTEST_GUILESS_MAIN(TestDriver)
#include "test_driver.moc"
