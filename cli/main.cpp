// quorvin-extract: the window's extraction for scripts, one site and one or more addresses.
#include "convert/conversion.h"
#include "author_run.h"
#include "extract/address_check.h"
#include "extract/author_listing.h"
#include "messages.h"
#include "extract/extraction_queue.h"
#include "net/decode.h"
#include "download/download_text.h"
#include "download/video_name.h"
#include "net/fetch.h"
#include "options.h"
#include "output_check.h"
#include "session.h"
#include "report.h"
#include "script_options.h"
#include "sites/site_registry.h"
#include "sites/sites.h"
#include "terminal_text.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <cstdio>
#include <sys/stat.h>

namespace {

// One line per step that ran: its line in the description, the slot (or name) it writes,
// the marker it looked for, found or not, and the value (cut to 80 characters).
void printTrace(const QString &address, int site, const QList<StepTrace> &trace)
{
    QTextStream err(stderr);
    const SiteDescription *d = siteDescription(site);
    err << "explain: " << forTerminal(address) << " ("
        << (d ? forTerminal(d->file + QStringLiteral(", ") + d->origin) : QString()) << ")\n";
    for (const StepTrace &t : trace) {
        QString value = t.value;
        value.replace(u'\n', QStringLiteral("\\n")).replace(u'\r', QStringLiteral("\\r"));
        if (value.size() > 80)
            value = value.left(80) + QStringLiteral("..");
        value = forTerminal(value);
        err << "  line " << t.line << "  -> " << forTerminal(t.to);
        if (!t.marker.isEmpty())
            err << "  marker \"" << forTerminal(t.marker) << "\"";
        if (t.found)
            err << "  found: \"" << value << "\"\n";
        else if (t.why.isEmpty())
            err << "  NOT FOUND, skipped\n";
        else
            err << "  NOT FOUND, skipped (" << forTerminal(t.why) << ")\n";
    }
}

// A saved page for --page, read like a fetch: at most the page limit; a regular file is
// judged by its size, a pipe or standard input ("-") read up to the limit and refused past
// it; a device or a folder is refused.
std::optional<QByteArray> readPageFile(const QString &path, QString *why)
{
    QFile file;
    const bool input = path == u"-";
    struct stat info {};
    if (!input && ::stat(QFile::encodeName(path).constData(), &info) != 0) {
        *why = QStringLiteral("cannot be read");
        return std::nullopt;
    }
    if (!input && (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) || S_ISDIR(info.st_mode))) {
        *why = QStringLiteral("not a file");
        return std::nullopt;
    }
    if (!input && S_ISREG(info.st_mode) && info.st_size > fetch::PageLimit) {
        *why = QStringLiteral("larger than the page limit");
        return std::nullopt;
    }
    file.setFileName(path);
    if (input ? !file.open(stdin, QIODevice::ReadOnly) : !file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot be read");
        return std::nullopt;
    }
    QByteArray bytes = file.read(fetch::PageLimit + 1);
    if (bytes.size() > fetch::PageLimit) {
        *why = QStringLiteral("larger than the page limit");
        return std::nullopt;
    }
    return bytes;
}

// What was measured on the saved file, by the names templates and info files use.
QVariantHash measuredFields(const AddressReport &r)
{
    QVariantHash m;
    if (!r.facts || !r.saved || !r.saved->error.isEmpty())
        return m;
    if (r.facts->duration >= 0)
        m[QStringLiteral("duration")] = r.facts->duration;
    if (r.facts->width > 0)
        m[QStringLiteral("width")] = r.facts->width;
    if (r.facts->height > 0)
        m[QStringLiteral("height")] = r.facts->height;
    if (!r.facts->vcodec.isEmpty())
        m[QStringLiteral("vcodec")] = r.facts->vcodec;
    if (!r.facts->acodec.isEmpty())
        m[QStringLiteral("acodec")] = r.facts->acodec;
    m[QStringLiteral("filesize")] = QFileInfo(r.saved->file).size();
    return m;
}

