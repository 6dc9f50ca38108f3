// What the command line is asked to do with an author's page: which works (-I, dates), how
// they are printed (-J, --flat-playlist), and when the run stops (--max-downloads,
// --break-on-existing), as the common downloader's users type them.
#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <optional>

class Args;

// One item of -I: a number, or START:STOP[:STEP] (either end may be left out; negative
// numbers count from the end; STOP is included).
struct ItemRange {
    std::optional<qsizetype> start, stop;
    qsizetype step = 1;
};

struct PlaylistOptions {
    bool single = false;     // -J: an author's page as one JSON object with its entries
    bool flat = false;       // --flat-playlist: list the works without opening them
    QList<ItemRange> items;  // -I; empty: every work
    int maxDownloads = 0;    // 0: no limit
    bool breakOnExisting = false;
    QDate after, before;  // --dateafter, --datebefore (invalid: none); both days included
    int maxPages = 500;
    qsizetype maxWorks = 10000;
};

// -I's text; none when it cannot be read.
std::optional<QList<ItemRange>> parseItems(const QString &text);
// The places (from 1) -I chooses out of count works, in the order it names them, each once.
QList<qsizetype> chooseItems(const QList<ItemRange> &items, qsizetype count);
// A day as --dateafter reads it: YYYYMMDD, or today / yesterday / now, optionally followed by
// +N or -N and day(s), week(s), month(s) or year(s) ("today-2weeks"); none when it cannot be read.
std::optional<QDate> parseDay(const QString &text, const QDate &today = QDate::currentDate());
// True when a work's upload day (YYYYMMDD; empty: not known) lies in the range.
bool inDateRange(const QString &uploadDate, const PlaylistOptions &o);

// Reads the playlist's options into o; the usage error or "".
QString readPlaylistOptions(const Args &args, PlaylistOptions &o);
