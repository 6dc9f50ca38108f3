// An author's page for the command line: the listing run under the program's event loop,
// stopped at the first work already saved when asked (--break-on-existing), and what the
// command line prints of it with --flat-playlist and -J.
#pragma once

#include "extract/author_listing.h"
#include "json_out.h"
#include "playlist_options.h"

#include <QTextStream>
#include <QVariantHash>
#include <functional>

struct AuthorPlaylist {
    QString address;  // as given
    ListedAuthor author;
    QList<ListedWork> works;  // every work listed, in order (up to the first saved, with a break)
    ListingEnd end = ListingEnd::Done;
    QString said;  // why it ended, in English; empty when it read every page
    int pagesAsked = 0;
    int leftOut = 0;
    bool brokeOnExisting = false;
};

// Lists the author's page of address; done gets what was listed. saved tells whether a
// work's id is in the archive or the history.
void listAuthor(int site, const QString &address, const PlaylistOptions &o, const Hosts &h, QObject *context,
    std::function<bool(const QString &id)> saved, std::function<void(const AuthorPlaylist &)> done);

// The works chosen by -I and the dates, as places in p.works (from 0), in order.
QList<qsizetype> chosenWorks(const AuthorPlaylist &p, const PlaylistOptions &o);

// The playlist fields of the work at place (from 0) among the chosen ones, by the names
// templates, JSON lines and info files use.
QVariantHash playlistFields(const AuthorPlaylist &p, qsizetype place, qsizetype chosen);

// -J: the playlist object up to its open "entries" array.
void writePlaylistHead(json::Writer &w, const AuthorPlaylist &p, qsizetype chosen);
// The end of -J's entries and object.
void writePlaylistTail(json::Writer &w);
// --flat-playlist: with -J one object with every chosen entry, with -j a line per entry,
// else a line per work for people.
void printFlat(json::Writer &w, QTextStream &out, const AuthorPlaylist &p, const PlaylistOptions &o, bool json);
