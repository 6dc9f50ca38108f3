#include "history_schema.h"

#include <QDateTime>
#include <QVariant>
#include <iterator>

namespace history {

namespace {

const char *const StateNames[] = {"waiting", "running", "paused", "done", "failed", "cancelled", "converting"};

}  // namespace

const QList<QStringList> &migrations()
{
    static const QList<QStringList> steps = {
        {QStringLiteral("CREATE TABLE downloads (id INTEGER PRIMARY KEY, site TEXT NOT NULL, video_id TEXT NOT NULL, "
                        "address TEXT NOT NULL, link TEXT NOT NULL, file TEXT NOT NULL, size INTEGER NOT NULL DEFAULT "
                        "-1, started INTEGER, finished INTEGER, state TEXT NOT NULL, reason TEXT NOT NULL DEFAULT '', "
                        "owner INTEGER NOT NULL DEFAULT 0)"),
            QStringLiteral("CREATE INDEX downloads_video ON downloads (site, video_id)")},
        {QStringLiteral("ALTER TABLE downloads ADD COLUMN description TEXT NOT NULL DEFAULT ''"),
            QStringLiteral("ALTER TABLE downloads ADD COLUMN author TEXT NOT NULL DEFAULT ''"),
            QStringLiteral("ALTER TABLE downloads ADD COLUMN cover TEXT NOT NULL DEFAULT ''"),
            QStringLiteral("ALTER TABLE downloads ADD COLUMN done INTEGER NOT NULL DEFAULT 0"),
            QStringLiteral("CREATE INDEX downloads_state ON downloads (state)")},
        // Ids never come back (AUTOINCREMENT: a deleted last row's number is not given again,
        // so nothing keyed by an id can land on another row), every row kept; the video's date,
        // its avatar and the files written beside it.
        {QStringLiteral("CREATE TABLE downloads_next (id INTEGER PRIMARY KEY AUTOINCREMENT, site TEXT NOT NULL, "
                        "video_id TEXT NOT NULL, address TEXT NOT NULL, link TEXT NOT NULL, file TEXT NOT NULL, size "
                        "INTEGER NOT NULL DEFAULT -1, started INTEGER, finished INTEGER, state TEXT NOT NULL, reason "
                        "TEXT NOT NULL DEFAULT '', owner INTEGER NOT NULL DEFAULT 0, description TEXT NOT NULL DEFAULT "
                        "'', author TEXT NOT NULL DEFAULT '', cover TEXT NOT NULL DEFAULT '', done INTEGER NOT NULL "
                        "DEFAULT 0, date TEXT NOT NULL DEFAULT '', avatar TEXT NOT NULL DEFAULT '', sidecars TEXT NOT "
                        "NULL DEFAULT '')"),
            QStringLiteral("INSERT INTO downloads_next (id, site, video_id, address, link, file, size, started, "
                           "finished, state, reason, owner, description, author, cover, done) SELECT id, site, "
                           "video_id, address, link, file, size, started, finished, state, reason, owner, "
                           "description, author, cover, done FROM downloads"),
            QStringLiteral("DROP TABLE downloads"), QStringLiteral("ALTER TABLE downloads_next RENAME TO downloads"),
            QStringLiteral("CREATE INDEX downloads_video ON downloads (site, video_id)"),
            QStringLiteral("CREATE INDEX downloads_state ON downloads (state)")},
        // A conversion after the download: the file it makes (mp4, m4a, mp3; asked before the
        // download ends or running now) and the original it reads, which a row left converting
        // by a crash points at again.
        {QStringLiteral("ALTER TABLE downloads ADD COLUMN convert_to TEXT NOT NULL DEFAULT ''"),
            QStringLiteral("ALTER TABLE downloads ADD COLUMN original TEXT NOT NULL DEFAULT ''")},
        // The authors followed, one row each, beside the downloads (kept as they are).
        {QStringLiteral("CREATE TABLE followed_authors (site TEXT NOT NULL, author_id TEXT NOT NULL, name TEXT NOT "
                        "NULL DEFAULT '', avatar TEXT NOT NULL DEFAULT '', address TEXT NOT NULL DEFAULT '', "
                        "newest_seen TEXT NOT NULL DEFAULT '', followed INTEGER, checked INTEGER, new_works INTEGER "
                        "NOT NULL DEFAULT 0, PRIMARY KEY (site, author_id))")},
    };
    return steps;
}

namespace {

QVariant timeValue(const QDateTime &t)
{
    return t.isValid() ? QVariant(t.toMSecsSinceEpoch()) : QVariant(QMetaType(QMetaType::LongLong));
}

QDateTime timeOf(const QVariant &v)
{
    return v.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(v.toLongLong());
}

State stateFrom(const QString &name)
{
    for (int i = 0; i < int(std::size(StateNames)); ++i) {
        if (name == QLatin1String(StateNames[i]))
            return State(i);
    }
    return State::Failed;
}

// A text column's value: an empty text, never NULL.
// A conversion kind as the column holds it: its name ("mp3"), "" for none; a name the table
// does not know (a newer program's) reads as none.
QString kindText(const std::optional<convert::Kind> &kind)
{
    return kind
        ? QString::fromLatin1(convert::kindRow(*kind).name.data(), qsizetype(convert::kindRow(*kind).name.size()))
        : QString();
}

std::optional<convert::Kind> kindOf(const QString &name)
{
    const QByteArray latin = name.toLatin1();
    const convert::KindRow *row = convert::kindRowNamed(std::string_view(latin.constData(), size_t(latin.size())));
    return row ? std::optional<convert::Kind>(row->kind) : std::nullopt;
}

QVariant text(const QString &s)
{
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}

// Every column of the downloads table but its id, by name, with how an entry's field goes in
// and comes out.
struct Column {
    const char *name;
    QVariant (*value)(const Entry &);
    void (*take)(Entry &, const QVariant &);
};
const Column EntryColumns[] = {
    {"site", [](const Entry &e) { return text(e.video.site); },
        [](Entry &e, const QVariant &v) { e.video.site = v.toString(); }},
    {"video_id", [](const Entry &e) { return text(e.video.id); },
        [](Entry &e, const QVariant &v) { e.video.id = v.toString(); }},
    {"address", [](const Entry &e) { return text(e.video.address); },
        [](Entry &e, const QVariant &v) { e.video.address = v.toString(); }},
    {"link", [](const Entry &e) { return text(e.video.link); },
        [](Entry &e, const QVariant &v) { e.video.link = v.toString(); }},
    {"file", [](const Entry &e) { return text(e.file); }, [](Entry &e, const QVariant &v) { e.file = v.toString(); }},
    {"size", [](const Entry &e) { return QVariant(e.size); },
        [](Entry &e, const QVariant &v) { e.size = v.toLongLong(); }},
    {"started", [](const Entry &e) { return timeValue(e.started); },
        [](Entry &e, const QVariant &v) { e.started = timeOf(v); }},
    {"finished", [](const Entry &e) { return timeValue(e.finished); },
        [](Entry &e, const QVariant &v) { e.finished = timeOf(v); }},
    {"state", [](const Entry &e) { return QVariant(stateName(e.state)); },
        [](Entry &e, const QVariant &v) { e.state = stateFrom(v.toString()); }},
    {"reason", [](const Entry &e) { return text(e.reason); },
        [](Entry &e, const QVariant &v) { e.reason = v.toString(); }},
    {"owner", [](const Entry &e) { return QVariant(e.owner); },
        [](Entry &e, const QVariant &v) { e.owner = v.toLongLong(); }},
    {"description", [](const Entry &e) { return text(e.video.description); },
        [](Entry &e, const QVariant &v) { e.video.description = v.toString(); }},
    {"author", [](const Entry &e) { return text(e.video.author); },
        [](Entry &e, const QVariant &v) { e.video.author = v.toString(); }},
    {"cover", [](const Entry &e) { return text(e.video.cover); },
        [](Entry &e, const QVariant &v) { e.video.cover = v.toString(); }},
    {"done", [](const Entry &e) { return QVariant(e.done); },
        [](Entry &e, const QVariant &v) { e.done = v.toLongLong(); }},
    {"date", [](const Entry &e) { return text(e.video.date); },
        [](Entry &e, const QVariant &v) { e.video.date = v.toString(); }},
    {"avatar", [](const Entry &e) { return text(e.avatar); },
        [](Entry &e, const QVariant &v) { e.avatar = v.toString(); }},
    // One path a line: a file name holds no line break (the names are made safe).
    {"sidecars", [](const Entry &e) { return text(e.sidecars.join(u'\n')); },
        [](Entry &e, const QVariant &v) { e.sidecars = v.toString().split(u'\n', Qt::SkipEmptyParts); }},
    {"convert_to", [](const Entry &e) { return text(kindText(e.convertTo)); },
        [](Entry &e, const QVariant &v) { e.convertTo = kindOf(v.toString()); }},
    {"original", [](const Entry &e) { return text(e.original); },
        [](Entry &e, const QVariant &v) { e.original = v.toString(); }},
};

}  // namespace

QString columnList(const QString &suffix)
{
    QStringList names;
    for (const Column &c : EntryColumns)
        names << QLatin1String(c.name) + suffix;
    return names.join(QStringLiteral(", "));
}

qsizetype columnCount()
{
    return qsizetype(std::size(EntryColumns));
}

QString selectEntries()
{
    return QStringLiteral("SELECT id, ") + columnList() + QStringLiteral(" FROM downloads");
}

// Asked by position, as a lookup by name per value costs more than the row itself on a long
// list.
Entry entryOf(const QSqlQuery &q)
{
    Entry e;
    e.id = q.value(0).toLongLong();
    int at = 1;
    for (const Column &c : EntryColumns)
        c.take(e, q.value(at++));
    return e;
}

void bindEntry(QSqlQuery &q, const Entry &e)
{
    for (const Column &c : EntryColumns)
        q.addBindValue(c.value(e));
}

QString followedColumns()
{
    return QStringLiteral("site, author_id, name, avatar, address, newest_seen, followed, checked, new_works");
}

FollowedAuthor followedOf(const QSqlQuery &q)
{
    FollowedAuthor a;
    a.site = q.value(0).toString();
    a.id = q.value(1).toString();
    a.name = q.value(2).toString();
    a.avatar = q.value(3).toString();
    a.address = q.value(4).toString();
    a.newestSeen = q.value(5).toString();
    a.followed = timeOf(q.value(6));
    a.checked = timeOf(q.value(7));
    a.newWorks = q.value(8).toInt();
    return a;
}

void bindFollowed(QSqlQuery &q, const FollowedAuthor &a)
{
    for (const QString *s : {&a.site, &a.id, &a.name, &a.avatar, &a.address, &a.newestSeen})
        q.addBindValue(text(*s));
    q.addBindValue(timeValue(a.followed));
    q.addBindValue(timeValue(a.checked));
    q.addBindValue(a.newWorks);
}

QString stateName(State state)
{
    return QLatin1String(StateNames[int(state)]);
}

}  // namespace history
