// One service described as data: its place in the selector, its address prefixes, its
// address-check texts, its display row and its extraction steps. Loaded from a small TOML
// file (built in, or the user's own copy), checked when loaded, run by runSteps.
#pragma once

#include "record/hosts.h"
#include "record/result.h"
#include "record/step_trace.h"

#include <QList>
#include <QMap>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

// A text with placeholders, split when the description is loaded: {N} a slot, {page} the
// share page (slot 0), {address} the address box as it reads, {name} a value a step named,
// {prefix:key} one of the service's prefixes, {host:VARIABLE} a host of the host
// configuration; {{ and }} stand for braces.
struct Template {
    struct Part {
        enum Kind { Literal, Slot, Name, Prefix, Host, Address } kind = Literal;
        QString text;  // the literal, the name, the prefix key or the host variable
        int slot = -1;
    };
    QList<Part> parts;
    QString source;  // as written, for --explain
};

// Where a step reads or writes: a slot, or a value of its own name ("page" is slot 0;
// "address" reads the address box as it is when the step runs).
struct ValueRef {
    int slot = -1;
    QString name;
};

class Pattern;

struct StepOp {
    enum Kind { Piece, FromMarker, Cut, UpTo, Trim, Remove, Replace, Preg, Prepend, Append, Unescape } kind = Cut;
    Template text;                           // the marker, the text to remove, or what is joined
    QString replacement;                     // replace and preg: what takes the place
    std::shared_ptr<const Pattern> pattern;  // preg: compiled when loaded, case-insensitive
};

struct Step {
    enum Input { FromValue, Fetch, Text } input = FromValue;
    ValueRef to;
    ValueRef from;
    Template address;  // fetch: the address; text: the value
    QList<StepOp> ops;
    int line = 0;
};

struct Prefix {
    QString hostVariable;
    QString path;
    int line = 0;  // where the file declares it
};

struct DisplayRow {
    int author = SlotAuthor;
    int authorCut = 8;
    int description = 10;
    int date = SlotDate;
    int cover = SlotCoverUrl;
    int avatar = SlotAvatarUrl;
    QString badgeKind;    // "weishi" or "miaopai"; "" when the service has no badge
    QString badgeMarker;  // shown when the page contains it
    int badgeOffset = 0;
    bool avatarViaFile = false;  // the avatar is downloaded to the "face" file
};

// One saved page of the service with what extracting it must give. Its files lie in the
// description's folder; the hosts in them are written as {{VARIABLE}} and stand for the
// examples' own fixed host table, so an example passes under every build's hosts.
struct SiteExample {
    QString page;                               // "examples/plain.html"
    QString address;                            // what follows the page prefix ("10002")
    QMap<QString, QString> answers;             // a fetch step's target ("api", "22") -> its answer file
    QList<std::pair<QString, QString>> expect;  // field ("author") -> value, in the order written
    int line = 0;
};

// The fields an example may expect, as the command line's JSON names them.
inline const char *const ExampleFields[] = {
    "video_url", "cover_url", "avatar_url", "author", "description", "date", "verified", "status"};

// Reads a file of a description's folder by its relative path; no value when it is not there.
using SiteFileReader = std::function<std::optional<QByteArray>(const QString &path)>;

// One saved author page (and works answer) of the service with what listing it must give.
struct ListingExample {
    QString page;                               // the author's page ("examples/author.html"); empty: none
    QString works;                              // the works answer the work and next steps read; empty: the page
    QString share;                              // a share page whose author link is cut; empty: none
    QString uid;                                // the author's id in the address
    QList<std::pair<QString, QString>> expect;  // field ("name", "works", "first_id") -> value
    int line = 0;
};

// The fields a listing example may expect.
inline const char *const ListingExampleFields[] = {"name", "avatar", "works", "first_id", "first_url",
    "first_description", "first_cover", "first_date", "last_id", "next", "uid", "uploader_url"};

// How an author's works are listed. An author's address is one of the service's prefixes
// (address) followed by the author's id. The works come page after page: the first from the
// author's page itself or from first, each next one from then. Each work begins at the item
// marker; the work steps cut, from its text, its share address ("url", relative to the page
// it came from, or "id"), "description", "cover" and "date". then reads {next} (what the next
// steps cut from a works page: a page's address or a cursor; empty or last: no more) or
// {number} (2, 3, ... until a page adds no work). The about steps cut "name" and "avatar" from
// the author's page; the link steps cut "uid" from a share page (the author it links to).
// Every template may read {uid}; none of these steps fetches.
struct SiteListing {
    QString address;        // the prefix key of an author's address
    Template first;         // empty: the author's page is the first works page
    Template then;          // empty: one works page only
    bool numbered = false;  // then reads {number}
    QString item;
    QString last;
    QList<Step> about, work, next, link;
    QList<ListingExample> examples;
    int line = 0;
};

struct SiteDescription {
    int index = -1;                  // the selector button
    int indexLine = 0;               // where the file sets it
    QString caption;                 // the button's text ("美拍")
    QString name;                    // the command line's name ("meipai")
    QMap<QString, Prefix> prefixes;  // "page" is the share-page prefix
    QString checkEmpty, checkWrongPrefix, checkOnlyPrefix;
    DisplayRow display;
    QList<Step> steps;
    QList<SiteExample> examples;
    std::optional<SiteListing> listing;  // none: the service's authors cannot be listed
    QString file;                        // "meipai.toml"
    QString origin;                      // "built-in", "update N of DATE", or the path of the user's file
    SiteFileReader readFile;             // the example files, from where the description came
};

// Why a description file was refused: its line and column (0 when none) and the reason.
struct LoadError {
    int line = 0;
    QString reason;
    int column = 0;
};

// Reads a description; the file name is only for messages.
std::optional<SiteDescription> parseSiteDescription(const QByteArray &text, const QString &file, LoadError *error);

// A path of a description's folder that stays in it: relative, no "..", letters, digits and
// ". _ -" only.
bool isFolderPath(const QString &path);

// "http://" + the host + the path of one of the service's prefixes.
QString prefixAddress(const SiteDescription &site, const QString &key, const Hosts &h);
