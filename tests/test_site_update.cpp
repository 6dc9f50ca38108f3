// Signed description sets: which are taken and which leave the set in use untouched.
#include "fetch.h"
#include "fixtures.h"
#include "site_run.h"
#include "site_store.h"
#include "site_update.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The built-in set with the 美拍 description mended for pages that moved the author.
sitebundle::SiteFiles mendedFiles(int version)
{
    sitebundle::SiteFiles set {version, QStringLiteral("2026-12-07"), sitebundle::filesIn(QUORVIN_SITES_DIR)};
    set.files.insert(sitebundle::filesIn(QStringLiteral(QUORVIN_SOURCE_DIR "/sim/site-changed")));
    return set;
}

const std::pair<QByteArray, QByteArray> &trusted()
{
    static const auto pair = sitebundle::makeKeyPair();
    return pair;
}

}  // namespace

class TestSiteUpdate : public QObject {
    Q_OBJECT
    QTemporaryDir data_;

private slots:
    void init()
    {
        QVERIFY(data_.isValid());
        QDir(data_.path()).removeRecursively();
        qputenv("XDG_DATA_HOME", data_.path().toUtf8());
        sitebundle::setTrustedKeys({QString::fromLatin1(trusted().second)});
        loadSiteDescriptions(QString());
        fetch::setTimeout(0);  // the default stall timeout, but for the row that waits for it
    }

