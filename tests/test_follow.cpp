// Followed authors checked for new works against a 美拍-shaped author's page: read only as far as
// the first work seen or saved, one page for an author with nothing new, a few at a time.
#include "downloads/follow_check.h"
#include "await.h"
#include "fixtures.h"

#include <QTemporaryDir>
#include <QTest>

namespace {

// A 美拍 author's page of the given works (ids), linking next when given.
QByteArray meipaiPage(const QStringList &ids, const QString &next = QString())
{
    QString html = QStringLiteral("<html><h1 class=\"user-name\">测试作者</h1><ul>");
    for (const QString &id : ids) {
        html += QStringLiteral("<li class=\"feed-item\"><a href=\"/media/%1\" class=\"feed-link\"><img "
                               "class=\"feed-cover\" src=\"/c/%1.jpg\"></a><p class=\"feed-desc\">作品%1</p><span "
                               "class=\"feed-date\">2016-06-01 12:00</span></li>\n")
                    .arg(id);
    }
    html += QStringLiteral("</ul>");
    if (!next.isEmpty())
        html += QStringLiteral("<a class=\"next\" href=\"%1\">下一页</a>").arg(next);
    return html.toUtf8();
}

history::FollowedAuthor followed(const QString &address, const QString &id, const QString &newestSeen)
{
    history::FollowedAuthor a;
    a.site = QStringLiteral("meipai");
    a.id = id;
    a.address = address;
    a.newestSeen = newestSeen;
    a.newWorks = 7;  // what an earlier check found
    return a;
}

QStringList idsOf(const QList<ListedWork> &works)
{
    QStringList ids;
    for (const ListedWork &w : works)
        ids << w.id;
    return ids;
}

// A check run to its end: every author's result, and the listings seen running at once.
struct Checked {
    QList<FollowCheckResult> results;
    int authorsWithNew = -1;
    int newWorks = -1;
    int mostAtOnce = 0;
};

Checked checkNow(FollowCheck &check, const QList<history::FollowedAuthor> &authors, int atOnce)
{
    Checked out;
    bool finished = false;
    QObject::connect(&check, &FollowCheck::authorChecked, [&out](const FollowCheckResult &r) { out.results << r; });
    QObject::connect(&check, &FollowCheck::finished, [&](int withNew, int works) {
        out.authorsWithNew = withNew;
        out.newWorks = works;
        finished = true;
    });
    const auto runningNow = [&check, &out] {
        const QList<AuthorListing *> listings = check.findChildren<AuthorListing *>();
        const auto n = std::count_if(listings.begin(), listings.end(), [](AuthorListing *l) { return l->running(); });
        out.mostAtOnce = std::max(out.mostAtOnce, int(n));
    };
    check.check(authors, atOnce);
    awaitUntil([&] {
        runningNow();
        return finished;
    });
    return out;
}

}  // namespace

class TestFollow : public QObject {
    Q_OBJECT
private slots:
    void readsOnlyWhatIsNew_data()
    {
        QTest::addColumn<QStringList>("page");    // the author's first page; a second one follows it
        QTest::addColumn<QString>("newestSeen");  // the newest work the user saw
        QTest::addColumn<QString>("saved");       // a work the history holds as saved
        QTest::addColumn<QStringList>("newIds");
        QTest::addColumn<int>("requests");
        QTest::addColumn<int>("stored");  // the new works stored with the author (7 before)
        const QStringList served {"3", "2", "1"};
        QTest::newRow("nothing new") << served << "3"
                                     << "" << QStringList() << 1 << 0;
        QTest::newRow("a new work") << served << "2"
                                    << "" << QStringList {"3"} << 1 << 1;
        QTest::newRow("never seen: the first page") << served << ""
                                                    << "" << served << 1 << 3;
        QTest::newRow("a saved work stops it") << served << ""
                                               << "2" << QStringList {"3"} << 1 << 1;
        QTest::newRow("seen on the second page") << QStringList {"5", "4"} << "2"
                                                 << "" << QStringList {"5", "4", "3"} << 2 << 3;
        QTest::newRow("a gone author: the count kept") << QStringList() << "3"
                                                       << "" << QStringList() << 1 << 7;
    }
    void readsOnlyWhatIsNew()
    {
        QFETCH(QStringList, page);
        QFETCH(QString, newestSeen);
        QFETCH(QString, saved);
        QFETCH(QStringList, newIds);
        QFETCH(int, requests);
        QFETCH(int, stored);
        RouteServer server;
        if (!page.isEmpty()) {
            server.route("/user/9", meipaiPage(page, "/user/9?p=2"));
            server.route("/user/9?p=2", meipaiPage({"3", "2", "1"}));
        }
        const Hosts h = Hosts::allOn(server.hostPort());
        QTemporaryDir dir;
        history::Store store(dir.filePath("history.sqlite"));
        QVERIFY(store.follow(followed(server.url("/user/9"), "9", newestSeen)));
        FollowCheck check(h, store);
        check.setSaved([&saved](const QString &site, const QString &id) { return site == u"meipai" && id == saved; });
        const Checked c = checkNow(check, store.followedAuthors(), 2);
        QCOMPARE(c.results.size(), 1);
        const FollowCheckResult &r = c.results.first();
        QCOMPARE(idsOf(r.newWorks), newIds);
        QCOMPARE(server.targets().size(), requests);
        QCOMPARE(r.pagesAsked, requests);
        QCOMPARE(r.said.isEmpty(), !page.isEmpty());
        QCOMPARE(c.newWorks, int(newIds.size()));
        // Stored: checked now, the count of new works, the author's name from their page.
        const history::FollowedAuthor after = *store.followedAuthor("meipai", "9");
        QVERIFY(after.checked.isValid());
        QCOMPARE(after.newWorks, stored);
        QCOMPARE(after.newestSeen, newestSeen);
        QCOMPARE(after.name, page.isEmpty() ? QString() : QStringLiteral("测试作者"));
        QCOMPARE(r.author.newWorks, stored);
    }

    // Twenty authors with nothing new: one page each, never more listings than asked at once.
    void manyAuthorsOnePageEach()
    {
        RouteServer server;
        QTemporaryDir dir;
        history::Store store(dir.filePath("history.sqlite"));
        QList<history::FollowedAuthor> authors;
        for (int i = 1; i <= 20; ++i) {
            const QByteArray path = "/user/" + QByteArray::number(i);
            const QString newest = QString::number(i * 100 + 2);
            server.route(path, meipaiPage({newest, QString::number(i * 100 + 1)}, QString::fromUtf8(path) + "?p=2"));
            authors << followed(server.url(path), QString::number(i), newest);
            QVERIFY(store.follow(authors.last()));
        }
        FollowCheck check(Hosts::allOn(server.hostPort()), store);
        const Checked c = checkNow(check, authors, 2);
        QCOMPARE(c.results.size(), 20);
        QCOMPARE(server.targets().size(), 20);
        QCOMPARE(c.authorsWithNew, 0);
        QCOMPARE(c.newWorks, 0);
        QCOMPARE(c.mostAtOnce, 2);
        QVERIFY(!check.running());
        for (const history::FollowedAuthor &a : store.followedAuthors())
            QVERIFY(a.checked.isValid() && a.newWorks == 0);
    }
};

QTEST_GUILESS_MAIN(TestFollow)
#include "test_follow.moc"
