// The download history's database: opening and migrating, a broken file moved aside, a writer
// killed mid-write, rows held by another process, and the authors followed.
#include "history/history_store.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QDir>
#include <QFileInfo>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

history::Entry sample(const QString &id)
{
    history::Entry e;
    e.video.site = QStringLiteral("meipai");
    e.video.id = id;
    e.video.address = QStringLiteral("http://www.meipai.com/media/") + id;
    e.video.link = QStringLiteral("http://mvvideo1.meipai.com/") + id + QStringLiteral(".mp4");
    e.file = QStringLiteral("/tmp/") + id + QStringLiteral(".mp4");
    e.video.description = QStringLiteral("海边的日落 🌅");
    return e;
}

// Writes a file with SQL as an older program would have left it.
void writeRaw(const QString &path, const QStringList &statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery q(db);
        for (const QString &s : statements)
            QVERIFY2(q.exec(s), qPrintable(s));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("raw"));
}

// A database as the first version of the program left it, with one saved row or none.
QStringList version1(bool withRow)
{
    QStringList sql = {"CREATE TABLE downloads (id INTEGER PRIMARY KEY, site TEXT NOT NULL, video_id TEXT NOT NULL, "
                       "address TEXT NOT NULL, link TEXT NOT NULL, file TEXT NOT NULL, size INTEGER NOT NULL DEFAULT "
                       "-1, started INTEGER, finished INTEGER, state TEXT NOT NULL, reason TEXT NOT NULL DEFAULT '', "
                       "owner INTEGER NOT NULL DEFAULT 0)",
        "CREATE INDEX downloads_video ON downloads (site, video_id)", "PRAGMA user_version=1"};
    if (withRow)
        sql << "INSERT INTO downloads (site, video_id, address, link, file, state) VALUES ('weishi', '7', "
               "'http://weishi.qq.com/t/7', 'http://v/7.mp4', '/tmp/7.mp4', 'done')";
    return sql;
}

// Version 2 with rows 3 and 9 (a row 10 once came after them and was deleted).
QStringList version2WithRows()
{
    QStringList sql = version1(false);
    sql.removeLast();
    sql << "ALTER TABLE downloads ADD COLUMN description TEXT NOT NULL DEFAULT ''"
        << "ALTER TABLE downloads ADD COLUMN author TEXT NOT NULL DEFAULT ''"
        << "ALTER TABLE downloads ADD COLUMN cover TEXT NOT NULL DEFAULT ''"
        << "ALTER TABLE downloads ADD COLUMN done INTEGER NOT NULL DEFAULT 0"
        << "CREATE INDEX downloads_state ON downloads (state)";
    for (const char *id : {"3", "9", "10"})
        sql << QStringLiteral("INSERT INTO downloads (id, site, video_id, address, link, file, state, description, "
                              "done) VALUES (%1, 'meipai', '%1', 'http://www.meipai.com/media/%1', 'http://v/%1.mp4', "
                              "'/tmp/%1.mp4', 'done', '海边 %1', 77)")
                   .arg(QLatin1String(id));
    return sql << "DELETE FROM downloads WHERE id = 10"
               << "PRAGMA user_version=2";
}

// A history as the previous version wrote it: ids by AUTOINCREMENT, rows 3 and 9.
QStringList version3WithRows()
{
    QStringList sql = version2WithRows();
    sql.removeLast();
    return sql << "CREATE TABLE downloads_next (id INTEGER PRIMARY KEY AUTOINCREMENT, site TEXT NOT NULL, video_id "
                  "TEXT NOT NULL, address TEXT NOT NULL, link TEXT NOT NULL, file TEXT NOT NULL, size INTEGER NOT "
                  "NULL DEFAULT -1, started INTEGER, finished INTEGER, state TEXT NOT NULL, reason TEXT NOT NULL "
                  "DEFAULT '', owner INTEGER NOT NULL DEFAULT 0, description TEXT NOT NULL DEFAULT '', author TEXT "
                  "NOT NULL DEFAULT '', cover TEXT NOT NULL DEFAULT '', done INTEGER NOT NULL DEFAULT 0, date TEXT "
                  "NOT NULL DEFAULT '', avatar TEXT NOT NULL DEFAULT '', sidecars TEXT NOT NULL DEFAULT '')"
               << "INSERT INTO downloads_next (id, site, video_id, address, link, file, size, started, finished, "
                  "state, reason, owner, description, author, cover, done) SELECT id, site, video_id, address, link, "
                  "file, size, started, finished, state, reason, owner, description, author, cover, done FROM "
                  "downloads"
               << "DROP TABLE downloads"
               << "ALTER TABLE downloads_next RENAME TO downloads"
               << "PRAGMA user_version=3";
}

