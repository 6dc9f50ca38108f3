// An author's works in the window and the followed authors, against the simulator's authors
// served in the test: counts, what is new, what goes to the download list, follows that two
// windows agree on, and the check that finds exactly what was added.
#include "catalog.h"
#include "await.h"
#include "fixtures.h"
#include "downloads/download_list.h"
#include "history/history_store.h"
#include "settings/settings.h"
#include "sites/sites.h"
#include "works_window/followed_window.h"
#include "works_window/works_window.h"
#include "../app/works_window/works_model.h"
#include "desktop/seams.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

// The simulator's videos and pictures, compiled into its library.
static void initSimMedia()
{
    Q_INIT_RESOURCE(sim_media);
}

namespace {

// The test's own folders and the simulator, every service on its one port.
struct Harness {
    QTemporaryDir dir;
    bool set = qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8()) &&
        qputenv("XDG_DATA_HOME", dir.filePath("data").toUtf8()) &&
        qputenv("XDG_CACHE_HOME", dir.filePath("cache").toUtf8());
    HttpServer sim;
    std::unique_ptr<Catalog> catalog;
    QString history = dir.filePath("data/history.sqlite");
    Seams seams;

    Harness()
    {
        initSimMedia();
        sim.listen();
        setHosts(Hosts::allOn(sim.hostPort()));
        catalog = std::make_unique<Catalog>(hosts());
        sim.setHandler([this](const HttpRequest &r) { return catalog->answer(r); });
        QDir().mkpath(dir.filePath("videos"));  // a folder that is not there is not used
        Settings().set(Settings::Key::SaveFolder, dir.filePath("videos"));
    }
    ~Harness() { setHosts(Hosts::fromBuild()); }
    QString address(const QString &path) const { return sim.base() + path; }
    // The author's pages asked since the last clear (pictures aside).
    int pagesAsked() const
    {
        return int(std::count_if(sim.requests().cbegin(), sim.requests().cend(),
            [](const HttpRequest &r) { return r.path().startsWith("/user/"); }));
    }
};

// A saved row of the history for a video of the service.
void markSaved(history::Store &store, const QString &site, const QString &id)
{
    history::Entry e;
    e.video.site = site;
    e.video.id = id;
    e.state = history::State::Done;
    e.file = QStringLiteral("/nowhere/") + id + QStringLiteral(".mp4");
    store.add(e);
}

}  // namespace

class TestWorks : public QObject {
    Q_OBJECT
private slots:
    // The simulator's authors in the window: the count, the rows, what it says at the end;
    // works the history holds are marked and not chosen, 只选新作品 chooses the others.
    void worksWindow_data()
    {
        QTest::addColumn<int>("site");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("saved");
        QTest::addColumn<QString>("said");
        QTest::newRow("3 works") << int(Meipai) << "/user/6003" << 3 << QStringList {"30001"}
                                 << "共 3 个作品，其中 2 个新作品";
        QTest::newRow("45 works") << int(Weipai) << "/user/wpu45" << 45 << QStringList {"wp450002", "wp450003"}
                                  << "共 45 个作品，其中 43 个新作品";
        QTest::newRow("1,000 works") << int(Kuaishou) << "/i/user/ks1000" << 1000 << QStringList()
                                     << "共 1000 个作品，其中 1000 个新作品";
        QTest::newRow("none") << int(Miaopai) << "/u/mpu0" << 0 << QStringList() << "该作者还没有作品";
        QTest::newRow("gone") << int(Weishi) << "/u/ws404" << 0 << QStringList() << "该作者不存在或已注销";
    }
    void worksWindow()
    {
        QFETCH(int, site);
        QFETCH(QString, path);
        QFETCH(int, rows);
        QFETCH(QStringList, saved);
        QFETCH(QString, said);
        Harness h;
        DownloadList list(Settings(), h.history);
        for (const QString &id : saved)
            markSaved(list.store(), siteName(site), id);
        WorksWindow window(list, h.seams);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.open(site, h.address(path));
        awaitUntil([&] { return !window.listing(); });
        QCOMPARE(window.model()->rowCount(), rows);
        QCOMPARE(window.status()->text(), said);
        QCOMPARE(window.model()->chosenCount(), rows - int(saved.size()));
        QCOMPARE(window.downloadButton()->text(), QStringLiteral("下载所选 (%1)").arg(rows - saved.size()));
        if (rows == 0)
            return;
        // Each row reads as a screen reader says it.
        for (int row = 0; row < qMin(rows, 3); ++row) {
            const QString spoken = window.model()->index(row).data(Qt::AccessibleTextRole).toString();
            QVERIFY2(spoken.contains(window.model()->work(row).date), qPrintable(spoken));
            QCOMPARE(spoken.endsWith(QStringLiteral(", 已下载")), saved.contains(window.model()->work(row).id));
        }
        window.model()->chooseAll(false);
        window.newOnlyButton()->click();
        QCOMPARE(window.model()->chosenCount(), window.model()->newCount());
        // Covers only for the rows in view, never more than the bound.
        window.resize(480, 400);
        window.show();
        awaitUntil([&] { return window.model()->coversHeld() > 0; });
        QVERIFY(window.model()->coversHeld() <= 20);
        QVERIFY(window.model()->coversHeld() <= WorksModel::MostCovers);
    }

