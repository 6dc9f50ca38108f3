// The authors of the simulated services: who made which video, their pages, and the
// interfaces that hand out their works a batch at a time. Made-up works are built from their
// id when asked for, so a thousand-work author costs nothing until its works are listed.
#include "catalog.h"

#include "sites/site_registry.h"
#include "sites/sites.h"

#include <QDateTime>

namespace {

// How many works one page or one interface answer lists.
constexpr int MeipaiPageSize = 12;
constexpr int WeishiPageSize = 10;
constexpr int KuaishouBatch = 15;
constexpr int WeipaiBatch = 20;
constexpr int MiaopaiPageSize = 20;

// Author ids: the service's letters and a number; 美拍's are all digits ("6" and three digits,
// 7000 for the thousand-work author, 8000 for the benchmark's).
QString uidOf(int site, int n)
{
    static const char *const letters[] = {"ws", "", "ks", "wpu", "mpu"};
    if (site == Meipai)
        return n == 1000 ? QStringLiteral("7000") : QStringLiteral("6%1").arg(n, 3, 10, QChar(u'0'));
    return QString::fromLatin1(letters[site]) + QString::number(n);
}

// What comes before the digits of a video id.
QString idLetters(int site)
{
    static const char *const letters[] = {"wsv", "", "", "wp", "mp"};
    return QString::fromLatin1(letters[site]);
}

// A JSON string: quotes, backslashes and control characters escaped.
QString json(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            out += QStringLiteral("\\") + c;
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c.unicode() < 0x20)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
        else
            out += c;
    }
    return out + u'"';
}

HttpResponse jsonAnswer(const QString &text)
{
    return HttpResponse::text(text.toUtf8(), "application/json");
}

// A page number given as KEY=N (N from 1); 1 when absent, nothing when not a page number.
std::optional<int> pageNumber(const QUrlQuery &query, const QString &key)
{
    if (!query.hasQueryItem(key))
        return 1;
    bool ok = false;
    const int n = query.queryItemValue(key).toInt(&ok);
    return ok && n >= 1 ? std::optional<int>(n) : std::nullopt;
}

// A cursor of the form LETTER + offset; 0 when absent or empty, nothing when not understood.
std::optional<qint64> cursorOffset(const QUrlQuery &query, const QString &key, QChar letter)
{
    const QString cursor = query.queryItemValue(key);
    if (cursor.isEmpty())
        return 0;
    bool ok = false;
    const qint64 offset = cursor.mid(1).toLongLong(&ok);
    return cursor.startsWith(letter) && ok && offset >= 0 ? std::optional<qint64>(offset) : std::nullopt;
}

}  // namespace

void Catalog::addAuthors()
{
    for (int site = 0; site < SiteCount; ++site) {
        QList<qsizetype> own;  // the service's catalogue videos, in catalogue order
        for (qsizetype k = 0; k < videos_.size(); ++k) {
            if (videos_[k].site == site)
                own << k;
        }
        SimVideo &first = videos_[own[0]];
        first.authorUid = uidOf(site, 3);
        authors_ << SimAuthor {site, first.authorUid, first.author, 3, 3, first.id}
                 << SimAuthor {site, uidOf(site, 45), QStringLiteral("连载小剧场"), 45, 45, {}}
                 << SimAuthor {site, uidOf(site, 1000), QStringLiteral("千条日记"), 1000, 1000, {}}
                 << SimAuthor {site, uidOf(site, 0), QStringLiteral("还没发作品"), 0, 0, {}}
                 << SimAuthor {site, uidOf(site, 404), {}, 0, 0, {}, true};
        // Every later video is the one work of an author of its own.
        for (qsizetype n = 1; n < own.size(); ++n) {
            SimVideo &v = videos_[own[n]];
            v.authorUid = uidOf(site, int(10 + n));
            authors_ << SimAuthor {site, v.authorUid, v.author, 1, 0, v.id};
        }
    }
}

void Catalog::addBenchAuthor(int works)
{
    // Its works' ids, 80000001 on, lie above every other author's (at most 10001000).
    authors_ << SimAuthor {Meipai, QStringLiteral("8000"), QStringLiteral("基准作者"), works, 8000, {}};
}

const SimAuthor *Catalog::author(const QString &uid) const
{
    for (const SimAuthor &a : authors_) {
        if (a.uid == uid)
            return &a;
    }
    return nullptr;
}

