#include "history/history_store.h"

#include "history_schema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QVariant>
#include <atomic>
#include <sys/stat.h>
#include <unistd.h>

namespace history {

namespace {

// The database's own word on itself: "ok", or the first thing it found wrong.
// True when a statement failed because another program holds the database locked
// (SQLITE_BUSY, SQLITE_LOCKED): busy, not broken.
bool lockedOut(const QSqlQuery &q)
{
    const QString code = q.lastError().nativeErrorCode();
    return code == u"5" || code == u"6";
}

// The database's own word on itself: "ok", or the first thing it found wrong; busy when it
// could not be read for another program's lock.
enum class Check { Ok, Broken, Busy };
Check quickCheck(const QSqlDatabase &db)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA quick_check")))
        return lockedOut(q) ? Check::Busy : Check::Broken;
    return q.next() && q.value(0).toString() == u"ok" ? Check::Ok : Check::Broken;
}

}  // namespace

QString Store::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
        QStringLiteral("/quorvin-video-helper/history.sqlite");
}

Store::Store(const QString &path)
{
    static std::atomic<int> serial {0};
    connection_ = QStringLiteral("history-%1").arg(++serial);
    QDir().mkpath(QFileInfo(path).absolutePath());
    path_ = path;
    // What stands at path is looked at before SQLite opens it: anything but a regular file,
    // or a newer program's database, is left exactly as it is, and this run keeps its rows in
    // memory.
    struct stat info {};
    const bool exists = ::lstat(QFile::encodeName(path).constData(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode))
        problem_ = Problem::NotRegular;
    else if (exists && newerVersion(path))
        problem_ = Problem::Newer;
    if (problem_ != Problem::None) {
        memory_ = true;
        openAt(QStringLiteral(":memory:"));
        return;
    }
    if (exists && ::access(QFile::encodeName(path).constData(), W_OK) != 0) {
        // Read, never written: its rows are shown, new downloads are not recorded.
        problem_ = Problem::ReadOnly;
        openReadOnly(path);
        return;
    }
    if (openAt(path) || busy_)
        return;  // a database another program holds locked is left as it is
    if (problem_ == Problem::Newer) {
        QSqlDatabase::removeDatabase(connection_);
        memory_ = true;
        openAt(QStringLiteral(":memory:"));
        return;
    }
    // Moved aside with its journal files, under the date it was found broken.
    QSqlDatabase::removeDatabase(connection_);
    movedAside_ =
        path + QStringLiteral(".broken-") + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QFile::rename(path, movedAside_);
    for (const char *suffix : {"-wal", "-shm"})
        QFile::rename(path + QLatin1String(suffix), movedAside_ + QLatin1String(suffix));
    openAt(path);
}

Store::~Store()
{
    claims_.clear();
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

// Whether the database at path was written by a newer program, asked without writing to it.
bool Store::newerVersion(const QString &path) const
{
    const QString peek = connection_ + QStringLiteral("-peek");
    int version = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), peek);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("PRAGMA user_version")) && q.next())
                version = q.value(0).toInt();
            q.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(peek);
    return version > SchemaVersion;
}

bool Store::openReadOnly(const QString &path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000"));
    QSqlQuery q(db);
    open_ =
        db.open() && q.exec(QStringLiteral("PRAGMA user_version")) && q.next() && q.value(0).toInt() == SchemaVersion;
    return open_;
}

QString Store::problemText() const
{
    switch (problem_) {
    case Problem::None: break;
    case Problem::Newer: return QStringLiteral("the history belongs to a newer version: not used this time");
    case Problem::NotRegular: return QStringLiteral("the history is not a regular file: not used this time");
    case Problem::ReadOnly: return QStringLiteral("the history is read-only: new downloads are not recorded");
    }
    return QString();
}

bool Store::openAt(const QString &path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        return false;
    if (const Check check = quickCheck(db); check != Check::Ok) {
        busy_ = check == Check::Busy;
        return false;
    }
    QSqlQuery q(db);
    // Readers never wait for the writer of another window; a write waits for the other's.
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"))) {
        busy_ = lockedOut(q);
        return false;
    }
    open_ = migrate();
    return open_;
}

