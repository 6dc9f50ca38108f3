#include "extract/author_listing.h"

#include "extract/address_check.h"
#include "extract/extract_video.h"
#include "extract/readable_text.h"
#include "net/fetch.h"
#include "sites/site_registry.h"
#include "sites/sites.h"

#include <QRegularExpression>
#include <QTimer>
#include <QUrl>
#include <chrono>

namespace {

// At most this many works are cut from one page, whatever it holds.
constexpr int MaxItemsPerPage = 5000;

const SiteListing *listingOf(const std::shared_ptr<const SiteSet> &set, int site)
{
    const SiteDescription *d = set ? set->get(site) : nullptr;
    return d && d->listing ? &*d->listing : nullptr;
}

bool safeId(const QString &id)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9_.-]{1,64}$"));
    return allowed.match(id).hasMatch() && id != u"." && id != u"..";
}

// The text with each of the service's prefixes, hosts and the given names put in.
QString expanded(const Template &t, const SiteDescription &site, const Hosts &h, const QHash<QString, QString> &names)
{
    QString out;
    for (const Template::Part &part : t.parts) {
        switch (part.kind) {
        case Template::Part::Literal: out += part.text; break;
        case Template::Part::Prefix: out += prefixAddress(site, part.text, h); break;
        case Template::Part::Host: out += h.host(part.text); break;
        case Template::Part::Name: out += names.value(part.text); break;
        case Template::Part::Slot:
        case Template::Part::Address: break;
        }
    }
    return out;
}

// True when address lies on the host of the prefix t begins with (the loader made sure it
// begins with one).
bool onOwnHost(const QString &address, const Template &t, const SiteDescription &site, const Hosts &h)
{
    const QUrl own(prefixAddress(site, t.parts.first().text, h));
    const QUrl url(address);
    return url.scheme() == own.scheme() && url.host() == own.host() && url.port(80) == own.port(80);
}

// The video's id in a share address of the description's service ("10004", "mp3001").
QString shareId(const SiteDescription &site, const QString &address, const Hosts &h)
{
    QString id = withoutQuery(address).mid(prefixAddress(site, QStringLiteral("page"), h).size());
    while (id.startsWith(u'/'))
        id.remove(0, 1);
    if (id.endsWith(u".htm"))
        id.chop(4);
    return id;
}

ExtractorContext contextFor(const QString &address, const Hosts &h)
{
    return {nullptr, [address] { return address; }, h};
}

}  // namespace

ListingPage readListingPage(
    const SiteDescription &site, const QString &text, const QString &pageAddress, const QString &uid, const Hosts &h)
{
    ListingPage out;
    const SiteListing &l = *site.listing;
    const QUrl base(pageAddress);
    const QString prefix = prefixAddress(site, QStringLiteral("page"), h);
    const QHash<QString, QString> given {{QStringLiteral("uid"), uid}};
    const ExtractorContext ctx = contextFor(pageAddress, h);
    qsizetype at = text.indexOf(l.item);
    while (at >= 0 && out.items < MaxItemsPerPage) {
        const qsizetype from = at + l.item.size();
        const qsizetype end = text.indexOf(l.item, from);
        const QString chunk = text.mid(from, end < 0 ? -1 : end - from);
        at = end;
        ++out.items;
        const QHash<QString, QString> v = cutNamed(site, l.work, chunk, ctx, given);
        const QString url = v.value(QStringLiteral("url")).trimmed();
        const QString address = url.isEmpty() ? QString() : base.resolved(QUrl(url)).toString();
        const QString id = shareId(site, address, h);
        if (!address.startsWith(prefix) || checkAddress(&site, address, h) || !safeId(id)) {
            ++out.leftOut;
            continue;
        }
        const QString cover = v.value(QStringLiteral("cover")).trimmed();
        // As a share page's captions are read: markup for a character or a line break shown as it.
        out.works.append({0, id, address, readableText(v.value(QStringLiteral("description"))),
            cover.isEmpty() ? QString() : base.resolved(QUrl(cover)).toString(),
            v.value(QStringLiteral("date")).trimmed()});
    }
    if (!l.next.isEmpty())
        out.next = cutNamed(site, l.next, text, ctx, given).value(QStringLiteral("next")).trimmed();
    return out;
}