QString Catalog::authorAddress(const SimAuthor &a) const
{
    const QString site = simOrigin(sitePrefix(a.site, QStringLiteral("page"), h_));
    switch (a.site) {
    case Meipai:
    case Weipai: return site + "/user/" + a.uid;
    case Kuaishou: return site + "/i/user/" + a.uid;
    default: return site + "/u/" + a.uid;
    }
}

QStringList Catalog::authorLines() const
{
    QStringList lines;
    for (const SimAuthor &a : authors_) {
        lines << authorAddress(a) + "  # " + siteCaption(a.site) + " " +
                (a.gone ? QStringLiteral("(gone: 404)") : a.name + " " + QString::number(a.works));
    }
    return lines;
}

// The made-up work of a service with this id, when its number names a real author and a
// work within its count.
std::optional<SimVideo> Catalog::generatedWork(int site, const QString &id) const
{
    const QString letters = idLetters(site);
    bool ok = false;
    const qint64 digits = id.mid(letters.size()).toLongLong(&ok);
    if (!id.startsWith(letters) || !ok || id != letters + QString::number(digits))
        return std::nullopt;
    for (const SimAuthor &a : authors_) {
        const int made = a.works - (a.firstVideo.isEmpty() ? 0 : 1);
        const qint64 i = digits - qint64(a.generated) * 10000;
        if (a.site == site && a.generated > 0 && !a.gone && i >= 1 && i <= made)
            return generatedWork(a, int(i));
    }
    return std::nullopt;
}

// Made-up work i (from 1) of an author: a day apart before the first video for the author
// who has one, else an hour apart before 2016-06-01 12:00.
SimVideo Catalog::generatedWork(const SimAuthor &a, int i) const
{
    QString date;
    if (!a.firstVideo.isEmpty()) {
        const QString firstDate = find(a.site, a.firstVideo)->date;
        date = QDate::fromString(firstDate.left(10), QStringLiteral("yyyy-MM-dd"))
                   .addDays(-i)
                   .toString(QStringLiteral("yyyy-MM-dd")) +
            firstDate.mid(10);
    } else {
        const QDateTime start(QDate(2016, 6, 1), QTime(12, 0), Qt::UTC);
        date = start.addSecs(-3600LL * i)
                   .toString(a.site == Miaopai ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("yyyy-MM-dd HH:mm"));
    }
    return SimVideo {a.site, idLetters(a.site) + QString::number(qint64(a.generated) * 10000 + i), a.name,
        QStringLiteral("%1的第%2个作品").arg(a.name, QString::number(i)), date, false, false, a.uid};
}

// The works from position `from` (0 is the newest), at most `count` of them.
QList<SimVideo> Catalog::works(const SimAuthor &a, qint64 from, int count) const
{
    QList<SimVideo> out;
    for (qint64 k = from; k < a.works && k < from + count; ++k) {
        if (!a.firstVideo.isEmpty() && k == 0)
            out << *find(a.site, a.firstVideo);
        else
            out << generatedWork(a, int(k + (a.firstVideo.isEmpty() ? 1 : 0)));
    }
    return out;
}

// The cover a work's extraction gives, so a listed cover is the one a download shows.
QString Catalog::coverAddress(const SimVideo &v) const
{
    switch (v.site) {
    case Weishi: return sitePrefix(Weishi, QStringLiteral("cover"), h_) + v.id + "_1/480";
    case Kuaishou: return simOrigin(sitePrefix(Kuaishou, QStringLiteral("page"), h_)) + "/upic/" + v.id + ".jpg";
    case Miaopai: return sitePrefix(Miaopai, QStringLiteral("stream"), h_) + v.id + "_m.jpg";
    default: return simOrigin(sitePrefix(v.site, QStringLiteral("page"), h_)) + "/cover/" + v.id + ".jpg";
    }
}

// An author's page: the service's header and footer around the body.
QString Catalog::authorPage(const SimAuthor &a, const QString &body) const
{
    static const char *const headers[] = {
        R"(<div class="header"><a class="logo" href="/">腾讯微视</a></div>)",
        R"(<div id="header"><a href="/">美拍</a> <a href="/squares">热门</a></div>)",
        R"(<div class="top"><a href="/">快手</a></div>)",
        R"(<div class="nav"><a href="/">微拍</a></div>)",
        R"(<div class="header"><a href="/">秒拍</a></div>)",
    };
    static const char *const footers[] = {
        R"(<div class="footer">Copyright &copy; 1998 - 2014 Tencent. All Rights Reserved.</div>)",
        R"(<div id="footer">&copy; 2015 美图公司</div>)",
        R"(<div class="bottom">下载快手，看更多精彩视频</div>)",
        R"(<div class="footer">&copy; 2014 微拍</div>)",
        R"(<div class="footer"><p>&copy; 2015 秒拍</p></div>)",
    };
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + a.name.toHtmlEscaped() + "的主页 - " +
        siteCaption(a.site) + "</title></head><body>" + QString::fromUtf8(headers[a.site]) + "\n" + body +
        QString::fromUtf8(footers[a.site]) + "</body></html>";
}

