#include "pattern.h"
#include "site_host_rule.h"
#include "site_limits.h"
#include "sites/site_registry.h"
#include "extract/site_examples.h"
#include "site_run.h"
#include "sites/sites.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
        QTest::newRow("a template 2000 pages long") << "[[step]]\nto = 30\ntext = \"\"\"\\\n" +
                (QByteArray("{0}").repeated(100) + "\\\n").repeated(20) + "\"\"\"\n"
                                                    << 1000000 << qsizetype(0) << "value too large";
        QTest::newRow("replace that grows")
            << QByteArray("[[step]]\nto = 30\nfrom = 'page'\ndo = [{ replace = ['x', '") + QByteArray(1000, 'y') +
                "'] }]\n"
            << 1000000 << qsizetype(0) << "value too large";
        QTest::newRow("a pattern that backtracks elsewhere")
            << QByteArray("[[step]]\nto = 30\nfrom = 'page'\ndo = [{ preg = ['(x+x+)+y', 'Z'] }]\n") << 23000
            << qsizetype(23000) << "";
        QTest::newRow("a search that reads on to the end every time")
            << QByteArray("[[step]]\nto = 30\nfrom = 'page'\ndo = [{ preg = ['x[^z]*z|x', 'b'] }]\n") << 200000
            << qsizetype(0) << "work limit reached";
        QTest::newRow("100 replaces of a 16 MiB page")
            << "[[step]]\nto = 30\nfrom = 'page'\ndo = [" +
                QByteArray("{ replace = ['x', 'y'] }, { replace = ['y', 'x'] }, ").repeated(50) + "]\n"
            << int(sitelimits::MaxValueUnits) << qsizetype(0) << "work limit reached";
        QTest::newRow("a replacement 400 times its match")
            << "[[step]]\nto = 30\nfrom = 'page'\ndo = [{ preg = ['(.+)', '" + QByteArray("\\1").repeated(400) +
                "'] }]\n"
            << 1024 * 1024 << qsizetype(0) << "value too large";
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

    // A description that replaces a built-in one reaches only its namesake's hosts; one of a
    // new service only its own page host.
    void hostsAreTheServicesOwn_data()
    {
        QTest::addColumn<QString>("namesake");  // "" for a new service
        QTest::addColumn<QByteArray>("prefixes");
        QTest::addColumn<QByteArray>("fetch");  // a fetch step's address, "" for none
        QTest::addColumn<QString>("why");       // "" when kept to its hosts
        const QByteArray page = "page = { host = \"WEIPAI_PAGE_HOST\", path = \"/video/\" }\n";
        const QByteArray api = "api = { host = \"WEIPAI_API_HOST\", path = \"/api/\" }\n";
        QTest::newRow("weipai fetching its interface") << "weipai" << page + api << QByteArray("{prefix:api}x") << "";
        QTest::newRow("weipai naming another service's host")
            << "weipai" << page + "o = { host = \"MEIPAI_PAGE_HOST\", path = \"/\" }\n"
            << QByteArray() << "the host MEIPAI_PAGE_HOST is not one weipai's built-in description uses";
        QTest::newRow("weipai fetching from its avatar host")
            << "weipai" << page + "a = { host = \"WEIPAI_AVATAR_HOST\", path = \"/\" }\n"
            << QByteArray("{prefix:a}x") << "a fetch from WEIPAI_AVATAR_HOST, where weipai's built-in";
        QTest::newRow("a new service on its page host") << "" << page << QByteArray("{prefix:page}x") << "";
        QTest::newRow("a new service with a second host")
            << "" << page + api << QByteArray() << "the host WEIPAI_API_HOST is not one a new service uses";
    }
    void hostsAreTheServicesOwn()
    {
        QFETCH(QString, namesake);
        QFETCH(QByteArray, prefixes);
        QFETCH(QByteArray, fetch);
        QFETCH(QString, why);
        const QByteArray text = "index = 3\ncaption = \"c\"\nname = \"x\"\n[prefixes]\n" + prefixes +
            "[checks]\nempty = \"a\"\nwrong_prefix = \"b\"\nonly_prefix = \"c\"\n[display]\nauthor = 8\n"
            "author_cut = 8\ndescription = 10\ndate = 12\ncover = 4\navatar = 6\n[[step]]\nto = 30\n" +
            (fetch.isEmpty() ? QByteArray("text = 'x'\n") : "fetch = '" + fetch + "'\n");
        LoadError error;
        const std::optional<SiteDescription> own = parseSiteDescription(text, "x.toml", &error);
        QVERIFY2(own, qPrintable(error.reason));
        const SiteDescription *builtIn = namesake.isEmpty() ? nullptr : siteDescription(siteFromName(namesake));
        const std::optional<LoadError> refused = foreignHost(*own, builtIn, Hosts::fromBuild());
        QCOMPARE(refused.value_or(LoadError()).reason.left(why.size()), why);
        QCOMPARE(bool(refused), !why.isEmpty());
    }

    // Every built-in description's examples pass under the examples' own hosts.
    void builtInExamples_data()
    {
        QTest::addColumn<int>("site");
        for (int site = 0; site < SiteCount; ++site)
            QTest::newRow(qPrintable(siteName(site))) << site;
    }
    void builtInExamples()
    {
        QFETCH(int, site);
        const QList<ExampleOutcome> outcomes = runExamples(*siteDescription(site));
        QVERIFY(outcomes.size() >= 3);
        for (const ExampleOutcome &outcome : outcomes)
            QVERIFY2(outcome.passed(), qPrintable(describeOutcome(outcome)));
    }

    // What an example that fails says: the first field that differs, wanted and got; a file
    // that is not there.
    void failingExampleSaysWhat_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("said");
        QTest::newRow("author moved") << QByteArray("class=\"name\">") << QByteArray("class=\"nick\">")
                                      << "examples/plain.html: author differs: want \"美拍小达人\", got \"\"";
        QTest::newRow("page file missing")
            << QByteArray("page = \"examples/plain.html\"") << QByteArray("page = \"examples/gone.html\"")
            << "examples/gone.html: cannot read examples/gone.html";
        QTest::newRow("the author's name moved")
            << QByteArray("'<h1 class=\"user-name\">'") << QByteArray("'<h1 class=\"nick\">'")
            << "listing examples/author.html, examples/author-link.html: name differs: want \"连载小剧场\", got \"\"";
        QTest::newRow("the author link moved") << QByteArray("'<a href=\"/user/'") << QByteArray("'<a href=\"/u/'")
                                               << "listing examples/author.html, examples/author-link.html: uid "
                                                  "differs: want \"6045\", got \"\"";
    }
    void failingExampleSaysWhat()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, said);
        const SiteDescription &builtIn = *siteDescription(Meipai);
        QByteArray text = *builtIn.readFile(builtIn.file);
        text.replace(from, to);
        LoadError error;
        std::optional<SiteDescription> site = parseSiteDescription(text, "meipai.toml", &error);
        QVERIFY2(site, qPrintable(error.reason));
        site->readFile = builtIn.readFile;
        const QList<ExampleOutcome> outcomes = runExamples(*site);
        const auto failed = std::find_if(outcomes.cbegin(), outcomes.cend(), [](const auto &o) { return !o.passed(); });
        QVERIFY(failed != outcomes.cend());
        const ExampleOutcome &first = *failed;
        QCOMPARE(describeOutcome(first), said);
    }

    // What the examples cannot see: the interface addresses the fetch steps build.
    void fetchAddresses_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("page");
        QTest::addColumn<QByteArray>("fetched");
        const QString weishi = examplePage("weishi/examples/plain.html", Hosts());
        const QString weipai = examplePage("weipai/examples/plain.html", Hosts());
        QTest::newRow("weishi") << int(Weishi) << "{{BASE}}/t/share/ab12" << weishi
                                << QByteArray("/weishi/video/downloadVideo.php?v=p&vid=ab12&play=2&device=2");
        QTest::newRow("weipai: the query stays in the id")
            << int(Weipai) << "{{BASE}}/video/v1?from=qq" << weipai << QByteArray("/api/weipai/video/v1?from=qq");
        QTest::newRow("weipai: the prefix twice")
            << int(Weipai) << "{{BASE}}/video/{{BASE}}/video/v1" << weipai << QByteArray("/api/weipai/video/v1");
    }
    void fetchAddresses()
    {
        QFETCH(int, site);
        QFETCH(QString, address);
        QFETCH(QString, page);
        QFETCH(QByteArray, fetched);
        SiteRun run;
        run.server.setHandler([&](const HttpRequest &r) {
            return r.target == fetched ? HttpResponse::text("{}", "application/json")
                                       : HttpResponse::text(page.toUtf8());
        });
        run.extract(site, address);
        QCOMPARE(run.server.targets().size(), 2);
        QCOMPARE(run.server.targets().last(), fetched);
    }

    // A folder of files full of patterns never adds up past the patterns' memory budget: the
    // files past it are refused, and their services keep their built-in descriptions.
    void patternMemoryIsBoundedAcrossFiles()
    {
        QTemporaryDir folder;
        const QByteArray patterns = "\n[[step]]\nto = 30\nfrom = 'page'\ndo = [" +
            QByteArray("{ preg = ['a', 'b'] }, ").repeated(sitelimits::MaxPatterns - 1) + "{ preg = ['a', 'b'] }]\n";
        for (int site = 0; site < SiteCount; ++site) {
            QFile builtIn(":/sites/" + siteName(site) + "/" + siteName(site) + ".toml");
            QFile own(folder.filePath(siteName(site) + ".toml"));
            QVERIFY(builtIn.open(QIODevice::ReadOnly) && own.open(QIODevice::WriteOnly));
            own.write(builtIn.readAll() + patterns);
        }
        loadSiteDescriptions(folder.path());
        const qint64 perFile = sitelimits::MaxPatterns * sitelimits::PatternMaxMem;
        QCOMPARE(refusedSiteFiles().size(), SiteCount - int(sitelimits::MaxPatternMemory / perFile));
        QVERIFY(Pattern::memoryInUse() <= sitelimits::MaxPatternMemory);
        QCOMPARE(siteDescription(Miaopai)->origin, "built-in");
        loadSiteDescriptions(QString());
        QCOMPARE(Pattern::memoryInUse(), 0);
    }
    // Descriptions read on a thread of their own at start are the ones a load on the spot
    // makes: the user's files used or refused alike, and the first reader waits for them.
    void preloadLoadsAsTheSpotDoes()
    {
        QTemporaryDir config;
        const QByteArray before = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
        QVERIFY(QDir().mkpath(userSitesFolder()));
        QFile builtIn(":/sites/meipai/meipai.toml");
        QFile own(userSitesFolder() + "/meipai.toml");
        QFile broken(userSitesFolder() + "/weipai.toml");
        QVERIFY(
            builtIn.open(QIODevice::ReadOnly) && own.open(QIODevice::WriteOnly) && broken.open(QIODevice::WriteOnly));
        own.write(builtIn.readAll());
        broken.write("name = ");
        own.close();
        broken.close();
        loadSiteDescriptions(userSitesFolder());
        const QStringList refused = refusedSiteFiles();
        const QString origin = siteDescription(Meipai)->origin;
        loadSiteDescriptions(QString());
        {
            const SiteDescriptionsPreload preload;
            QCOMPARE(refusedSiteFiles(), refused);
            QCOMPARE(siteDescription(Meipai)->origin, origin);
        }
        QCOMPARE(refused, QStringList {"weipai.toml"});
        QVERIFY(origin.endsWith("/meipai.toml"));
        loadSiteDescriptions(QString());
        qputenv("XDG_CONFIG_HOME", before);
    }
};

QTEST_GUILESS_MAIN(TestSites)
#include "test_sites.moc"