    // Each set offered, and what is in use afterwards.
    void offeredSets_data()
    {
        QTest::addColumn<QString>("change");  // what is done to the good set
        QTest::addColumn<int>("kind");        // SiteUpdateResult::Kind
        QTest::addColumn<int>("inUse");       // the set version in use afterwards
        QTest::addColumn<QString>("why");     // the reason holds this
        const int builtIn = 1;
        QTest::newRow("good") << "" << int(SiteUpdateResult::Updated) << builtIn + 1 << "";
        QTest::newRow("signed with another key")
            << "other key" << int(SiteUpdateResult::Refused) << builtIn << "not of a trusted key";
        QTest::newRow("one byte changed")
            << "tampered" << int(SiteUpdateResult::Refused) << builtIn << "not of a trusted key";
        QTest::newRow("as old as the built-in set")
            << "version 1" << int(SiteUpdateResult::Current) << builtIn << "not newer";
        QTest::newRow("older than the set in use")
            << "after 3" << int(SiteUpdateResult::Current) << builtIn + 2 << "not newer than set 3";
        QTest::newRow("newer than the set in use: the one before is kept")
            << "after 3, 4" << int(SiteUpdateResult::Updated) << builtIn + 3 << "";
        QTest::newRow("signed with the second of two trusted keys")
            << "rotated" << int(SiteUpdateResult::Updated) << builtIn + 1 << "";
        QTest::newRow("a description does not load")
            << "bad key" << int(SiteUpdateResult::Refused) << builtIn << "unknown key \"oops\"";
        QTest::newRow("an example fails")
            << "example fails" << int(SiteUpdateResult::Refused) << builtIn << "examples/nick.html: author differs";
        QTest::newRow("a file larger than 1 MiB")
            << "large" << int(SiteUpdateResult::Refused) << builtIn << "larger than 1 MiB";
        QTest::newRow("not published (404)") << "404" << int(SiteUpdateResult::Refused) << builtIn << "HTTP status 404";
        QTest::newRow("the server does not answer")
            << "timeout" << int(SiteUpdateResult::Refused) << builtIn << "cannot fetch";
    }
    void offeredSets()
    {
        QFETCH(QString, change);
        QFETCH(int, kind);
        QFETCH(int, inUse);
        QFETCH(QString, why);
        RouteServer server;
        const Hosts h = Hosts::allOn(server.hostPort());
        const auto publish = [&](sitebundle::SiteFiles set, const QByteArray &secret) {
            const QByteArray bundle = sitebundle::pack(set);
            server.route("/sites.bundle", bundle, "application/octet-stream");
            server.route("/sites.bundle.sig", *sitebundle::sign(bundle, secret), "text/plain");
            return bundle;
        };
        QByteArray first;
        if (change.startsWith(u"after 3")) {
            first = publish(mendedFiles(3), trusted().first);
            QCOMPARE(updateSites(h).kind, SiteUpdateResult::Updated);
        }
        if (change == u"rotated")
            sitebundle::setTrustedKeys({QString::fromLatin1(sitebundle::makeKeyPair().second), trusted().second});
        sitebundle::SiteFiles set = mendedFiles(change == u"version 1" ? 1 : change == u"after 3, 4" ? 4 : 2);
        QByteArray &meipai = set.files["meipai/meipai.toml"];
        if (change == u"bad key")
            meipai.prepend("oops = 1\n");
        if (change == u"example fails")
            meipai.replace("class=\"nick\">", "class=\"nickname\">");
        if (change == u"large")
            set.files.insert("meipai/examples/large.html", QByteArray(1024 * 1024 + 1, 'x'));
        QByteArray bundle = publish(set, change == u"other key" ? sitebundle::makeKeyPair().first : trusted().first);
        if (change == u"tampered") {
            bundle[bundle.size() / 2] = char(bundle.at(bundle.size() / 2) ^ 1);
            server.route("/sites.bundle", bundle, "application/octet-stream");
        }
        if (change == u"404")
            server.route("/sites.bundle", HttpResponse::notFound());
        if (change == u"timeout") {
            fetch::setTimeout(500);
            HttpResponse slow = HttpResponse::text(bundle, "application/octet-stream");
            slow.delayMs = 3000;
            server.route("/sites.bundle", slow);
        }
        const QByteArray storedBefore = QFile(siteStorePath()).exists() ? readSignedSet(siteStorePath())->bundle : "";

        const SiteUpdateResult result = updateSites(h);
        QCOMPARE(int(result.kind), kind);
        QVERIFY2(result.reason.contains(why), qPrintable(result.reason));
        QCOMPARE(currentSites()->version, inUse);
        QCOMPARE(siteDescription(Meipai)->origin.startsWith(u"update "), inUse > 1);
        if (kind == SiteUpdateResult::Updated) {
            QCOMPARE(readSignedSet(siteStorePath())->bundle, bundle);
            if (!first.isEmpty())
                QCOMPARE(readSignedSet(previousSiteStorePath())->bundle, first);
        } else {
            const QByteArray storedAfter =
                QFile(siteStorePath()).exists() ? readSignedSet(siteStorePath())->bundle : "";
            QCOMPARE(storedAfter, storedBefore);  // nothing written
        }
        // A later start finds the same set in use.
        loadSiteDescriptions(QString());
        QCOMPARE(currentSites()->version, inUse);
    }

    // A new set arrives while an extraction's fetch step waits: the extraction ends with the
    // descriptions it started with, which live exactly as long as it needs them.
    void setReplacedDuringAFetch()
    {
        SiteRun run;
        std::weak_ptr<const SiteSet> started = currentSites();
        bool aliveDuringFetch = false;
        run.server.setHandler([&](const HttpRequest &r) {
            if (!r.target.startsWith("/api/"))
                return HttpResponse::text(examplePage("weipai/examples/plain.html", run.hosts).toUtf8());
            loadSiteDescriptions(QString());
            aliveDuringFetch = !started.expired();
            return HttpResponse::text("{\"url\":\"http://v.weipai.cn/v/v1\",\"desc\":\"d\"}", "application/json");
        });
        QCOMPARE(run.extract(Weipai, "{{BASE}}/video/v1"), ExtractionOutcome::Extracted);
        QVERIFY(aliveDuringFetch);
        QVERIFY(started.expired());
        QCOMPARE(run.slot(SlotVideoUrl), QString("http://v.weipai.cn/v/v1.flv"));
        QCOMPARE(run.slot(SlotAuthor), QString("微拍小王"));
    }
};

QTEST_GUILESS_MAIN(TestSiteUpdate)
#include "test_site_update.moc"