// The answer for an author's page or works interface; nothing for other paths.
std::optional<HttpResponse> Catalog::authorAnswer(const QString &path, const QUrlQuery &query) const
{
    // The author whose id the path holds, when it is of one of these services and not gone.
    QString uid;
    const auto matches = [&path, &uid](const QString &start, const QString &end = QString()) {
        if (!path.startsWith(start) || !path.endsWith(end) || path.size() < start.size() + end.size())
            return false;
        uid = path.mid(start.size(), path.size() - start.size() - end.size());
        return true;
    };
    const auto owner = [this, &uid](std::initializer_list<int> sites) -> const SimAuthor * {
        const SimAuthor *a = author(uid);
        return a && !a->gone && std::find(sites.begin(), sites.end(), a->site) != sites.end() ? a : nullptr;
    };

    HttpResponse r;
    if (matches(QStringLiteral("/api/weipai/user/"), QStringLiteral("/videos")))
        r = weipaiWorks(owner({Weipai}), query);
    else if (matches(QStringLiteral("/rest/kuaishou/user/"), QStringLiteral("/feeds")))
        r = kuaishouWorks(owner({Kuaishou}), query);
    else if (matches(QStringLiteral("/api/miaopai/user/"), QStringLiteral("/videos")))
        r = miaopaiWorks(owner({Miaopai}), query);
    else if (matches(QStringLiteral("/user/")))
        r = authorHtml(owner({Meipai, Weipai}), query);
    else if (matches(QStringLiteral("/u/")))
        r = authorHtml(owner({Weishi, Miaopai}), query);
    else if (matches(QStringLiteral("/i/user/")))
        r = authorHtml(owner({Kuaishou}), query);
    else
        return std::nullopt;
    r.delayMs = holdMs_;
    return r;
}

// An author's page (404 for none); 美拍 and 微视 list the works, the others only introduce
// the author and leave the works to their interfaces.
HttpResponse Catalog::authorHtml(const SimAuthor *a, const QUrlQuery &query) const
{
    if (!a)
        return HttpResponse::notFound();
    if (a->site == Meipai)
        return meipaiAuthor(*a, query);
    if (a->site == Weishi)
        return weishiAuthor(*a, query);
    QString body;
    if (a->site == Weipai)
        body = QStringLiteral(
            R"(<div class="user"><img src="%1/%2.jpg" class="head" width="48"><span class="nick">%3</span></div>)")
                   .arg(sitePrefix(Weipai, QStringLiteral("avatar"), h_), a->uid, a->name.toHtmlEscaped());
    else if (a->site == Kuaishou)
        body = QStringLiteral(
            R"(<div class="user"><img class="avatar" src="%1/head/%2.jpg"><h2 class="name">%3</h2></div>)")
                   .arg(simOrigin(sitePrefix(Kuaishou, QStringLiteral("page"), h_)), a->uid, a->name.toHtmlEscaped());
    else
        body = QStringLiteral(
            R"(<div class="userInfo"><img class="userHead" src="%1/avatar/%2.jpg"><span class="userName">%3</span></div>)")
                   .arg(sitePrefix(Miaopai, QStringLiteral("avatar"), h_), a->uid, a->name.toHtmlEscaped());
    return HttpResponse::text(authorPage(*a, body + "\n").toUtf8());
}

HttpResponse Catalog::meipaiAuthor(const SimAuthor &a, const QUrlQuery &query) const
{
    const std::optional<int> page = pageNumber(query, QStringLiteral("p"));
    if (!page)
        return HttpResponse::notFound();
    const qint64 from = qint64(*page - 1) * MeipaiPageSize;
    QString body = QStringLiteral(R"(<div class="user-info"><img class="user-avatar" src="%1/avatar/%2.jpg!thumb60">
<h1 class="user-name">%3</h1>
<span class="count">共 %4 个作品</span></div>
<ul class="feed-list">
)")
                       .arg(sitePrefix(Meipai, QStringLiteral("avatar"), h_), a.uid, a.name.toHtmlEscaped(),
                           QString::number(a.works));
    for (const SimVideo &v : works(a, from, MeipaiPageSize)) {
        body += QStringLiteral(
            R"(<li class="feed-item"><a href="/media/%1" class="feed-link"><img class="feed-cover" src="%2"></a><p class="feed-desc">%3</p><span class="feed-date">%4</span></li>
)")
                    .arg(v.id, coverAddress(v), v.description.toHtmlEscaped(), v.date);
    }
    body += "</ul>\n";
    if (from + MeipaiPageSize < a.works)
        body += QStringLiteral("<a class=\"next\" href=\"/user/%1?p=%2\">下一页</a>\n")
                    .arg(a.uid, QString::number(*page + 1));
    return HttpResponse::text(authorPage(a, body).toUtf8());
}

