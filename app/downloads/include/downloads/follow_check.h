// The followed authors' new works: each author's page read only as far as it must be, the
// count kept in the history beside the author.
#pragma once

#include "extract/author_listing.h"
#include "history/history_store.h"
#include "record/hosts.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

struct FollowCheckResult {
    history::FollowedAuthor author;  // as stored after the check (checked set, newWorks set)
    QList<ListedWork> newWorks;      // newest first
    int pagesAsked = 0;
    QString said;  // why the listing ended when it was not a normal end, in Chinese (empty otherwise)
};

// Checks followed authors for works newer than the newest seen: each author's page is read
// only up to the first work already seen (newestSeen) or already saved (isSaved), so an author
// with nothing new costs one page; a few authors at a time.
//
// An author never seen counts the works of their first page and no more. A listing that
// fails (the author gone, a page not fetched) keeps the author's count of new works and says
// why; the check time moves either way. An author unfollowed while being checked is not
// followed again.
class FollowCheck : public QObject {
    Q_OBJECT
public:
    FollowCheck(const Hosts &h, history::Store &store, QObject *parent = nullptr);
    ~FollowCheck() override;

    // isSaved(site, id): the history or archive holds the video as saved. Until set, the
    // history's rows of saved videos.
    void setSaved(std::function<bool(const QString &site, const QString &id)> isSaved);
    // Checks the authors, at most atOnce at a time. While a check runs, the authors not
    // already in it are added to it (one finished() for all).
    void check(const QList<history::FollowedAuthor> &authors, int atOnce = 2);
    // Ends the check at once: nothing more is stored nor signalled.
    void stop();
    bool running() const;

signals:
    void authorChecked(const FollowCheckResult &result);
    // Every author was checked: how many had new works, and how many new works in all.
    void finished(int authorsWithNew, int newWorks);

private:
    struct Checking;
    void startNext();
    void take(Checking &c, const QList<ListedWork> &works);
    void ended(Checking *c, ListingEnd end, const QString &said);
    bool queued(const history::FollowedAuthor &author) const;

    Hosts hosts_;  // the listings hold it by reference
    history::Store &store_;
    std::function<bool(const QString &, const QString &)> isSaved_;
    QList<history::FollowedAuthor> waiting_;
    std::vector<std::unique_ptr<Checking>> checking_;
    int atOnce_ = 2;
    int authorsWithNew_ = 0;
    int newWorks_ = 0;
    quint64 run_ = 0;  // moves on stop(): a check stopped from a receiver goes no further
};
