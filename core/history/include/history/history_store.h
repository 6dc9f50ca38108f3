// The download list's memory: every download the window started, in an SQLite database
// ($XDG_DATA_HOME/quorvin-video-helper/history.sqlite, WAL mode), one transaction per state
// change, so a killed program loses no row. A database that cannot be opened or fails its
// quick check is moved aside (history.sqlite.broken-DATE) and a new one started: the program
// never refuses to start because of it. A newer program's database, or anything but a
// regular file in its place, is never moved nor written: the run keeps its rows in memory.
// Two programs share the file (a busy timeout, no "database is locked"); a row being
// downloaded is held by its process through a lock file, so another program sees it as
// running elsewhere and never starts it. The authors the user follows live beside the rows.
#pragma once

#include "record/convert_kinds.h"
#include "record/download_state.h"
#include "record/video_fields.h"

#include <QDateTime>
#include <QList>
#include <QStringList>
#include <QString>
#include <map>
#include <memory>
#include <optional>

class QLockFile;

namespace history {

using State = DownloadState;

// The state's name in the database ("waiting", "done"...).
QString stateName(State state);

struct Entry {
    qint64 id = 0;      // given by add()
    VideoFields video;  // the video; video.link is the link the download used
    QString file;       // the path on disk
    qint64 size = -1;   // the whole file's bytes, -1 while unknown
    qint64 done = 0;    // bytes on disk so far
    QDateTime started;  // when it was added
    QDateTime finished;
    State state = State::Waiting;
    QString reason;                          // why it failed, in Chinese
    qint64 owner = 0;                        // the process that last ran it
    QString avatar;                          // the author's picture's address
    QStringList sidecars;                    // the files written beside the video for this row
    std::optional<convert::Kind> convertTo;  // made from the file once it is saved; none: nothing
    QString original;                        // while converting: the file the conversion reads
};

// An author the user follows, to be told of their new works.
struct FollowedAuthor {
    QString site;  // the service's name ("meipai")
    QString id;    // the author's id
    QString name;
    QString avatar;      // the avatar's address
    QString address;     // the author's page
    QString newestSeen;  // the id of the newest work the user has seen; empty: none
    QDateTime followed;  // when followed
    QDateTime checked;   // when last checked for new works; invalid: never
    int newWorks = 0;    // new works the last check found (not yet taken)
};

class Store {
public:
    static constexpr int SchemaVersion = 5;

    // Opens the database at path (made with its folder when missing).
    explicit Store(const QString &path = defaultPath());
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    static QString defaultPath();
    bool isOpen() const { return open_; }
    // Why the database at the path is not used as usual. Newer (a newer program's) and
    // NotRegular (a FIFO, device, folder or link in its place): left untouched, the rows of
    // this run kept in memory only. ReadOnly: read, new rows not recorded.
    enum class Problem { None, Newer, NotRegular, ReadOnly };
    Problem problem() const { return problem_; }
    // The problem in short English, empty when none.
    QString problemText() const;
    // True when the rows live in memory for this run only.
    bool inMemory() const { return memory_; }
    // Where a broken database was moved this time; empty when none was.
    QString movedAsideTo() const { return movedAside_; }

    // A new row; its id, or 0 when it could not be written.
    qint64 add(Entry entry);
    // Writes the whole row in one transaction.
    bool update(const Entry &entry);
    std::optional<Entry> get(qint64 id) const;
    // The newest rows first.
    QList<Entry> recent(int limit, int offset = 0) const;
    // Rows not finished: waiting, running, paused or converting, oldest first.
    QList<Entry> unfinished() const;
    int count() const;
    // The newest row that saved this video (state done), if any.
    std::optional<Entry> savedVideo(const QString &site, const QString &videoId) const;
    bool remove(qint64 id);
    // Removes the finished rows (done, or with everything also failed and cancelled ones);
    // rows still to run are kept. The ids removed.
    QList<qint64> clear(bool everything);
    // The highest id ever given (never lower: a row's id is never given again).
    qint64 highestId() const;
    // Follows an author, or updates one followed (name, avatar, address, newestSeen, checked,
    // newWorks; the followed time is kept). False when it could not be written.
    bool follow(const FollowedAuthor &author);
    bool unfollow(const QString &site, const QString &id);
    // Every followed author, the earliest followed first.
    QList<FollowedAuthor> followedAuthors() const;
    std::optional<FollowedAuthor> followedAuthor(const QString &site, const QString &id) const;

    // Moves when another connection (another window, the command line) committed a change.
    qint64 dataVersion() const;

    // Holds the row for this process while it downloads; false when another process holds it.
    bool claim(qint64 id);
    void release(qint64 id);
    // True when another living process holds the row.
    bool heldElsewhere(qint64 id) const;

private:
    bool openAt(const QString &path);
    bool openReadOnly(const QString &path);
    bool newerVersion(const QString &path) const;
    bool migrate();
    QString lockPath(qint64 id) const;

    QString connection_;
    QString path_;
    QString movedAside_;
    bool open_ = false;
    bool busy_ = false;  // another program held it locked past the busy timeout
    bool memory_ = false;
    Problem problem_ = Problem::None;
    std::map<qint64, std::unique_ptr<QLockFile>> claims_;
};

}  // namespace history