// The video saved (or its converted file found from an earlier run), converted as asked,
// measured, and kept: archive, history, sidecars, path and command name the final file.
void saveAndKeep(AddressReport &r, const CliOptions &o, const QHash<QString, QVariant> &runFields, Keeper &keeper)
{
    SaveOptions save = o.save;
    save.chinese = false;  // the command line's messages are English; Chinese is the window's
    save.templateFields = runFields;
    if (!save.forceOverwrite) {
        const QString first =
            QDir(save.folder).absoluteFilePath(scriptFileName(videoName(r.video, save.nameTemplate, runFields), save));
        if (const QString earlier = convertedAlready(first, r.video.link, o.convert); !earlier.isEmpty()) {
            r.saved.emplace();
            r.saved->file = earlier;
            r.saved->skipped = true;
            convert::Result found;
            found.file = earlier;
            found.existed = true;
            r.converted = found;
        }
    }
    if (!r.saved)
        r.saved = saveVideo(r.video.link, r.video, save);
    if (!r.saved->error.isEmpty())
        return;
    // A video found saved by an earlier run had its tags written then.
    if (!r.converted && !(r.saved->skipped && !o.convert.kind))
        r.converted = convertSaved(r.saved->file, r.video, o.convert, o.save.quiet);
    if (r.converted && r.converted->ok())
        r.saved->file = r.converted->file;
    if (o.mtime && !r.saved->skipped)
        setFileTime(r.saved->file, r.saved->lastModified);
    r.facts = convert::probeFile(r.saved->file);
    r.thumbnail = keeper.saved({r.video, r.avatar, r.saved->file,
        r.saved->skipped && (!r.converted || r.converted->existed), measuredFields(r), runFields});
}

// What a template names beyond the video: the address's place in the run and the run's start.
QHash<QString, QVariant> runFields(qsizetype number)
{
    static const qint64 epoch = QDateTime::currentSecsSinceEpoch();
    return {{QStringLiteral("autonumber"), number}, {QStringLiteral("epoch"), epoch}};
}

// An address whose video the archive or the history holds as saved: not even its page is
// fetched; none for any other.
std::optional<AddressReport> archivedReport(const QString &address, const CliOptions &o, Keeper &keeper)
{
    AddressReport r;
    r.address = address;
    r.site = o.site == AutoSite ? siteForAddress(address, o.table) : o.site;
    if (r.site >= 0 && o.download && keeper.alreadySaved(siteName(r.site), videoIdOf(address, r.site, o.table))) {
        r.archived = true;  // nothing failed: the exit status stays 0
        return r;
    }
    return std::nullopt;
}

// An address that is no share address of a service whose description lists no authors: it
// says so, as the window does, instead of failing the address checks.
std::optional<AddressReport> unlistedReport(const QString &address, const CliOptions &o)
{
    int site = o.site;
    const QUrl url(address);
    for (int s = 0; s < SiteCount && site == AutoSite; ++s) {
        const QUrl page(pagePrefix(s, o.table));
        if (page.host() == url.host() && page.port(80) == url.port(80))
            site = s;
    }
    if (site < 0 || siteLists(site) || siteForAddress(address, o.table) == site)
        return std::nullopt;
    AddressReport r;
    r.address = address;
    r.site = site;
    r.outcome = ExtractionOutcome::AddressRejected;
    r.view.status = listingEndText(ListingEnd::NoListing, 0, siteCaption(site), false);
    r.error = listingEndText(ListingEnd::NoListing, 0, siteName(site), true);
    r.errorCode = QStringLiteral("no_listing");
    messages::error(forTerminal(address) + QStringLiteral(": ") + r.error);
    return r;
}

// The request of one address: its own record, its page from --page's file when given.
ExtractionRequest requestOf(const QString &address, const CliOptions &o, QList<StepTrace> *trace)
{
    ExtractionRequest request;
    request.site = o.site == AutoSite ? siteForAddress(address, o.table) : o.site;
    request.address = address;
    request.why = ExtractionWhy::CommandLine;
    if (!o.pageFile.isEmpty()) {
        // --page: the share page comes from a file, read like a fetch.
        request.options.pageFetcher = [&o](const QString &) {
            PageAnswer page;
            QString why;
            if (const std::optional<QByteArray> bytes = readPageFile(o.pageFile, &why))
                page.text = fetch::decode(*bytes, QByteArray());
            else
                page.error = o.pageFile + QStringLiteral(": ") + why;
            return page;
        };
    }
    if (o.explain)
        request.options.trace = trace;
    if (o.verbose && request.site >= 0)
        messages::note(QStringLiteral("quorvin-extract: fetching ") + forTerminal(address));
    return request;
}