ListedAuthor readAuthorPage(
    const SiteDescription &site, const QString &text, const QString &address, const QString &uid, const Hosts &h)
{
    ListedAuthor a;
    a.site = site.index;
    a.id = uid;
    a.address = address;
    const QHash<QString, QString> about =
        cutNamed(site, site.listing->about, text, contextFor(address, h), {{QStringLiteral("uid"), uid}});
    a.name = readableText(about.value(QStringLiteral("name"))).trimmed();
    const QString avatar = about.value(QStringLiteral("avatar")).trimmed();
    a.avatar = avatar.isEmpty() ? QString() : QUrl(address).resolved(QUrl(avatar)).toString();
    return a;
}

QString linkedAuthorId(const SiteDescription &site, const QString &shareText, const Hosts &h)
{
    if (!site.listing || site.listing->link.isEmpty() || shareText.isEmpty())
        return QString();
    const QString uid =
        cutNamed(site, site.listing->link, shareText, contextFor(QString(), h)).value(QStringLiteral("uid")).trimmed();
    return safeId(uid) ? uid : QString();
}

int listingSiteFor(const QString &address, int site, const Hosts &h)
{
    const std::shared_ptr<const SiteSet> set = currentSites();
    for (int s = 0; s < SiteCount; ++s) {
        const SiteListing *l = listingOf(set, s);
        if ((site < 0 || s == site) && l && address.startsWith(prefixAddress(*set->get(s), l->address, h)))
            return s;
    }
    return -1;
}

bool siteLists(int site)
{
    return listingOf(currentSites(), site) != nullptr;
}

QString authorIdOf(const QString &address, int site, const Hosts &h)
{
    const std::shared_ptr<const SiteSet> set = currentSites();
    const SiteListing *l = listingOf(set, site);
    if (!l)
        return QString();
    const QString prefix = prefixAddress(*set->get(site), l->address, h);
    if (!address.startsWith(prefix))
        return QString();
    QString id = withoutQuery(address).mid(prefix.size());
    if (id.endsWith(u'/'))
        id.chop(1);
    return safeId(id) ? id : QString();
}

QString authorAddress(int site, const QString &id, const Hosts &h)
{
    const std::shared_ptr<const SiteSet> set = currentSites();
    const SiteListing *l = listingOf(set, site);
    return l ? prefixAddress(*set->get(site), l->address, h) + id : QString();
}

QString authorLinkOf(int site, const QString &shareText, const Hosts &h)
{
    const std::shared_ptr<const SiteSet> set = currentSites();
    const SiteListing *l = listingOf(set, site);
    const QString uid = l ? linkedAuthorId(*set->get(site), shareText, h) : QString();
    return uid.isEmpty() ? QString() : prefixAddress(*set->get(site), l->address, h) + uid;
}

QString listingEndText(ListingEnd end, qsizetype count, const QString &detail, bool english)
{
    switch (end) {
    case ListingEnd::Done:
    case ListingEnd::Stopped: return QString();
    case ListingEnd::NoListing:
        return english ? QStringLiteral("%1 does not list an author's works").arg(detail)
                       : QStringLiteral("%1暂不支持读取作者的全部作品").arg(detail);
    case ListingEnd::BadAddress:
        return english ? QStringLiteral("not an author's page address") : QStringLiteral("作者主页地址有误,请检查!");
    case ListingEnd::Gone:
        return english ? QStringLiteral("the author's page is gone") : QStringLiteral("该作者不存在或已注销");
    case ListingEnd::Failed:
        return english ? QStringLiteral("a page of the list could not be read: %1").arg(detail)
                       : QStringLiteral("作品列表读取失败: %1").arg(detail);
    case ListingEnd::PageReturned:
        return english ? QStringLiteral("the list led back to a page already read; listing ended")
                       : QStringLiteral("作品列表回到了读过的一页，读取结束");
    case ListingEnd::NoNewWork:
        return english ? QStringLiteral("page %1 added no new work; listing ended").arg(count)
                       : QStringLiteral("第 %1 页没有新作品，读取结束").arg(count);
    case ListingEnd::PageLimit:
        return english ? QStringLiteral("stopped after %1 pages (the page limit); the rest was not read").arg(count)
                       : QStringLiteral("已读取 %1 页，达到页数上限，其余作品未读取").arg(count);
    case ListingEnd::WorkLimit:
        return english ? QStringLiteral("stopped at %1 works (the work limit); the rest was not read").arg(count)
                       : QStringLiteral("已列出 %1 个作品，达到作品数上限，其余作品未读取").arg(count);
    }
    return QString();
}