bool Store::migrate()
{
    QSqlDatabase db = QSqlDatabase::database(connection_);
    QSqlQuery q(db);
    const auto version = [&q] {
        return q.exec(QStringLiteral("PRAGMA user_version")) && q.next() ? q.value(0).toInt() : -1;
    };
    // The usual case, a database of this version, takes no lock: another window may be writing.
    if (version() == SchemaVersion)
        return true;
    // BEGIN IMMEDIATE: two windows starting together migrate one after the other.
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        busy_ = lockedOut(q);  // locked past the busy timeout: not broken, only not usable now
        return false;
    }
    int from = version();
    if (from < 0 || from > SchemaVersion) {
        q.exec(QStringLiteral("ROLLBACK"));
        if (from > SchemaVersion)
            problem_ = Problem::Newer;  // written by a newer program meanwhile: left as it is
        return false;
    }
    for (; from < SchemaVersion; ++from) {
        for (const QString &statement : migrations().at(from)) {
            if (!q.exec(statement)) {
                q.exec(QStringLiteral("ROLLBACK"));
                return false;
            }
        }
    }
    return q.exec(QStringLiteral("PRAGMA user_version=%1").arg(SchemaVersion)) && q.exec(QStringLiteral("COMMIT"));
}

qint64 Store::add(Entry entry)
{
    if (!open_)
        return 0;
    if (!entry.started.isValid())
        entry.started = QDateTime::currentDateTime();
    QSqlQuery q(QSqlDatabase::database(connection_));
    QStringList marks;
    for (qsizetype i = 0; i < columnCount(); ++i)
        marks << QStringLiteral("?");
    q.prepare(QStringLiteral("INSERT INTO downloads (") + columnList() + QStringLiteral(") VALUES (") +
        marks.join(QStringLiteral(", ")) + u')');
    bindEntry(q, entry);
    return q.exec() ? q.lastInsertId().toLongLong() : 0;
}

bool Store::update(const Entry &entry)
{
    if (!open_)
        return false;
    QSqlQuery q(QSqlDatabase::database(connection_));
    q.prepare(
        QStringLiteral("UPDATE downloads SET ") + columnList(QStringLiteral(" = ?")) + QStringLiteral(" WHERE id = ?"));
    bindEntry(q, entry);
    q.addBindValue(entry.id);
    return q.exec() && q.numRowsAffected() == 1;
}

std::optional<Entry> Store::get(qint64 id) const
{
    QSqlQuery q(QSqlDatabase::database(connection_));
    q.prepare(selectEntries() + QStringLiteral(" WHERE id = ?"));
    q.addBindValue(id);
    if (!open_ || !q.exec() || !q.next())
        return std::nullopt;
    return entryOf(q);
}

QList<Entry> Store::recent(int limit, int offset) const
{
    QList<Entry> out;
    QSqlQuery q(QSqlDatabase::database(connection_));
    q.prepare(selectEntries() + QStringLiteral(" ORDER BY id DESC LIMIT ? OFFSET ?"));
    q.addBindValue(limit);
    q.addBindValue(offset);
    if (open_ && q.exec()) {
        while (q.next())
            out << entryOf(q);
    }
    return out;
}

QList<Entry> Store::unfinished() const
{
    QList<Entry> out;
    QSqlQuery q(QSqlDatabase::database(connection_));
    if (open_ &&
        q.exec(selectEntries() +
            QStringLiteral(" WHERE state IN ('waiting', 'running', 'paused', 'converting') ORDER BY id"))) {
        while (q.next())
            out << entryOf(q);
    }
    return out;
}

std::optional<Entry> Store::savedVideo(const QString &site, const QString &videoId) const
{
    QSqlQuery q(QSqlDatabase::database(connection_));
    q.prepare(selectEntries() +
        QStringLiteral(" WHERE site = ? AND video_id = ? AND state = 'done' ORDER BY id DESC LIMIT 1"));
    q.addBindValue(site);
    q.addBindValue(videoId);
    if (!open_ || !q.exec() || !q.next())
        return std::nullopt;
    return entryOf(q);
}

int Store::count() const
{
    QSqlQuery q(QSqlDatabase::database(connection_));
    return open_ && q.exec(QStringLiteral("SELECT COUNT(*) FROM downloads")) && q.next() ? q.value(0).toInt() : 0;
}

bool Store::remove(qint64 id)
{
    QSqlQuery q(QSqlDatabase::database(connection_));
    q.prepare(QStringLiteral("DELETE FROM downloads WHERE id = ?"));
    q.addBindValue(id);
    return open_ && q.exec() && q.numRowsAffected() == 1;
}