// The report of one extracted address; its video downloaded when asked. number: its autonumber.
AddressReport reportOf(const ExtractionRequest &request, const ExtractedVideo &found, qsizetype number,
    const QList<StepTrace> &trace, const CliOptions &o, Keeper &keeper, const QVariantHash &playlist)
{
    AddressReport r;
    r.playlist = playlist;
    r.address = request.address;
    r.site = request.site;
    r.outcome = found.outcome;
    r.view = found.view;
    r.result = found.record;
    r.video = found.video;
    r.avatar = found.avatar;
    r.error = found.failure.error;
    r.errorCode = found.failure.code;
    r.busyServer = found.failure.busyServer;
    r.retryAfter = found.failure.retryAfter;
    if (r.site < 0) {
        // No service recognised: reported like an address check that fired.
        messages::error(QStringLiteral("no service's page prefix matches ") + forTerminal(r.address));
        return r;
    }
    if (o.explain)
        printTrace(r.address, r.site, trace);
    if (!r.error.isEmpty() && r.outcome != ExtractionOutcome::AddressRejected)
        messages::error(forTerminal(r.address) + QStringLiteral(": ") + forTerminal(r.error));
    if (o.download && r.ok()) {
        QHash<QString, QVariant> fields = runFields(number);
        fields.insert(playlist);
        saveAndKeep(r, o, fields, keeper);
    }
    return r;
}

// What a --print template is filled from: the video, the saved file's facts, the run's count.
outtmpl::Fields templateFields(const AddressReport &r, qsizetype number)
{
    const bool saved = r.saved && r.saved->error.isEmpty();
    outtmpl::Fields f {
        r.video, saved ? QFileInfo(r.saved->file).suffix() : linkVideoExtension(r.video.link), measuredFields(r)};
    f.more.insert(runFields(number));
    f.more.insert(r.playlist);
    if (saved) {
        f.more[QStringLiteral("filepath")] = QFileInfo(r.saved->file).absoluteFilePath();
        f.more[QStringLiteral("filename")] = QFileInfo(r.saved->file).absoluteFilePath();
    }
    return f;
}

// An address a Ctrl+C kept from running: its line says so.
AddressReport interruptedReport(const QString &address)
{
    AddressReport r;
    r.address = address;
    r.outcome = ExtractionOutcome::FetchFailed;
    r.error = QStringLiteral("interrupted");
    r.errorCode = QStringLiteral("interrupted");
    return r;
}

int exitStatusOf(const AddressReport &r)
{
    if (r.archived)
        return ExitOk;
    if (r.saved && !r.saved->error.isEmpty())
        return ExitDownloadFailed;
    if (r.converted && !r.converted->ok())
        return ExitDownloadFailed;  // a conversion that failed fails as a download does
    if (r.outcome == ExtractionOutcome::AddressRejected || r.outcome == ExtractionOutcome::NoSite)
        return ExitAddressRejected;
    return extractionFailed(r.outcome) ? ExitExtractionFailed : ExitOk;
}

// One address to run: given, or a work of an author's page given.
struct RunItem {
    QString address;
    QVariantHash playlist;  // a work's place in its author's list; empty for an address given
    bool lastOfPlaylist = false;
};

// Every address in turn under the program's one event loop: each extraction goes through the
// extraction queue; the polite pause before each address but the first, and a busy service's
// wait before the same address is tried again, are timers. An author's page is listed first
// and its chosen works take its place. Ends the event loop with the run's exit status.
class AddressRun : public QObject {
public:
    AddressRun(const CliOptions &o, Keeper &keeper) : o_(o), keeper_(keeper), queue_(o.table), writer_(stdout)
    {
        for (const QString &address : o.addresses)
            items_.append({address, {}, false});
    }

