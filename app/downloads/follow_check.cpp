#include "downloads/follow_check.h"

#include "sites/sites.h"

#include <QDateTime>
#include <algorithm>
#include <utility>

// One author being checked: their listing and the new works found so far.
struct FollowCheck::Checking {
    history::FollowedAuthor author;
    AuthorListing *listing = nullptr;
    QList<ListedWork> found;
    bool reached = false;  // a work seen or saved was met (or the first page read): no more pages
};

namespace {

// The ends that tell nothing of the author's works: the count found before is kept.
bool failed(ListingEnd end)
{
    return end == ListingEnd::Gone || end == ListingEnd::Failed || end == ListingEnd::NoListing ||
        end == ListingEnd::BadAddress;
}

}  // namespace

FollowCheck::FollowCheck(const Hosts &h, history::Store &store, QObject *parent)
    : QObject(parent), hosts_(h), store_(store)
{
    isSaved_ = [&store](const QString &site, const QString &id) { return store.savedVideo(site, id).has_value(); };
}

FollowCheck::~FollowCheck()
{
    // The listings go before the hosts they hold by reference.
    stop();
}

void FollowCheck::setSaved(std::function<bool(const QString &, const QString &)> isSaved)
{
    isSaved_ = std::move(isSaved);
}

bool FollowCheck::running() const
{
    return !waiting_.isEmpty() || !checking_.empty();
}

bool FollowCheck::queued(const history::FollowedAuthor &author) const
{
    const auto same = [&author](
                          const history::FollowedAuthor &a) { return a.site == author.site && a.id == author.id; };
    return std::any_of(waiting_.begin(), waiting_.end(), same) ||
        std::any_of(checking_.begin(), checking_.end(), [&same](const auto &c) { return same(c->author); });
}

void FollowCheck::check(const QList<history::FollowedAuthor> &authors, int atOnce)
{
    atOnce_ = std::max(1, atOnce);
    for (const history::FollowedAuthor &author : authors) {
        if (!queued(author))
            waiting_ << author;
    }
    startNext();
}

void FollowCheck::stop()
{
    waiting_.clear();
    for (const std::unique_ptr<Checking> &c : checking_)
        delete c->listing;  // its page's answer and its end are dropped with it
    checking_.clear();
    authorsWithNew_ = newWorks_ = 0;
    ++run_;
}

void FollowCheck::startNext()
{
    while (!waiting_.isEmpty() && int(checking_.size()) < atOnce_) {
        auto c = std::make_unique<Checking>();
        c->author = waiting_.takeFirst();
        c->listing = new AuthorListing(hosts_, this);
        Checking *at = c.get();
        connect(c->listing, &AuthorListing::worksFound, this,
            [this, at](const QList<ListedWork> &works) { take(*at, works); });
        connect(c->listing, &AuthorListing::ended, this,
            [this, at](ListingEnd end, const QString &said) { ended(at, end, said); });
        const int site = siteFromName(c->author.site);
        const QString address =
            c->author.address.isEmpty() ? authorAddress(site, c->author.id, hosts_) : c->author.address;
        checking_.push_back(std::move(c));
        at->listing->start(site, address);  // ends from the event loop, never at once
    }
    if (!running()) {
        const int authors = std::exchange(authorsWithNew_, 0);
        emit finished(authors, std::exchange(newWorks_, 0));
    }
}

void FollowCheck::take(Checking &c, const QList<ListedWork> &works)
{
    if (c.reached)
        return;
    for (const ListedWork &work : works) {
        if ((!c.author.newestSeen.isEmpty() && work.id == c.author.newestSeen) || isSaved_(c.author.site, work.id)) {
            c.reached = true;
            break;
        }
        c.found << work;
    }
    // An author never seen: the first page's works are new, the rest is not read.
    if (c.author.newestSeen.isEmpty())
        c.reached = true;
    if (c.reached)
        c.listing->stop();
}

void FollowCheck::ended(Checking *c, ListingEnd end, const QString &said)
{
    const auto at = std::find_if(checking_.begin(), checking_.end(), [c](const auto &p) { return p.get() == c; });
    if (at == checking_.end())
        return;
    const std::unique_ptr<Checking> done = std::move(*at);
    checking_.erase(at);
    done->listing->disconnect(this);
    done->listing->deleteLater();  // it is signalling now

    FollowCheckResult result;
    result.pagesAsked = done->listing->pagesAsked();
    result.said = said;
    // Written over the stored author, whose newest seen the window may have moved meanwhile;
    // an author unfollowed meanwhile stays unfollowed.
    const std::optional<history::FollowedAuthor> stored = store_.followedAuthor(done->author.site, done->author.id);
    result.author = stored.value_or(done->author);
    const ListedAuthor &listed = done->listing->author();
    if (!listed.name.isEmpty())
        result.author.name = listed.name;
    if (!listed.avatar.isEmpty())
        result.author.avatar = listed.avatar;
    result.author.checked = QDateTime::currentDateTime();
    if (!failed(end)) {
        result.newWorks = done->found;
        result.author.newWorks = int(done->found.size());
        authorsWithNew_ += done->found.isEmpty() ? 0 : 1;
        newWorks_ += int(done->found.size());
    }
    if (stored)
        store_.follow(result.author);
    const quint64 run = run_;
    emit authorChecked(result);
    // A receiver that stopped the check has ended it: nothing more is signalled.
    if (run_ == run)
        startNext();
}
