#include "report.h"

#include "download/output_template.h"
#include "download/video_name.h"
#include "extract/display.h"

#include <QFileInfo>
#include "sites/sites.h"
#include "terminal_text.h"

namespace {

// What a column writes from: the report, its display step (an empty one when none ran) and
// whether the line carries the record.
struct Line {
    const AddressReport &r;
    const DisplayPlan &d;
    bool withSlots;
};

using Write = void (*)(json::Writer &w, const char *name, const Line &l);

struct Column {
    JsonColumn column;
    Write write;
};

void writeDisplay(json::Writer &w, const char *name, const std::optional<DisplayPlan> &plan)
{
    if (!plan) {
        w.nullMember(name);
        return;
    }
    w.key(name);
    w.beginObject();
    w.member("author", plan->authorCaption);
    w.member("description", plan->descriptionCaption);
    w.member("date", plan->date);
    w.member("badge", badgeKindName(plan->badge));
    w.member("cover", plan->cover);
    w.member("avatar", plan->avatar);
    w.endObject();
}

void writeSlots(json::Writer &w, const char *name, const ExtractionResult &result)
{
    w.key(name);
    w.beginArray();
    for (int i = 0; i < SlotCount; ++i)
        w.element(result.ResultSlots[i]);
    w.endArray();
}

// A string member, or null when absent.
void stringOrNull(json::Writer &w, const char *name, const QString &value, bool present)
{
    if (present)
        w.member(name, value);
    else
        w.nullMember(name);
}

bool savedWell(const Line &l)
{
    return l.r.saved && l.r.saved->error.isEmpty();
}

using W = json::Writer;

// A member of the playlist a work came from, when it came from one.
void playlistMember(W &w, const char *name, const QVariantHash &playlist)
{
    const QVariant v = playlist.value(QLatin1String(name));
    if (!v.isValid())
        return;
    if (v.typeId() == QMetaType::QString)
        w.member(name, v.toString());
    else
        w.member(name, v.toLongLong());
}

// The conversion's outcome: the new file, or why there is none.
void writeConverted(W &w, const char *name, const convert::Result &c, const QString &format)
{
    w.key(name);
    w.beginObject();
    if (c.ok()) {
        w.member("file", c.file);
        w.member("format", format);
        w.member("seconds", c.seconds);
        w.member("existed", c.existed);
    } else {
        w.member("error", c.error);
        w.member("error_code", c.code);
    }
    w.endObject();
}

// The saved file's facts, when it was measured.
const convert::MediaFacts *factsOf(const Line &l)
{
    return l.r.facts && savedWell(l) ? &*l.r.facts : nullptr;
}

// A measured number (null without a download, or when not known) and a measured name.
void numberFact(W &w, const char *name, const Line &l, int (*read)(const convert::MediaFacts &))
{
    const convert::MediaFacts *f = factsOf(l);
    if (f != nullptr && read(*f) > 0)
        w.member(name, read(*f));
    else
        w.nullMember(name);
}

void nameFact(W &w, const char *name, const Line &l, QString (*read)(const convert::MediaFacts &))
{
    const convert::MediaFacts *f = factsOf(l);
    stringOrNull(w, name, f != nullptr ? read(*f) : QString(), f != nullptr && !read(*f).isEmpty());
}

const Column Columns[] = {
    {{"address", "string", JsonWhen::Always, "the address as extracted (taken out of the text around it)"},
        [](W &w, const char *n, const Line &l) { w.member(n, l.r.address); }},
    {{"site", "string or null", JsonWhen::Always, "the service's name, null when no service matched"},
        [](W &w, const char *n, const Line &l) { stringOrNull(w, n, siteName(l.r.site), l.r.site >= 0); }},
    {{"ok", "boolean", JsonWhen::Always, "true when a web video link was extracted"},
        [](W &w, const char *n, const Line &l) { w.member(n, l.r.ok()); }},
    {{"video_url", "string or null", JsonWhen::Always, "the video link, null when ok is false"},
        [](W &w, const char *n, const Line &l) { stringOrNull(w, n, l.r.result.ResultSlots[SlotVideoUrl], l.r.ok()); }},
    {{"cover_url", "string", JsonWhen::Always, "the cover's address as extracted"},
        [](W &w, const char *n, const Line &l) { w.member(n, l.d.cover); }},
    {{"avatar_url", "string", JsonWhen::Always, "the avatar's address as extracted"},
        [](W &w, const char *n, const Line &l) { w.member(n, l.d.avatarUrl()); }},
    {{"author", "string", JsonWhen::Always, "the author, uncut"},
        [](W &w, const char *n, const Line &l) { w.member(n, l.d.author); }},
    {{"description", "string", JsonWhen::Always, "the description, uncut"},
        [](W &w, const char *n, const Line &l) { w.member(n, l.d.description); }},
    {{"date", "string", JsonWhen::Always, "the date, uncut"},
        [](W &w, const char *n, const Line &l) { w.member(n, l.d.date); }},
    {{"verified", "boolean", JsonWhen::Always, "true when the verified badge would be shown"},
        [](W &w, const char *n, const Line &l) { w.member(n, l.d.badge != Badge::None); }},
    {{"status", "string", JsonWhen::Always, "the status line as the window shows it, in Chinese"},
        [](W &w, const char *n, const Line &l) { w.member(n, l.r.view.status); }},
    {{"error", "string or null", JsonWhen::Always, "why the extraction failed, in short English"},
        [](W &w, const char *n, const Line &l) { stringOrNull(w, n, l.r.error, !l.r.error.isEmpty()); }},
    {{"error_code", "string or null", JsonWhen::Always, "the failure's fixed code, null when it worked"},
        [](W &w, const char *n, const Line &l) { stringOrNull(w, n, l.r.errorCode, !l.r.errorCode.isEmpty()); }},
    // The same video under the names the common downloader's lines use.
    {{"id", "string or null", JsonWhen::Always, "the video's id (the share address after the page prefix)"},
        [](W &w, const char *n, const Line &l) { stringOrNull(w, n, l.r.video.id, l.r.ok()); }},
    {{"ext", "string or null", JsonWhen::Always, "the file's extension: the saved file's, else the link's"},
        [](W &w, const char *n, const Line &l) {
            stringOrNull(w, n, savedWell(l) ? QFileInfo(l.r.saved->file).suffix() : linkVideoExtension(l.r.video.link),
                l.r.ok());
        }},
    {{"title", "string or null", JsonWhen::Always, "the description (as description)"},
        [](W &w, const char *n, const Line &l) { stringOrNull(w, n, l.r.video.description, l.r.ok()); }},
    {{"uploader", "string or null", JsonWhen::Always, "the author (as author)"},
        [](W &w, const char *n, const Line &l) { stringOrNull(w, n, l.r.video.author, l.r.ok()); }},
    {{"uploader_id", "string or null", JsonWhen::Always, "the author's id, from the author link of the share page"},
        [](W &w, const char *n, const Line &l) {
            stringOrNull(w, n, l.r.video.uploaderUrl.section(u'/', -1), !l.r.video.uploaderUrl.isEmpty());
        }},
    {{"uploader_url", "string or null", JsonWhen::Always, "the author's page the share page links to"},
        [](W &w, const char *n, const Line &l) {
            stringOrNull(w, n, l.r.video.uploaderUrl, !l.r.video.uploaderUrl.isEmpty());
        }},
    {{"upload_date", "string or null", JsonWhen::Always, "the date as YYYYMMDD, null when it cannot be read"},
        [](W &w, const char *n, const Line &l) {
            const QString day = outtmpl::uploadDate(l.r.video.date);
            stringOrNull(w, n, day, l.r.ok() && !day.isEmpty());
        }},
    {{"webpage_url", "string", JsonWhen::Always, "the share address (as address)"},
        [](W &w, const char *n, const Line &l) { w.member(n, l.r.address); }},
    {{"extractor", "string or null", JsonWhen::Always, "the service's name (as site)"},
        [](W &w, const char *n, const Line &l) { stringOrNull(w, n, siteName(l.r.site), l.r.site >= 0); }},
    {{"filename", "string or null", JsonWhen::Always, "the saved file (as file), null without a download"},
        [](W &w, const char *n, const Line &l) {
            stringOrNull(w, n, savedWell(l) ? l.r.saved->file : QString(), savedWell(l));
        }},
    {{"playlist", "string", JsonWhen::InPlaylist, "the author's name (as playlist_title)"},
        [](W &w, const char *n, const Line &l) { playlistMember(w, n, l.r.playlist); }},
    {{"playlist_id", "string", JsonWhen::InPlaylist, "the author's id"},
        [](W &w, const char *n, const Line &l) { playlistMember(w, n, l.r.playlist); }},
    {{"playlist_title", "string", JsonWhen::InPlaylist, "the author's name"},
        [](W &w, const char *n, const Line &l) { playlistMember(w, n, l.r.playlist); }},
    {{"playlist_index", "number", JsonWhen::InPlaylist, "the work's place in the author's list, from 1"},
        [](W &w, const char *n, const Line &l) { playlistMember(w, n, l.r.playlist); }},
    {{"playlist_count", "number", JsonWhen::InPlaylist, "the works listed"},
        [](W &w, const char *n, const Line &l) { playlistMember(w, n, l.r.playlist); }},
    {{"playlist_uploader", "string", JsonWhen::InPlaylist, "the author's name"},
        [](W &w, const char *n, const Line &l) { playlistMember(w, n, l.r.playlist); }},
    {{"playlist_uploader_id", "string", JsonWhen::InPlaylist, "the author's id"},
        [](W &w, const char *n, const Line &l) { playlistMember(w, n, l.r.playlist); }},
    {{"n_entries", "number", JsonWhen::InPlaylist, "the works taken (after -I and the dates)"},
        [](W &w, const char *n, const Line &l) { playlistMember(w, n, l.r.playlist); }},
    {{"slots", "array", JsonWhen::WithSlots, "the whole record (51 strings)"},
        [](W &w, const char *n, const Line &l) {
            if (l.withSlots)
                writeSlots(w, n, l.r.result);
        }},
    {{"display", "object or null", JsonWhen::WithSlots, "the captions as the window shows them"},
        [](W &w, const char *n, const Line &l) {
            if (l.withSlots)
                writeDisplay(w, n, l.r.view.display);
        }},
    {{"file", "string", JsonWhen::WithDownload, "the path on disk"},
        [](W &w, const char *n, const Line &l) {
            if (savedWell(l))
                w.member(n, l.r.saved->file);
        }},
    {{"skipped", "string", JsonWhen::WithDownload,
         "\"exists\" when this video was there already, \"archived\" when the archive or history holds it"},
        [](W &w, const char *n, const Line &l) {
            if (l.r.archived)
                w.member(n, QStringLiteral("archived"));
            else if (savedWell(l) && l.r.saved->skipped)
                w.member(n, QStringLiteral("exists"));
        }},
    {{"download_error", "string", JsonWhen::WithDownload, "why the download failed, in short English"},
        [](W &w, const char *n, const Line &l) {
            if (l.r.saved && !savedWell(l))
                w.member(n, l.r.saved->error);
        }},
    {{"download_error_code", "string", JsonWhen::WithDownload, "the download failure's fixed code"},
        [](W &w, const char *n, const Line &l) {
            if (l.r.saved && !savedWell(l))
                w.member(n, l.r.saved->errorCode);
        }},
    {{"thumbnail", "string or null", JsonWhen::WithDownload,
         "with --write-thumbnail, the cover file written beside the video; null when the cover was skipped"},
        [](W &w, const char *n, const Line &l) {
            if (l.r.thumbnail)
                stringOrNull(w, n, *l.r.thumbnail, !l.r.thumbnail->isEmpty());
        }},
    {{"converted", "object", JsonWhen::WithDownload,
         "with --remux-video or -x: {\"file\", \"format\", \"seconds\", \"existed\"} of the new file, or "
         "{\"error\", \"error_code\"} when the conversion failed (the original kept)"},
        [](W &w, const char *n, const Line &l) {
            if (l.r.converted)
                writeConverted(w, n, *l.r.converted, QFileInfo(l.r.converted->file).suffix().toLower());
        }},
    {{"duration", "number or null", JsonWhen::Always, "the saved file's length in seconds; null without a download"},
        [](W &w, const char *n, const Line &l) {
            const convert::MediaFacts *f = factsOf(l);
            if (f != nullptr && f->duration >= 0)
                w.member(n, f->duration);
            else
                w.nullMember(n);
        }},
    {{"width", "number or null", JsonWhen::Always, "the saved video's width; null without a download or a picture"},
        [](W &w, const char *n, const Line &l) {
            numberFact(w, n, l, [](const convert::MediaFacts &f) { return f.width; });
        }},
    {{"height", "number or null", JsonWhen::Always, "the saved video's height; null without a download or a picture"},
        [](W &w, const char *n, const Line &l) {
            numberFact(w, n, l, [](const convert::MediaFacts &f) { return f.height; });
        }},
    {{"vcodec", "string or null", JsonWhen::Always, "the saved file's video codec (h264); null without a download"},
        [](W &w, const char *n, const Line &l) {
            nameFact(w, n, l, [](const convert::MediaFacts &f) { return f.vcodec; });
        }},
    {{"acodec", "string or null", JsonWhen::Always, "the saved file's sound codec (aac); null without a download"},
        [](W &w, const char *n, const Line &l) {
            nameFact(w, n, l, [](const convert::MediaFacts &f) { return f.acodec; });
        }},
    {{"filesize", "number or null", JsonWhen::Always, "the saved file's size in bytes; null without a download"},
        [](W &w, const char *n, const Line &l) {
            if (savedWell(l))
                w.member(n, QFileInfo(l.r.saved->file).size());
            else
                w.nullMember(n);
        }},
    {{"connections", "number", JsonWhen::WithDownload,
         "the most connections the download had open at once (when one ran)"},
        [](W &w, const char *n, const Line &l) {
            if (l.r.saved && l.r.saved->connections > 0)
                w.member(n, l.r.saved->connections);
        }},
};

}  // namespace