// The previous version's history: a conversion after the download, rows 3 and 9.
QStringList version4WithRows()
{
    QStringList sql = version3WithRows();
    sql.removeLast();
    return sql << "ALTER TABLE downloads ADD COLUMN convert_to TEXT NOT NULL DEFAULT ''"
               << "ALTER TABLE downloads ADD COLUMN original TEXT NOT NULL DEFAULT ''"
               << "PRAGMA user_version=4";
}

history::FollowedAuthor author(const QString &id)
{
    history::FollowedAuthor a;
    a.site = QStringLiteral("meipai");
    a.id = id;
    a.name = QStringLiteral("作者 ") + id;
    a.avatar = QStringLiteral("http://mvavatar1.meipai.com/") + id + QStringLiteral(".jpg");
    a.address = QStringLiteral("http://www.meipai.com/user/") + id;
    a.followed = QDateTime::fromMSecsSinceEpoch(1465000000000 + id.toLongLong());
    return a;
}

// Every field of a followed author, to compare two whole.
QStringList fields(const std::optional<history::FollowedAuthor> &a)
{
    if (!a)
        return {"<none>"};
    return {a->site, a->id, a->name, a->avatar, a->address, a->newestSeen,
        QString::number(a->followed.toMSecsSinceEpoch()),
        a->checked.isValid() ? QString::number(a->checked.toMSecsSinceEpoch()) : QString(),
        QString::number(a->newWorks)};
}

}  // namespace