    // 下载所选: the chosen works become the list's rows, in a folder named after the author.
    void chosenWorksGoToTheList()
    {
        Harness h;
        DownloadList list(Settings(), h.history);
        list.settings().set(Settings::Key::SaveFolder, h.dir.filePath("videos"));
        WorksWindow window(list, h.seams);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.open(Meipai, h.address("/user/6045"));
        awaitUntil([&] { return !window.listing(); });
        window.chooseDays(QDate(2016, 6, 1), QDate(2016, 6, 1));
        QCOMPARE(window.model()->chosenCount(), 12);
        window.model()->chooseAll(false);
        window.model()->setData(window.model()->index(0), Qt::Checked, Qt::CheckStateRole);
        window.model()->setData(window.model()->index(44), Qt::Checked, Qt::CheckStateRole);
        QCOMPARE(window.downloadButton()->text(), QStringLiteral("下载所选 (2)"));
        window.downloadButton()->click();
        awaitUntil([&] { return list.store().recent(10).size() == 2; });
        const QList<history::Entry> rows = list.store().recent(10);
        QCOMPARE(rows.size(), 2);
        for (const history::Entry &e : rows)
            QVERIFY2(e.file.startsWith(h.dir.filePath("videos/连载小剧场/")), qPrintable(e.file));
    }

    // 关注: followed in one window, seen by another on the same history; a work added on the
    // server is exactly what 检查新作品 finds, with one page asked.
    void followAndCheck()
    {
        Harness h;
        DownloadList list(Settings(), h.history);
        DownloadList other(Settings(), h.history);
        FollowedWindow followed(other, h.seams);
        QCOMPARE(followed.view()->count(), 0);
        WorksWindow window(list, h.seams);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.open(Meipai, h.address("/user/6003"));
        awaitUntil([&] { return !window.listing(); });
        window.followButton()->click();
        QCOMPARE(window.followButton()->text(), QStringLiteral("已关注"));
        awaitUntil([&] { return followed.view()->count() == 1; });
        QCOMPARE(followed.view()->count(), 1);

        h.sim.clearRequests();
        followed.checkAll();
        awaitUntil([&] { return !followed.checking(); });
        QCOMPARE(h.pagesAsked(), 1);
        QCOMPARE(followed.newWorksOf(QStringLiteral("meipai"), QStringLiteral("6003")), 0);
        QCOMPARE(followed.status()->text(), QStringLiteral("没有新作品"));

        // The newest seen moves back one work: as if one was added since.
        history::FollowedAuthor a = *list.store().followedAuthor(QStringLiteral("meipai"), QStringLiteral("6003"));
        a.newestSeen = QStringLiteral("30001");
        list.store().follow(a);
        h.sim.clearRequests();
        followed.checkAll();
        awaitUntil([&] { return !followed.checking(); });
        QCOMPARE(h.pagesAsked(), 1);
        QCOMPARE(followed.newWorksOf(QStringLiteral("meipai"), QStringLiteral("6003")), 1);
        QCOMPARE(followed.status()->text(), QStringLiteral("1 位作者有 1 个新作品"));
    }
};

QTEST_MAIN(TestWorks)
#include "test_works.moc"