const QList<JsonColumn> &jsonColumns()
{
    static const QList<JsonColumn> names = [] {
        QList<JsonColumn> out;
        for (const Column &c : Columns)
            out << c.column;
        return out;
    }();
    return names;
}

void writeJson(json::Writer &w, const AddressReport &r, bool withSlots)
{
    const DisplayPlan none;
    const Line line {r, r.view.display ? *r.view.display : none, withSlots};
    w.beginObject();
    for (const Column &c : Columns)
        c.write(w, c.column.name, line);
    w.endObject();
    w.raw("\n");
    w.flush();
}

void printSummary(QTextStream &out, const AddressReport &r)
{
    // Page text never reaches the terminal as control sequences.
    const auto line = [&out](const char *label, const QString &value) { out << label << forTerminal(value) << "\n"; };
    out << forTerminal(r.address) << "\n";
    if (r.archived) {
        line("  跳过: ", QStringLiteral("already in the download archive"));
        return;
    }
    if (!r.view.display) {
        line("  状态: ", r.view.status);
        return;
    }
    const DisplayPlan &d = *r.view.display;
    line("  作者: ", d.authorCaption);
    line("  描述: ", d.descriptionCaption);
    line("  日期: ", d.date);
    line("  视频: ", r.ok() ? r.result.ResultSlots[SlotVideoUrl] : QString());
    line("  封面: ", d.cover);
    if (!r.ok())
        line("  状态: ", r.view.status);
    if (r.saved && r.saved->error.isEmpty())
        line("  文件: ", r.saved->file);
    else if (r.saved)
        line("  下载失败: ", r.saved->error);  // in English, as every message of the command line
}
