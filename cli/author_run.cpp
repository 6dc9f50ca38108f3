#include "author_run.h"

#include "download/output_template.h"
#include "sites/sites.h"
#include "terminal_text.h"

#include <memory>

void listAuthor(int site, const QString &address, const PlaylistOptions &o, const Hosts &h, QObject *context,
    std::function<bool(const QString &id)> saved, std::function<void(const AuthorPlaylist &)> done)
{
    auto *listing = new AuthorListing(h, context);
    auto playlist = std::make_shared<AuthorPlaylist>();
    playlist->address = address;
    const bool breakOnExisting = o.breakOnExisting;
    QObject::connect(listing, &AuthorListing::worksFound, listing,
        [listing, playlist, saved, breakOnExisting](const QList<ListedWork> &works) {
            for (const ListedWork &work : works) {
                if (breakOnExisting && saved(work.id)) {
                    // The newest works come first: from here on everything was saved before.
                    playlist->brokeOnExisting = true;
                    listing->stop();
                    return;
                }
                playlist->works.append(work);
            }
        });
    QObject::connect(listing, &AuthorListing::ended, listing,
        [listing, playlist, done](ListingEnd end, const QString &, const QString &english) {
            playlist->author = listing->author();
            playlist->end = end;
            playlist->said = english;
            playlist->pagesAsked = listing->pagesAsked();
            playlist->leftOut = listing->leftOut();
            listing->deleteLater();
            done(*playlist);
        });
    listing->start(site, address, {o.maxPages, o.maxWorks});
}

QList<qsizetype> chosenWorks(const AuthorPlaylist &p, const PlaylistOptions &o)
{
    QList<qsizetype> out;
    for (const qsizetype place : chooseItems(o.items, p.works.size())) {
        if (inDateRange(outtmpl::uploadDate(p.works[place - 1].date), o))
            out.append(place - 1);
    }
    return out;
}

QVariantHash playlistFields(const AuthorPlaylist &p, qsizetype place, qsizetype chosen)
{
    const ListedAuthor &a = p.author;
    return {{QStringLiteral("playlist"), a.name}, {QStringLiteral("playlist_id"), a.id},
        {QStringLiteral("playlist_title"), a.name}, {QStringLiteral("playlist_index"), place + 1},
        {QStringLiteral("playlist_count"), p.works.size()}, {QStringLiteral("playlist_uploader"), a.name},
        {QStringLiteral("playlist_uploader_id"), a.id}, {QStringLiteral("n_entries"), chosen}};
}

void writePlaylistHead(json::Writer &w, const AuthorPlaylist &p, qsizetype chosen)
{
    const ListedAuthor &a = p.author;
    w.beginObject();
    w.member("_type", QStringLiteral("playlist"));
    w.member("id", a.id);
    w.member("title", a.name);
    w.member("uploader", a.name);
    w.member("uploader_id", a.id);
    w.member("uploader_url", a.address);
    w.member("thumbnail", a.avatar);
    w.member("webpage_url", a.address);
    w.member("original_url", p.address);
    w.member("extractor", siteName(a.site));
    w.member("extractor_key", outtmpl::extractorKey(siteName(a.site)));
    w.member("playlist_count", qint64(p.works.size()));
    w.member("n_entries", qint64(chosen));
    w.key("entries");
    w.raw("[");
}

void writePlaylistTail(json::Writer &w)
{
    w.raw("]}\n");
    w.flush();
}

namespace {

void writeFlatEntry(json::Writer &w, const AuthorPlaylist &p, qsizetype place, qsizetype chosen)
{
    const ListedWork &work = p.works[place];
    const QString site = siteName(p.author.site);
    w.beginObject();
    w.member("_type", QStringLiteral("url"));
    w.member("ie_key", outtmpl::extractorKey(site));
    w.member("id", work.id);
    w.member("url", work.address);
    w.member("title", work.description);
    w.member("description", work.description);
    w.member("thumbnail", work.cover);
    w.member("date", work.date);
    const QString day = outtmpl::uploadDate(work.date);
    if (day.isEmpty())
        w.nullMember("upload_date");
    else
        w.member("upload_date", day);
    w.member("uploader", p.author.name);
    w.member("uploader_id", p.author.id);
    w.member("uploader_url", p.author.address);
    w.member("webpage_url", work.address);
    w.member("extractor", site);
    const QVariantHash fields = playlistFields(p, place, chosen);
    for (const char *name : {"playlist", "playlist_id", "playlist_title"})
        w.member(name, fields.value(QLatin1String(name)).toString());
    w.member("playlist_index", qint64(place + 1));
    w.member("playlist_count", qint64(p.works.size()));
    w.endObject();
}

}  // namespace

void printFlat(json::Writer &w, QTextStream &out, const AuthorPlaylist &p, const PlaylistOptions &o, bool json)
{
    const QList<qsizetype> chosen = chosenWorks(p, o);
    if (json && o.single) {
        writePlaylistHead(w, p, chosen.size());
        for (qsizetype i = 0; i < chosen.size(); ++i) {
            if (i > 0)
                w.raw(", ");
            writeFlatEntry(w, p, chosen[i], chosen.size());
        }
        writePlaylistTail(w);
        return;
    }
    if (json) {
        for (const qsizetype place : chosen) {
            writeFlatEntry(w, p, place, chosen.size());
            w.raw("\n");
        }
        w.flush();
        return;
    }
    out << forTerminal(p.address) << "\n";
    out << "  作者: " << forTerminal(p.author.name) << "\n";
    out << "  作品: " << p.works.size() << "\n";
    const int width = int(QString::number(p.works.size()).size());
    for (const qsizetype place : chosen) {
        const ListedWork &work = p.works[place];
        out << "  " << QStringLiteral("%1").arg(place + 1, width, 10, QChar(u'0')) << "  " << forTerminal(work.date)
            << "  " << forTerminal(work.address) << "  " << forTerminal(work.description) << "\n";
    }
    out.flush();
}