struct AuthorListing::State {
    explicit State(const Hosts &h) : hosts(h), ctx {nullptr, [this] { return author.address; }, hosts} {}
    const Hosts &hosts;
    ExtractorContext ctx;
    std::shared_ptr<const SiteSet> set;  // kept for the whole listing
    const SiteDescription *site = nullptr;
    const SiteListing *listing = nullptr;
    ListingLimits limits;
    ListedAuthor author;
    QSet<QString> ids;    // the works listed
    QSet<QString> asked;  // the pages asked for
    qsizetype listed = 0;
    int pages = 0;       // works pages taken
    int pagesAsked = 0;  // every fetch, the author's page included
    int leftOut = 0;
    int repeated = 0;
    int busyTries = 0;
    bool running = false;
    bool stopping = false;
    quint64 run = 0;  // ends a page's answer that comes after a stop and a new start
};

AuthorListing::AuthorListing(const Hosts &h, QObject *parent) : QObject(parent), st_(std::make_unique<State>(h)) {}

AuthorListing::~AuthorListing() = default;

const ListedAuthor &AuthorListing::author() const
{
    return st_->author;
}
int AuthorListing::pagesAsked() const
{
    return st_->pagesAsked;
}
qsizetype AuthorListing::worksListed() const
{
    return st_->listed;
}
int AuthorListing::leftOut() const
{
    return st_->leftOut;
}
int AuthorListing::repeated() const
{
    return st_->repeated;
}
bool AuthorListing::running() const
{
    return st_->running;
}

void AuthorListing::start(int site, const QString &address, ListingLimits limits)
{
    State &st = *st_;
    const quint64 run = st.run + 1;
    const Hosts &h = st.hosts;
    st_ = std::make_unique<State>(h);
    State &s = *st_;
    s.run = run;
    s.running = true;
    s.limits = limits;
    s.set = currentSites();
    s.site = s.set ? s.set->get(site) : nullptr;
    s.listing = listingOf(s.set, site);
    s.author.site = site;
    if (!s.listing) {
        QTimer::singleShot(0, this, [this, run] {
            if (st_->run == run)
                finish(ListingEnd::NoListing);
        });
        return;
    }
    s.author.id = authorIdOf(address, site, h);
    s.author.address = authorAddress(site, s.author.id, h);
    if (s.author.id.isEmpty()) {
        QTimer::singleShot(0, this, [this, run] {
            if (st_->run == run)
                finish(ListingEnd::BadAddress);
        });
        return;
    }
    ask(s.author.address, true);
}

void AuthorListing::stop()
{
    State &st = *st_;
    if (!st.running || st.stopping)
        return;
    st.stopping = true;
    const quint64 run = st.run;
    QTimer::singleShot(0, this, [this, run] {
        if (st_->run == run && st_->running)
            finish(ListingEnd::Stopped);
    });
}

void AuthorListing::ask(const QString &address, bool authorPage)
{
    State &st = *st_;
    st.asked.insert(address);
    ++st.pagesAsked;
    const quint64 run = st.run;
    fetch::getLater(address, fetch::PageLimit, this, [this, run, address, authorPage](const fetch::Result &answer) {
        if (st_->run == run && st_->running && !st_->stopping)
            answered(address, authorPage, answer);
    });
}

