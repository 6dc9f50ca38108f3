// Signed description sets: which are taken and which leave the set in use untouched.
#include "net/fetch.h"
#include "await.h"
#include "fixtures.h"
#include "site_run.h"
#include "sites/site_store.h"
#include "extract/site_update.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

// The built-in set with the 美拍 description mended for pages that moved the author.
sitebundle::SiteFiles mendedFiles(int version)
{
    sitebundle::SiteFiles set {version, QStringLiteral("2026-12-07"), sitebundle::filesIn(QUORVIN_SITES_DIR)};
    set.files.insert(sitebundle::filesIn(QStringLiteral(QUORVIN_SOURCE_DIR "/sim/site-changed")));
    return set;
}

// A bundle of a set's text as written, compressed; claimed: the size it says it unpacks to.
QByteArray rawBundle(const QByteArray &text, qint64 claimed = -1)
{
    QByteArray packed = qCompress(text, 1);
    if (claimed >= 0)
        qToBigEndian(quint32(claimed), packed.data());
    return "quorvin-sites-bundle 1\n" + packed;
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
        const int builtIn = builtInSetVersion();
        QTest::newRow("good") << "" << int(SiteUpdateResult::Updated) << builtIn + 1 << "";
        QTest::newRow("signed with another key")
            << "other key" << int(SiteUpdateResult::Refused) << builtIn << "does not verify with any trusted key";
        QTest::newRow("one byte changed")
            << "tampered" << int(SiteUpdateResult::Refused) << builtIn << "does not verify with any trusted key";
        QTest::newRow("as old as the built-in set")
            << "version 1" << int(SiteUpdateResult::Current) << builtIn << "not newer";
        QTest::newRow("older than the set in use") << "after 3" << int(SiteUpdateResult::Current) << builtIn + 2
                                                   << QString("not newer than set %1").arg(builtIn + 2);
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
        QTest::newRow("an entry's size overflows")
            << "overflow" << int(SiteUpdateResult::Refused) << builtIn << "a damaged file entry";
        QTest::newRow("claims 1,000 bytes, unpacks to 20 MiB")
            << "lying size" << int(SiteUpdateResult::Refused) << builtIn << "larger than 16 MiB unpacked";
        QTest::newRow("a description takes another's place")
            << "slot taken" << int(SiteUpdateResult::Refused) << builtIn << "index 1 is not the built-in's 0";
        QTest::newRow("a description reaches another service's host")
            << "foreign host" << int(SiteUpdateResult::Refused) << builtIn << "WEIPAI_API_HOST is not one meipai's";
        QTest::newRow("a signature wrapped at 76 columns")
            << "wrapped" << int(SiteUpdateResult::Refused) << builtIn << "one line of 88 base64 characters";
        QTest::newRow("a signature ending in CRLF") << "crlf" << int(SiteUpdateResult::Updated) << builtIn + 1 << "";
        QTest::newRow("not published (404)") << "404" << int(SiteUpdateResult::NotPublished) << builtIn << "";
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
            first = publish(mendedFiles(builtInSetVersion() + 2), trusted().first);
            QCOMPARE(awaitUpdate(h).kind, SiteUpdateResult::Updated);
        }
        if (change == u"rotated")
            sitebundle::setTrustedKeys({QString::fromLatin1(sitebundle::makeKeyPair().second), trusted().second});
        const int builtIn = builtInSetVersion();
        sitebundle::SiteFiles set = mendedFiles(builtIn +
            (change == u"version 1"           ? 0
                    : change == u"after 3, 4" ? 3
                                              : 1));
        QByteArray &meipai = set.files["meipai/meipai.toml"];
        if (change == u"bad key")
            meipai.prepend("oops = 1\n");
        if (change == u"example fails")
            meipai.replace("class=\"nick\">", "class=\"nickname\">");
        if (change == u"large")
            set.files.insert("meipai/examples/large.html", QByteArray(1024 * 1024 + 1, 'x'));
        if (change == u"slot taken") {
            set.files["weishi/weishi.toml"].replace("index = 0", "index = 1");
            set.files.remove("meipai/meipai.toml");
        }
        if (change == u"foreign host")
            meipai.replace("[checks]", "other = { host = \"WEIPAI_API_HOST\", path = \"/\" }\n[checks]");
        QByteArray bundle = publish(set, change == u"other key" ? sitebundle::makeKeyPair().first : trusted().first);
        const auto publishRaw = [&](const QByteArray &raw) {
            bundle = raw;
            server.route("/sites.bundle", bundle, "application/octet-stream");
            server.route("/sites.bundle.sig", *sitebundle::sign(bundle, trusted().first), "text/plain");
        };
        if (change == u"overflow")
            publishRaw(rawBundle("set 9\ndate d\nfile 9223372036854775807 weishi/x\nabc\n"));
        if (change == u"lying size")
            publishRaw(rawBundle("set 9\ndate d\n" + QByteArray(20 * 1024 * 1024, '\n'), 1000));
        if (change == u"wrapped" || change == u"crlf") {
            const QByteArray signature = *sitebundle::sign(bundle, trusted().first);
            server.route("/sites.bundle.sig",
                change == u"crlf" ? signature + "\r\n" : signature.left(76) + "\n" + signature.mid(76) + "\n",
                "text/plain");
        }
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

        const SiteUpdateResult result = awaitUpdate(h);
        QCOMPARE(int(result.kind), kind);
        QVERIFY2(result.reason.contains(why), qPrintable(result.reason));
        QCOMPARE(currentSites()->version, inUse);
        QCOMPARE(siteDescription(Meipai)->origin.startsWith(u"update "), inUse > builtIn);
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

    // The set in use is never lost: an interrupted store, a link in the store's place or a
    // second update at the same time leave the newest good set in use, and the next start
    // clears what an interruption left.
    void storeSequence_data()
    {
        QTest::addColumn<int>("stopAt");       // the store's step a kill stops at; 0: none
        QTest::addColumn<bool>("link");        // sites.signed is a link to the user's own file
        QTest::addColumn<bool>("concurrent");  // a second update runs at each step
        QTest::addColumn<int>("inUse");        // after the offer of set 3 over set 2 and a restart
        const int set2 = builtInSetVersion() + 1, set3 = set2 + 1;
        for (int step = 1; step <= 4; ++step)
            QTest::newRow(qPrintable(QString("killed at step %1").arg(step)))
                << step << false << false << (step < 4 ? set2 : set3);
        QTest::newRow("the store is a link") << 0 << true << false << set3;
        QTest::newRow("a second update at every step") << 0 << false << true << set3;
    }
    void storeSequence()
    {
        QFETCH(int, stopAt);
        QFETCH(bool, link);
        QFETCH(bool, concurrent);
        QFETCH(int, inUse);
        RouteServer server;
        const Hosts h = Hosts::allOn(server.hostPort());
        const auto publish = [&](int version) {
            const QByteArray bundle = sitebundle::pack(mendedFiles(version));
            server.route("/sites.bundle", bundle, "application/octet-stream");
            server.route("/sites.bundle.sig", *sitebundle::sign(bundle, trusted().first), "text/plain");
            return bundle;
        };
        const int set2 = builtInSetVersion() + 1;
        const QByteArray two = publish(set2);
        QCOMPARE(awaitUpdate(h).kind, SiteUpdateResult::Updated);
        const QString outside = data_.filePath("outside.txt");
        if (link) {
            QFile mine(outside);
            QVERIFY(mine.open(QIODevice::WriteOnly) && mine.write("the user's own file") > 0);
            mine.close();
            QFile::remove(siteStorePath());
            QVERIFY(QFile::link(outside, siteStorePath()));
        }
        const QByteArray three = publish(set2 + 1);
        QList<int> others;  // what the second update said at each step
        QStringList reasons;
        setStoreInterruption([&](int step) {
            if (concurrent) {
                const SiteUpdateResult second = awaitUpdate(h);
                others << int(second.kind);
                reasons << second.reason;
            }
            return step != stopAt;
        });
        awaitUpdate(h);
        setStoreInterruption(nullptr);
        loadSiteDescriptions(QString());  // the next start
        QCOMPARE(currentSites()->version, inUse);
        QCOMPARE(QDir(siteStoreFolder()).entryList({"sites.signed.*-*"}, QDir::Files | QDir::System), QStringList());
        if (link) {
            QFile mine(outside);
            QVERIFY(mine.open(QIODevice::ReadOnly));
            QCOMPARE(mine.readAll(), QByteArray("the user's own file"));
            QVERIFY(!QFileInfo(siteStorePath()).isSymLink());
        }
        if (concurrent)
            QCOMPARE(others,
                (QList<int> {SiteUpdateResult::Refused, SiteUpdateResult::Refused, SiteUpdateResult::Refused,
                    SiteUpdateResult::Current}));
        // Offered again, the set is taken, and the one before is kept as the previous set.
        if (inUse == set2)
            QCOMPARE(awaitUpdate(h).kind, SiteUpdateResult::Updated);
        QCOMPARE(readSignedSet(siteStorePath())->bundle, three);
        if (!link)
            QCOMPARE(readSignedSet(previousSiteStorePath())->bundle, two);
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