QList<qint64> Store::clear(bool everything)
{
    QList<qint64> removed;
    QSqlDatabase db = QSqlDatabase::database(connection_);
    QSqlQuery q(db);
    const QString which = everything ? QStringLiteral("('done', 'failed', 'cancelled')") : QStringLiteral("('done')");
    // The ids and the delete in one transaction: a row another window finishes meanwhile is
    // either in both or in neither.
    if (!open_ || !q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return removed;
    if (q.exec(QStringLiteral("SELECT id FROM downloads WHERE state IN ") + which)) {
        while (q.next())
            removed << q.value(0).toLongLong();
    }
    if (!q.exec(QStringLiteral("DELETE FROM downloads WHERE state IN ") + which) || !q.exec(QStringLiteral("COMMIT"))) {
        q.exec(QStringLiteral("ROLLBACK"));
        removed.clear();
    }
    return removed;
}

qint64 Store::highestId() const
{
    QSqlQuery q(QSqlDatabase::database(connection_));
    const bool read = open_ &&
        q.exec(QStringLiteral("SELECT MAX(n) FROM (SELECT seq AS n FROM sqlite_sequence WHERE name = 'downloads' "
                              "UNION ALL SELECT MAX(id) FROM downloads)")) &&
        q.next();
    return read ? q.value(0).toLongLong() : 0;
}

bool Store::follow(const FollowedAuthor &author)
{
    if (!open_ || author.site.isEmpty() || author.id.isEmpty())
        return false;
    FollowedAuthor row = author;
    if (!row.followed.isValid())
        row.followed = QDateTime::currentDateTime();
    // One statement: a new author goes in whole, a followed one keeps its followed time.
    QSqlQuery q(QSqlDatabase::database(connection_));
    q.prepare(QStringLiteral("INSERT INTO followed_authors (") + followedColumns() +
        QStringLiteral(") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (site, author_id) DO UPDATE SET name = "
                       "excluded.name, avatar = excluded.avatar, address = excluded.address, newest_seen = "
                       "excluded.newest_seen, checked = excluded.checked, new_works = excluded.new_works"));
    bindFollowed(q, row);
    return q.exec();
}

bool Store::unfollow(const QString &site, const QString &id)
{
    QSqlQuery q(QSqlDatabase::database(connection_));
    q.prepare(QStringLiteral("DELETE FROM followed_authors WHERE site = ? AND author_id = ?"));
    q.addBindValue(site);
    q.addBindValue(id);
    return open_ && q.exec() && q.numRowsAffected() == 1;
}

QList<FollowedAuthor> Store::followedAuthors() const
{
    QList<FollowedAuthor> out;
    QSqlQuery q(QSqlDatabase::database(connection_));
    // The rowid breaks a tie of two follows in the same millisecond: the one written first.
    if (open_ &&
        q.exec(QStringLiteral("SELECT ") + followedColumns() +
            QStringLiteral(" FROM followed_authors ORDER BY followed, rowid"))) {
        while (q.next())
            out << followedOf(q);
    }
    return out;
}

std::optional<FollowedAuthor> Store::followedAuthor(const QString &site, const QString &id) const
{
    QSqlQuery q(QSqlDatabase::database(connection_));
    q.prepare(QStringLiteral("SELECT ") + followedColumns() +
        QStringLiteral(" FROM followed_authors WHERE site = ? AND author_id = ?"));
    q.addBindValue(site);
    q.addBindValue(id);
    if (!open_ || !q.exec() || !q.next())
        return std::nullopt;
    return followedOf(q);
}

qint64 Store::dataVersion() const
{
    QSqlQuery q(QSqlDatabase::database(connection_));
    return open_ && q.exec(QStringLiteral("PRAGMA data_version")) && q.next() ? q.value(0).toLongLong() : 0;
}

QString Store::lockPath(qint64 id) const
{
    return path_ + QStringLiteral(".locks/%1.lock").arg(id);
}

bool Store::claim(qint64 id)
{
    if (claims_.count(id) != 0 || memory_)
        return true;  // rows kept in memory are this program's alone
    QDir().mkpath(QFileInfo(lockPath(id)).absolutePath());
    auto lock = std::make_unique<QLockFile>(lockPath(id));
    lock->setStaleLockTime(0);  // a lock is stale only when its process is gone
    if (!lock->tryLock(0))
        return false;
    claims_[id] = std::move(lock);
    return true;
}

void Store::release(qint64 id)
{
    claims_.erase(id);
}

bool Store::heldElsewhere(qint64 id) const
{
    if (claims_.count(id) != 0)
        return false;
    if (memory_)
        return false;
    QLockFile lock(lockPath(id));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0))
        return lock.error() == QLockFile::LockFailedError;
    lock.unlock();
    return false;
}

}  // namespace history