void AuthorListing::answered(const QString &address, bool authorPage, const fetch::Result &answer)
{
    State &st = *st_;
    const bool busy = answer.status == 429 || answer.status == 503;
    if (busy && st.busyTries < MostBusyTries) {
        // A busy service is asked again after its Retry-After, as a share page is.
        const int seconds = busyPauseSeconds(answer.retryAfter, st.busyTries++);
        const quint64 run = st.run;
        QTimer::singleShot(std::chrono::seconds(seconds), this, [this, run, address, authorPage] {
            if (st_->run == run && st_->running && !st_->stopping) {
                --st_->pagesAsked;
                ask(address, authorPage);
            }
        });
        return;
    }
    st.busyTries = 0;
    if (authorPage && (answer.status == 404 || answer.status == 410)) {
        finish(ListingEnd::Gone);
        return;
    }
    const std::optional<QString> text = answer.ok && answer.status < 400 ? bodyText(answer) : std::nullopt;
    if (!text) {
        finish(
            ListingEnd::Failed, answer.error.isEmpty() ? QStringLiteral("HTTP %1").arg(answer.status) : answer.error);
        return;
    }
    if (!authorPage) {
        takeWorks(*text, address);
        return;
    }
    const ListedAuthor about = readAuthorPage(*st.site, *text, address, st.author.id, st.hosts);
    st.author.name = about.name;
    st.author.avatar = about.avatar;
    emit authorKnown(st.author);
    if (!st_->running || st_->stopping)
        return;
    if (st.listing->first.parts.isEmpty()) {
        takeWorks(*text, address);
        return;
    }
    const QString first = expanded(st.listing->first, *st.site, st.hosts,
        {{QStringLiteral("uid"), st.author.id}, {QStringLiteral("number"), QStringLiteral("1")}});
    ask(first, false);
}

void AuthorListing::takeWorks(const QString &text, const QString &pageAddress)
{
    State &st = *st_;
    ++st.pages;
    const SiteListing &l = *st.listing;
    const ListingPage page = readListingPage(*st.site, text, pageAddress, st.author.id, st.hosts);
    st.leftOut += page.leftOut;
    QList<ListedWork> found;
    bool full = false;
    for (const ListedWork &work : page.works) {
        if (st.ids.contains(work.id)) {
            ++st.repeated;
            continue;
        }
        if (st.listed >= st.limits.maxWorks) {
            full = true;
            break;
        }
        st.ids.insert(work.id);
        found.append(work);
        found.last().index = ++st.listed;
    }
    if (!found.isEmpty())
        emit worksFound(found, st.pages);
    if (!st_->running || st_->stopping)
        return;
    if (full) {
        finish(ListingEnd::WorkLimit, QString::number(st.listed));
        return;
    }
    if (found.isEmpty()) {
        finish(page.items > 0 ? ListingEnd::NoNewWork : ListingEnd::Done);
        return;
    }
    if (l.then.parts.isEmpty()) {
        finish(ListingEnd::Done);
        return;
    }
    QHash<QString, QString> names {{QStringLiteral("uid"), st.author.id}};
    if (l.numbered) {
        names.insert(QStringLiteral("number"), QString::number(st.pages + 1));
    } else if (page.next.isEmpty() || page.next == l.last) {
        finish(ListingEnd::Done);
        return;
    } else {
        names.insert(QStringLiteral("next"), page.next);
    }
    const QString address = expanded(l.then, *st.site, st.hosts, names);
    if (st.asked.contains(address)) {
        finish(ListingEnd::PageReturned);
        return;
    }
    if (!onOwnHost(address, l.then, *st.site, st.hosts) || address.size() > 4096) {
        finish(ListingEnd::Failed, QStringLiteral("not the service's own host"));
        return;
    }
    if (st.pages >= st.limits.maxPages) {
        finish(ListingEnd::PageLimit, QString::number(st.pages));
        return;
    }
    ask(address, false);
}

void AuthorListing::finish(ListingEnd end, const QString &detail)
{
    State &st = *st_;
    st.running = false;
    const qsizetype count = end == ListingEnd::NoNewWork ? st.pages : detail.toLongLong();
    const bool noListing = end == ListingEnd::NoListing;
    emit ended(end, listingEndText(end, count, noListing ? siteCaption(st.author.site) : detail, false),
        listingEndText(end, count, noListing ? siteName(st.author.site) : detail, true));
}
