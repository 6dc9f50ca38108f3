// An author's whole page: the author (name, id, avatar, address) and their works, page after
// page, as the service's description lists them. Bounded whoever serves it: a page or cursor
// seen before ends it, so does a page that adds no new work; a work listed twice is kept
// once; at most so many pages and works unless asked for more; a work whose address fails the
// service's checks is left out and counted. Every page is fetched under the fetch rule, on
// the service's own hosts, paced like a share page when the service is busy.
#pragma once

#include "record/hosts.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <memory>

struct ListedAuthor {
    int site = -1;
    QString id;  // as in the author's address
    QString name;
    QString avatar;
    QString address;  // the author's page
};

struct ListedWork {
    qsizetype index = 0;  // 1, 2, 3... in the order listed (newest first, as services list)
    QString id;           // the video's id in its share address
    QString address;      // its share address
    QString description;
    QString cover;
    QString date;  // as the list writes it ("2016-06-01 11:00")
};

enum class ListingEnd {
    Done,          // the last page was read
    Stopped,       // the caller stopped it
    NoListing,     // the service's description has no listing
    BadAddress,    // not an author's address of the service
    Gone,          // the author's page is not there (404, 410)
    Failed,        // a page could not be fetched
    PageReturned,  // a next page or cursor came back
    NoNewWork,     // a page added no work
    PageLimit,     // the page bound was reached with more to read
    WorkLimit,     // the work bound was reached
};

struct ListingLimits {
    int maxPages = 500;
    qsizetype maxWorks = 10000;
};

// The service whose listing an author's address belongs to (site: the one asked for, -1:
// the first whose author prefix the address starts with); -1 when none.
int listingSiteFor(const QString &address, int site, const Hosts &h);
// True when the service's description lists authors.
bool siteLists(int site);
// The author's id in an author's address: what follows the prefix, without a query, a
// fragment or a closing "/"; empty when it is not one (letters, digits, "_", "-", "." only).
QString authorIdOf(const QString &address, int site, const Hosts &h);
// The author's page of an id.
QString authorAddress(int site, const QString &id, const Hosts &h);
// The author's page a share page links to; empty when the service lists no authors or the
// page links none.
QString authorLinkOf(int site, const QString &shareText, const Hosts &h);

struct SiteDescription;

// One page of an author's list as a description reads it: its works (each checked against
// the service's share addresses; neither numbered nor compared with other pages' works), the
// works left out, the items found, and what the next steps cut (a page or a cursor).
struct ListingPage {
    QList<ListedWork> works;
    int leftOut = 0;
    int items = 0;
    QString next;
};
ListingPage readListingPage(
    const SiteDescription &site, const QString &text, const QString &pageAddress, const QString &uid, const Hosts &h);
// The author's name and avatar on their page.
ListedAuthor readAuthorPage(
    const SiteDescription &site, const QString &text, const QString &address, const QString &uid, const Hosts &h);
// The author's id a share page links to; empty when it links none.
QString linkedAuthorId(const SiteDescription &site, const QString &shareText, const Hosts &h);

// What an end says, in Chinese for the window or in English for the command line; empty for
// Done and Stopped. count: the pages (PageLimit, NoNewWork) or works (WorkLimit) it names;
// detail: a failure's reason or the service's caption (NoListing).
QString listingEndText(ListingEnd end, qsizetype count, const QString &detail, bool english);

namespace fetch {
struct Result;
}

class AuthorListing : public QObject {
    Q_OBJECT
public:
    explicit AuthorListing(const Hosts &h, QObject *parent = nullptr);
    ~AuthorListing() override;

    void start(int site, const QString &address, ListingLimits limits = {});
    // No further page is asked; ended(Stopped) follows from the event loop (or at once after
    // the page being handed out).
    void stop();

    const ListedAuthor &author() const;
    int pagesAsked() const;
    qsizetype worksListed() const;
    int leftOut() const;   // works whose address failed the service's checks
    int repeated() const;  // works listed again, kept once
    bool running() const;

signals:
    void authorKnown(const ListedAuthor &author);
    // The new works of one page, in order; number: the page's, from 1.
    void worksFound(const QList<ListedWork> &works, int number);
    // said: why it ended, in Chinese (empty for Done); english: the same for the command line.
    void ended(ListingEnd end, const QString &said, const QString &english);

private:
    struct State;
    void ask(const QString &address, bool authorPage);
    void answered(const QString &address, bool authorPage, const fetch::Result &answer);
    void takeWorks(const QString &text, const QString &pageAddress);
    void finish(ListingEnd end, const QString &detail = QString());
    std::unique_ptr<State> st_;
};