    void start()
    {
        QTimer::singleShot(0, this, [this] { next(); });
    }

private:
    void next()
    {
        if (index_ >= items_.size()) {
            finish();
            return;
        }
        const QString address = items_[index_].address;
        // After a Ctrl+C every address left still has its line.
        if (interruptedByUser()) {
            take(interruptedReport(address));
            return;
        }
        if (index_ > 0 && o_.sleepRequestsMs > 0 && busyTries_ == 0 && !paused_) {
            pauseThen(o_.sleepRequestsMs, this, [this, address](bool interrupted) {
                if (interrupted) {
                    take(interruptedReport(address));
                    return;
                }
                paused_ = true;
                next();
            });
            return;
        }
        paused_ = false;
        const int lister = items_[index_].playlist.isEmpty()
            ? listingSiteFor(address, o_.site == AutoSite ? -1 : o_.site, o_.table)
            : -1;
        if (lister < 0 && items_[index_].playlist.isEmpty()) {
            if (std::optional<AddressReport> refused = unlistedReport(address, o_)) {
                take(*refused);
                return;
            }
        }
        if (lister >= 0) {
            listAuthor(
                lister, address, o_.playlist, o_.table, this,
                [this, lister](const QString &id) { return keeper_.alreadySaved(siteName(lister), id); },
                [this](const AuthorPlaylist &p) { listed(p); });
            return;
        }
        if (std::optional<AddressReport> archived = archivedReport(address, o_, keeper_)) {
            archived->playlist = items_[index_].playlist;
            take(*archived);
            return;
        }
        trace_.clear();
        ExtractionRequest request = requestOf(address, o_, &trace_);
        request.done = [this](const ExtractedVideo &found) {
            // Taken from the event loop, not from inside the page's answer: the download that
            // may follow runs long.
            QTimer::singleShot(0, this, [this, found] { extracted(found); });
        };
        request_ = request;
        queue_.add(request);
    }

    // An author's page listed: its chosen works take its place, or with --flat-playlist its
    // list is printed.
    void listed(const AuthorPlaylist &p)
    {
        const bool failed = p.works.isEmpty() && p.end != ListingEnd::Done && p.end != ListingEnd::Stopped &&
            p.end != ListingEnd::NoNewWork;
        if (!p.said.isEmpty())
            (failed ? messages::error : messages::warning)(forTerminal(p.address) + QStringLiteral(": ") + p.said);
        if (p.leftOut > 0)
            messages::warning(QStringLiteral("%1: %2 works left out: their addresses are not the service's")
                                  .arg(forTerminal(p.address))
                                  .arg(p.leftOut));
        if (failed) {
            status_ = qMax<int>(status_, ExitExtractionFailed);
            ++index_;
            QTimer::singleShot(0, this, [this] { next(); });
            return;
        }
        QTextStream out(stdout);
        const QList<qsizetype> chosen = chosenWorks(p, o_.playlist);
        if (o_.playlist.flat) {
            if (!o_.save.quiet || o_.json)
                printFlat(writer_, out, p, o_.playlist, o_.json);
            ++index_;
            QTimer::singleShot(0, this, [this] { next(); });
            return;
        }
        if (o_.json && o_.playlist.single) {
            writePlaylistHead(writer_, p, chosen.size());
            playlistOpen_ = true;
            firstEntry_ = true;
            if (chosen.isEmpty())
                closePlaylist();
        } else if (!o_.json && o_.printTemplates.isEmpty() && !o_.getUrl && !o_.keep.printPath && !o_.save.quiet) {
            out << forTerminal(p.address) << "\n  作者: " << forTerminal(p.author.name) << "\n  作品: " << chosen.size()
                << " / " << p.works.size() << "\n";
            out.flush();
        }
        QList<RunItem> works;
        for (const qsizetype place : chosen)
            works.append({p.works[place].address, playlistFields(p, place, chosen.size()), false});
        if (!works.isEmpty())
            works.last().lastOfPlaylist = true;
        items_.remove(index_);
        for (qsizetype i = 0; i < works.size(); ++i)
            items_.insert(index_ + i, works[i]);
        QTimer::singleShot(0, this, [this] { next(); });
    }

    void closePlaylist()
    {
        if (!playlistOpen_)
            return;
        writePlaylistTail(writer_);
        playlistOpen_ = false;
    }

    void extracted(const ExtractedVideo &found)
    {
        AddressReport r =
            reportOf(request_, found, o_.autonumberStart + index_, trace_, o_, keeper_, items_[index_].playlist);
        if (r.busyServer && busyTries_ < MostBusyTries) {
            const int seconds = busyPauseSeconds(r.retryAfter, busyTries_);
            ++busyTries_;
            messages::warning(QStringLiteral("%1: the service is busy; trying again in %2 s")
                                  .arg(forTerminal(r.address))
                                  .arg(seconds));
            QTimer::singleShot(std::chrono::seconds(seconds), this, [this] { next(); });
            return;
        }
        take(r);
    }