HttpResponse Catalog::weishiAuthor(const SimAuthor &a, const QUrlQuery &query) const
{
    const std::optional<int> page = pageNumber(query, QStringLiteral("page"));
    if (!page)
        return HttpResponse::notFound();
    QString body = QStringLiteral(R"(<div class="userInfo"><img class="headPic" src="%1/head/%2.jpg" title="%3" />
<span class="nick">%3</span>
<span class="count">共 %4 个作品</span></div>
<div class="feedList">
)")
                       .arg(simOrigin(sitePrefix(Weishi, QStringLiteral("cover"), h_)), a.uid, a.name.toHtmlEscaped(),
                           QString::number(a.works));
    for (const SimVideo &v : works(a, qint64(*page - 1) * WeishiPageSize, WeishiPageSize)) {
        body += QStringLiteral(
            R"(<div class="feedItem"><a href="/t/%1" class="feedLink"><img class="feedCover" src="%2"></a><div class="feedMsg">%3</div><span class="feedTime">%4</span></div>
)")
                    .arg(v.id, coverAddress(v), v.description.toHtmlEscaped(), v.date);
    }
    return HttpResponse::text(authorPage(a, body + "</div>\n").toUtf8());
}

HttpResponse Catalog::weipaiWorks(const SimAuthor *a, const QUrlQuery &query) const
{
    const std::optional<qint64> from = cursorOffset(query, QStringLiteral("cursor"), u'c');
    if (!a || !from)
        return jsonAnswer(QStringLiteral("{\"state\":0}"));
    QStringList items;
    for (const SimVideo &v : works(*a, *from, WeipaiBatch)) {
        items << "{\"vid\":" + json(v.id) + ",\"desc\":" + json(v.description) + ",\"pic\":" + json(coverAddress(v)) +
                ",\"time\":" + json(v.date) + "}";
    }
    const QString next = *from + WeipaiBatch < a->works ? "c" + QString::number(*from + WeipaiBatch) : QString();
    return jsonAnswer("{\"state\":1,\"videos\":[" + items.join(u',') + "],\"next_cursor\":" + json(next) + "}");
}

HttpResponse Catalog::kuaishouWorks(const SimAuthor *a, const QUrlQuery &query) const
{
    const std::optional<qint64> from = cursorOffset(query, QStringLiteral("pcursor"), u'p');
    if (!a || !from)
        return jsonAnswer(QStringLiteral("{\"result\":0}"));
    QStringList items;
    for (const SimVideo &v : works(*a, *from, KuaishouBatch)) {
        items << "{\"photoId\":" + json(v.id) + ",\"caption\":" + json(v.description) +
                ",\"thumbnailUrl\":" + json(coverAddress(v)) + ",\"time\":" + json(v.date) + "}";
    }
    const QString next =
        *from + KuaishouBatch < a->works ? "p" + QString::number(*from + KuaishouBatch) : QStringLiteral("no_more");
    return jsonAnswer("{\"result\":1,\"feeds\":[" + items.join(u',') + "],\"pcursor\":" + json(next) + "}");
}

HttpResponse Catalog::miaopaiWorks(const SimAuthor *a, const QUrlQuery &query) const
{
    if (!a)
        return jsonAnswer(QStringLiteral("{\"code\":404,\"list\":[]}"));
    const std::optional<int> page = pageNumber(query, QStringLiteral("page"));
    if (!page)
        return jsonAnswer(QStringLiteral("{\"code\":400,\"list\":[]}"));
    QStringList items;
    for (const SimVideo &v : works(*a, qint64(*page - 1) * MiaopaiPageSize, MiaopaiPageSize)) {
        items << "{\"scid\":" + json(v.id) + ",\"title\":" + json(v.description) + ",\"pic\":" + json(coverAddress(v)) +
                ",\"created\":" + json(v.date) + "}";
    }
    return jsonAnswer("{\"code\":200,\"page\":" + QString::number(*page) + ",\"list\":[" + items.join(u',') + "]}");
}