class TestHistory : public QObject {
    Q_OBJECT
private slots:
    void opens_data()
    {
        QTest::addColumn<QStringList>("before");  // SQL run on the file first; "garbage" writes junk
        QTest::addColumn<int>("rowsAfter");
        QTest::addColumn<bool>("movedAside");
        // Problem: the file is left byte for byte as it was, the rows kept in memory.
        QTest::addColumn<int>("problem");
        const int none = int(history::Store::Problem::None);
        QTest::newRow("no file") << QStringList() << 0 << false << none;
        QTest::newRow("version 1 with a row") << version1(true) << 1 << false << none;
        QTest::newRow("version 4 with rows") << version4WithRows() << 2 << false << none;
        QTest::newRow("not a database") << QStringList {"garbage"} << 0 << true << none;
        QTest::newRow("a newer program's: untouched")
            << QStringList {"PRAGMA user_version=99"} << 0 << false << int(history::Store::Problem::Newer);
        QTest::newRow("a FIFO in its place: untouched")
            << QStringList {"fifo"} << 0 << false << int(history::Store::Problem::NotRegular);
    }
    void opens()
    {
        QFETCH(QStringList, before);
        QFETCH(int, rowsAfter);
        QFETCH(bool, movedAside);
        QFETCH(int, problem);
        const int none = int(history::Store::Problem::None);
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        if (before == QStringList {"fifo"}) {
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        } else if (before == QStringList {"garbage"}) {
            QFile junk(path);
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write(QByteArray(8192, 'x'));
        } else if (!before.isEmpty()) {
            writeRaw(path, before);
        }
        const auto bytes = [&path] {
            QFile f(path);
            return QFileInfo(path).isFile() && f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<not a file>");
        };
        const QByteArray bytesBefore = bytes();
        history::Store store(path);
        QVERIFY(store.isOpen());
        QCOMPARE(int(store.problem()), problem);
        QCOMPARE(store.inMemory(), problem != none);
        QCOMPARE(store.count(), rowsAfter);
        QCOMPARE(!store.movedAsideTo().isEmpty(), movedAside);
        if (movedAside)
            QVERIFY(QFile::exists(store.movedAsideTo()));
        // Every column of the newest version is there: a row goes in and comes back whole.
        const qint64 id = store.add(sample("10004"));
        QVERIFY(id > 0);
        history::Entry e = *store.get(id);
        QCOMPARE(e.video.description, sample("").video.description);
        e.state = history::State::Done;
        e.done = e.size = 1234;
        QVERIFY(store.update(e));
        QCOMPARE(store.recent(1).first().done, qint64(1234));
        QCOMPARE(store.unfinished().size(), 0);
        // The followed authors' table is there too (in memory when the file is not used).
        QVERIFY(store.follow(author("9")));
        QCOMPARE(fields(store.followedAuthors().value(0)), fields(author("9")));
        if (problem != none) {
            QVERIFY(bytes() == bytesBefore);
            QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                QStringList {"history.sqlite"});
        }
    }

    // A row's id is never given again: not after the newest row was deleted, not after an
    // older version's history was migrated (every row kept whole).
    void idsNeverComeBack_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QList<qint64>>("kept");
        QTest::newRow("a new history") << QStringList() << QList<qint64>();
        QTest::newRow("version 1") << version1(true) << QList<qint64>({1});
        QTest::newRow("version 2 with rows") << version2WithRows() << QList<qint64>({9, 3});
        QTest::newRow("version 3 with rows") << version3WithRows() << QList<qint64>({9, 3});
        QTest::newRow("version 4 with rows") << version4WithRows() << QList<qint64>({9, 3});
    }
    void idsNeverComeBack()
    {
        QFETCH(QStringList, before);
        QFETCH(QList<qint64>, kept);
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        if (!before.isEmpty())
            writeRaw(path, before);
        history::Store store(path);
        QVERIFY(store.isOpen());
        QList<qint64> ids;
        for (const history::Entry &e : store.recent(100))
            ids << e.id;
        QCOMPARE(ids, kept);
        if (kept.size() == 2) {
            const history::Entry e = *store.get(9);
            QCOMPARE(e.video.description, QStringLiteral("海边 9"));
            QCOMPARE(e.done, qint64(77));
            QCOMPARE(e.file, QStringLiteral("/tmp/9.mp4"));
        }
        const qint64 first = store.add(sample("1"));
        QVERIFY(first > (kept.isEmpty() ? 0 : kept.first()));
        QVERIFY(store.remove(first));
        const qint64 second = store.add(sample("2"));
        QVERIFY2(second > first, qPrintable(QString("%1 after %2").arg(second).arg(first)));
        QCOMPARE(store.highestId(), second);
        QVERIFY(store.remove(second));
        QCOMPARE(store.highestId(), second);
        // The row's new fields come back whole.
        history::Entry e = sample("3");
        e.video.date = QStringLiteral("2015-07-08 18:00");
        e.avatar = QStringLiteral("http://mvavatar1.meipai.com/u1.jpg");
        e.sidecars = QStringList {"/tmp/3.info.json", "/tmp/3.jpg"};
        e.state = history::State::Converting;
        e.convertTo = convert::Kind::Mp3;
        e.original = QStringLiteral("/tmp/3.flv");
        const history::Entry back = *store.get(store.add(e));
        QCOMPARE(back.video.date, e.video.date);
        QCOMPARE(back.avatar, e.avatar);
        QCOMPARE(back.sidecars, e.sidecars);
        QCOMPARE(back.state, history::State::Converting);
        QCOMPARE(back.convertTo, e.convertTo);
        QCOMPARE(back.original, e.original);
        // A row left converting is unfinished: the next start takes it back to its original.
        QCOMPARE(store.unfinished().last().id, back.id);
    }

    // Followed, updated (its followed time kept), listed earliest first and unfollowed; a
    // second window on the same file sees every change as it is committed.
    void follows()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        history::Store mine(path);
        history::Store other(path);
        auto seenByOther = [&other, version = other.dataVersion()]() mutable {
            const qint64 now = other.dataVersion();
            return std::exchange(version, now) != now;
        };
        QVERIFY(mine.follow(author("12")));
        QVERIFY(mine.follow(author("9")));
        QVERIFY(seenByOther());
        QCOMPARE(other.followedAuthors().size(), 2);
        QCOMPARE(fields(other.followedAuthors().first()), fields(author("9")));
        QCOMPARE(fields(other.followedAuthor("meipai", "12")), fields(author("12")));

        history::FollowedAuthor checked = author("12");
        checked.name = QStringLiteral("改名的作者");
        checked.newestSeen = QStringLiteral("6300");
        checked.checked = QDateTime::fromMSecsSinceEpoch(1466000000000);
        checked.newWorks = 4;
        checked.followed = QDateTime::currentDateTime();  // not taken: the first follow's is kept
        QVERIFY(other.follow(checked));
        QVERIFY(!seenByOther());  // its own change
        checked.followed = author("12").followed;
        QCOMPARE(fields(mine.followedAuthor("meipai", "12")), fields(checked));

        QVERIFY(mine.unfollow("meipai", "9"));
        QVERIFY(!mine.unfollow("meipai", "9"));
        QVERIFY(seenByOther());
        QCOMPARE(fields(other.followedAuthors().value(0)), fields(checked));
        QCOMPARE(other.followedAuthors().size(), 1);
        QCOMPARE(fields(other.followedAuthor("meipai", "9")), fields(std::nullopt));
    }

    // A history this user may read but not write: its rows shown, nothing written, said once.
    void readOnly()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        {
            history::Store store(path);
            QVERIFY(store.add(sample("1")) > 0);
        }
        QFile::setPermissions(path, QFile::ReadOwner);
        if (::access(QFile::encodeName(path).constData(), W_OK) == 0)
            QSKIP("root writes a read-only file");
        history::Store store(path);
        QCOMPARE(int(store.problem()), int(history::Store::Problem::ReadOnly));
        QCOMPARE(store.count(), 1);
        QCOMPARE(store.add(sample("2")), qint64(0));
        QVERIFY(store.movedAsideTo().isEmpty());
    }

    // A writer killed with SIGKILL between and during its transactions leaves a database that
    // passes its check and holds every row it committed.
    void survivesAKilledWriter()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        QProcess writer;
        writer.start(QCoreApplication::applicationFilePath(), {"--write-forever", path});
        QVERIFY(writer.waitForReadyRead(20000));
        QTRY_VERIFY_WITH_TIMEOUT(history::Store(path).count() > 200, 20000);
        ::kill(pid_t(writer.processId()), SIGKILL);
        writer.waitForFinished();
        history::Store store(path);
        QVERIFY(store.isOpen());
        QVERIFY(store.movedAsideTo().isEmpty());
        QVERIFY(store.count() > 200);
        QCOMPARE(store.unfinished().size(), store.count());
    }

    // A database another program holds locked (here in the middle of a write) is busy, not
    // broken: it is never moved aside, and is usable again once the lock is gone.
    void lockedIsNotBroken()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        writeRaw(path, version1(false));  // needs its migration
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("BEGIN EXCLUSIVE"));
            history::Store blocked(path);  // waits out the busy timeout
            QVERIFY(!blocked.isOpen());
            QVERIFY(blocked.movedAsideTo().isEmpty());
            QVERIFY(q.exec("ROLLBACK"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        history::Store store(path);
        QVERIFY(store.isOpen());
        QVERIFY(store.movedAsideTo().isEmpty());
        QVERIFY(store.add(sample("1")) > 0);
    }

    // A row held by another living process is seen as running elsewhere and cannot be taken.
    void rowsHeldElsewhere()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        history::Store mine(path);
        const qint64 id = mine.add(sample("1"));
        QProcess other;
        other.start(QCoreApplication::applicationFilePath(), {"--hold", path, QString::number(id)});
        QVERIFY(other.waitForReadyRead(20000));
        QVERIFY(mine.heldElsewhere(id));
        QVERIFY(!mine.claim(id));
        other.kill();
        other.waitForFinished();
        // Its process gone, the row is free again.
        QVERIFY(!mine.heldElsewhere(id));
        QVERIFY(mine.claim(id));
        QVERIFY(!mine.heldElsewhere(id));
    }
};

// The child processes of the tests: a writer that never stops, and a holder of one row.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == u"--write-forever") {
        history::Store store(args[2]);
        for (int i = 0;; ++i) {
            history::Entry e = sample(QString::number(i));
            e.id = store.add(e);
            e.state = history::State::Running;
            store.update(e);
            if (i == 0)
                std::fputs("writing\n", stdout), std::fflush(stdout);
        }
    }
    if (args.size() >= 4 && args[1] == u"--hold") {
        history::Store store(args[2]);
        if (!store.claim(args[3].toLongLong()))
            return 1;
        std::fputs("held\n", stdout), std::fflush(stdout);
        for (;;)
            QThread::sleep(1);
    }
    TestHistory test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_history.moc"