    // One address's line, and on to the next.
    void take(const AddressReport &r)
    {
        busyTries_ = 0;
        print(r);
        const RunItem item = items_[index_];
        int status = exitStatusOf(r);
        if (!item.playlist.isEmpty() && status != ExitOk && status != ExitInterrupted) {
            // A work of an author's page that failed fails the run as yt-dlp's do: 1, and the
            // run's end names it.
            failedWorks_ << r.address;
            status = ExitAddressRejected;
        }
        status_ = qMax(status_, status);
        if (item.lastOfPlaylist)
            closePlaylist();
        ++index_;
        if (o_.abortOnError && status != ExitOk) {
            index_ = items_.size();  // --abort-on-error: the addresses after the first failure are not run
        }
        if (r.ok() && !r.archived && o_.playlist.maxDownloads > 0 && ++downloads_ >= o_.playlist.maxDownloads &&
            index_ < items_.size()) {
            messages::note(
                QStringLiteral("quorvin-extract: --max-downloads %1 reached; stopping").arg(o_.playlist.maxDownloads));
            maxReached_ = true;
            index_ = items_.size();
        } else if (r.ok() && !r.archived && o_.playlist.maxDownloads > 0 && downloads_ >= o_.playlist.maxDownloads) {
            maxReached_ = true;
        }
        if (const std::optional<int> broken = outputFailure()) {
            QCoreApplication::exit(*broken);  // nobody reads what follows: the run stops here
            return;
        }
        QTimer::singleShot(0, this, [this] { next(); });
    }

    void print(const AddressReport &r)
    {
        const qsizetype number = o_.autonumberStart + index_;
        QTextStream out(stdout);
        if (o_.json) {
            if (playlistOpen_ && !firstEntry_)
                writer_.raw(", ");
            firstEntry_ = false;
            writeJson(writer_, r, o_.withSlots);
        } else if (!o_.printTemplates.isEmpty() || o_.getUrl || o_.keep.printPath) {
            // Plain lines for scripts, for the videos extracted only: each --print in order.
            // A template's own line breaks ("id,title") are kept; a value's are shown escaped.
            for (const QString &lines : o_.printTemplates) {
                for (const QString &line : lines.split(u'\n')) {
                    if (r.ok())
                        out << forTerminal(expandTemplate(line, templateFields(r, number), false)) << "\n";
                }
            }
            if (r.ok() && o_.getUrl)
                out << forTerminal(r.result.ResultSlots[SlotVideoUrl]) << "\n";
            out.flush();
        } else if (!o_.save.quiet) {
            // -q prints only what was asked for: no summary.
            printSummary(out, r);
            out.flush();
        }
    }

    void finish()
    {
        closePlaylist();
        if (interruptedByUser()) {
            QCoreApplication::exit(outputFailure().value_or(ExitInterrupted));  // Ctrl+C: every address has its line
            return;
        }
        // A command of --exec that failed makes the run fail as a failed download does.
        if (keeper_.commandsFailed() > 0)
            status_ = qMax<int>(status_, ExitDownloadFailed);
        if (!failedWorks_.isEmpty())
            messages::error(QStringLiteral("%1 works of an author's page failed: %2")
                                .arg(failedWorks_.size())
                                .arg(forTerminal(failedWorks_.join(QStringLiteral(", ")))));
        if (maxReached_)
            status_ = qMax<int>(status_, ExitMaxDownloads);
        QCoreApplication::exit(outputFailure().value_or(status_));
    }

    const CliOptions &o_;
    Keeper &keeper_;
    ExtractionQueue queue_;
    json::Writer writer_;
    QList<RunItem> items_;
    qsizetype index_ = 0;
    int busyTries_ = 0;    // of the address in hand
    bool paused_ = false;  // the pause before the address in hand is over
    int status_ = ExitOk;
    QList<StepTrace> trace_;
    ExtractionRequest request_;
    bool playlistOpen_ = false;  // -J: an author's object is open, its entries being written
    bool firstEntry_ = true;
    int downloads_ = 0;
    bool maxReached_ = false;
    QStringList failedWorks_;
};

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    auto parsed = parseOptions(app.arguments());
    if (const int *status = std::get_if<int>(&parsed))
        return outputFailure().value_or(*status);
    CliOptions &o = std::get<CliOptions>(parsed);
    if (const std::optional<int> status = prepareSession(o))
        return outputFailure().value_or(*status);
    if (o.download) {
        QDir().mkpath(o.save.folder);
        convert::removeLeftovers(o.save.folder);  // what a killed run's conversion left
    }

    Keeper keeper(o.keep);
    if (!keeper.problem().isEmpty())
        return usageError(keeper.problem());
    watchInterrupts();
    AddressRun run(o, keeper);
    run.start();
    return QCoreApplication::exec();
}
