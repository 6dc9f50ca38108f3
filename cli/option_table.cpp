#include "option_table.h"

#include "report.h"

namespace {

using S = QList<const char *>;
const QList<OptionSpec> Table = {
    {opt::Site, S {"site"}, "SITE",
        "weishi, meipai, kuaishou, weipai, miaopai, 0-4, or auto (the default): each address gets the service "
        "whose page prefix it starts with"},
    {opt::BatchFile, S {"a", "batch-file"}, "FILE",
        "read addresses from FILE, one a line (blank lines and lines starting with #, ; or ] are skipped); - as "
        "an address reads them from standard input the same way"},
    {opt::Json, S {"j", "json", "dump-json"}, "",
        "one JSON object per address and line: %COLUMNS% (see the man page); each work of an author's page "
        "its own line, with playlist, playlist_id, playlist_title, playlist_index, playlist_count, "
        "playlist_uploader, playlist_uploader_id and n_entries"},
    {opt::SingleJson, S {"J", "dump-single-json"}, "",
        "as --json, but an author's page is one JSON object: \"_type\": \"playlist\", id, title, uploader, "
        "uploader_id, uploader_url, webpage_url, extractor, playlist_count and its works as entries"},
    {opt::FlatPlaylist, S {"flat-playlist"}, "",
        "list an author's works without opening each one: with -J or -j, entries of \"_type\": \"url\" with "
        "url, id and title; nothing is downloaded"},
    {opt::PlaylistItems, S {"I", "playlist-items"}, "ITEMS",
        "the works of an author's page to take, by place from 1: 1:10,15,-3::1 (START:STOP:STEP, either end "
        "left out, negative places counting from the end, STOP included; 5-7 as 5:7)"},
    {opt::MaxDownloads, S {"max-downloads"}, "N", "stop after N videos and exit 101"},
    {opt::BreakOnExisting, S {"break-on-existing"}, "",
        "stop reading an author's page at the first work the download archive or the history holds: a run "
        "with nothing new reads one page"},
    {opt::DateAfter, S {"dateafter"}, "DATE",
        "take only works of this day or later: YYYYMMDD, or today, yesterday or now with +N or -N days, weeks, "
        "months or years (today-2weeks); a work whose day is not known is taken"},
    {opt::DateBefore, S {"datebefore"}, "DATE", "take only works of this day or earlier, as --dateafter"},
    {opt::ListingPages, S {"max-listing-pages"}, "N", "read at most N pages of an author's page (500)"},
    {opt::ListingWorks, S {"max-listing-works"}, "N", "list at most N works of an author's page (10000)"},
    {opt::Print, S {"O", "print"}, "TEMPLATE",
        "print the template filled in for each video extracted, one line each, the fields and forms as -o "
        "reads them; "
        "given again, each prints its own line in order; a bare field name (id) is that field; not with --json"},
    {opt::GetUrl, S {"g", "get-url"}, "", "print the link of each video extracted, one line each; not with --json"},
    {opt::Simulate, S {"s", "simulate"}, "", "extract only: no download, even with --download"},
    {opt::SkipDownload, S {"skip-download"}, "", "the same as --simulate"},
    {opt::Slots, S {"slots"}, "",
        "with --json, also the whole record (\"slots\") and the captions as the window shows them"},
    {opt::Download, S {"download"}, "",
        "save each extracted video under a name of its own (resuming an earlier .part file of the same link); "
        "the JSON line then has \"file\" or \"download_error\" and \"download_error_code\""},
    {opt::Paths, S {"P", "paths"}, "DIR", "folder for --download, made when missing (default: the current folder)"},
    {opt::Output, S {"o", "output"}, "DIR|TEMPLATE|FILE",
        "a name without a video extension is a FOLDER (as -P); a file name when it ends in a video extension "
        "(.mp4, .flv...) and is no folder (one address only); "
        "when it holds %(, a file name template below the folder, as the common downloader reads one: "
        "%(FIELD)s, %(title).50s (cut to 50 characters), %(id)08d, %(upload_date>%Y-%m-%d)s (a date in another "
        "form), %(uploader|unknown)s (a default), %(title,id)s (the first with a value), %(date&on {})s (a "
        "replacement). Fields: id, site or extractor, author or uploader, description or title, date, "
        "upload_date (YYYYMMDD), timestamp, webpage_url, url, thumbnail, ext, extractor_key (Meipai), autonumber "
        "(00001, one count a run), epoch; after a download also duration, duration_string, width, height, "
        "resolution, filesize, vcodec, acodec, filepath, filename; %(title)q quotes for a shell, %(title)j writes "
        "JSON; %% for a percent sign; an unknown field is NA. An absolute template (or ~/...) names its own "
        "folder"},
    {opt::AutonumberStart, S {"autonumber-start"}, "N", "the first autonumber (default 1)"},
    {opt::DownloadArchive, S {"download-archive"}, "FILE",
        "skip a video FILE lists (a line \"SERVICE ID\", e.g. \"meipai 10004\") before its page is fetched, with "
        "\"skipped\": \"archived\"; append each video saved"},
    {opt::History, S {"history"}, "",
        "the same with the window's download history: skip what it holds as saved, record what is saved"},
    {opt::WriteInfoJson, S {"write-info-json"}, "",
        "write NAME.info.json beside each saved video: service, id, addresses, author, description, date, the "
        "time saved"},
    {opt::WriteThumbnail, S {"write-thumbnail"}, "", "save the cover beside each saved video as NAME.jpg"},
    {opt::WriteDescription, S {"write-description"}, "",
        "write the description beside each saved video as NAME.description"},
    {opt::PrintPath, S {"print-path"}, "",
        "print the path of each saved (or already present) video, one a line, instead of the summary; not with "
        "--json"},
    {opt::Exec, S {"exec"}, "CMD",
        "run CMD after each successful download, {} replaced by the path (one argument, no shell; template fields "
        "such as %(title)s filled as --print fills them, %(filepath)q the path as one word; CMD split as a "
        "shell splits words); the path is added at the end only when CMD holds neither {} nor a field. Given "
        "many times, each CMD runs in order; a command that fails is reported and makes the exit status 3, the "
        "batch goes on. {} or any field inside sh -c's script is refused: --exec 'sh -c "
        "'\\''cmd \"$1\"'\\'' sh {}' is the safe form"},
    {opt::RemuxVideo, S {"remux-video"}, "FORMAT",
        "after --download, copy the video's streams into an MP4 beside it (FORMAT: mp4), index at the front, "
        "nothing re-encoded; a video whose codec MP4 cannot hold is refused and kept; a saved MP4 stays as it is"},
    {opt::ExtractAudio, S {"x", "extract-audio"}, "",
        "after --download, keep the sound alone (see --audio-format); the video is removed unless -k"},
    {opt::AudioFormat, S {"audio-format"}, "FORMAT", "m4a (the sound copied as it is; the default) or mp3 (encoded)"},
    {opt::AudioQuality, S {"audio-quality"}, "QUALITY",
        "for mp3: 0 (best) to 9 variable bitrate (2), or a bitrate such as 192K"},
    {opt::EmbedMetadata, S {"embed-metadata", "add-metadata"}, "",
        "with -x or --remux-video: title (the description), artist (the author), date and the share address "
        "(comment) inside the new file"},
    {opt::EmbedThumbnail, S {"embed-thumbnail"}, "",
        "with -x or --remux-video: the cover inside the new file as its picture"},
    {opt::KeepVideo, S {"k", "keep-video"}, "",
        "keep the downloaded video after -x or --remux-video (by default it is removed once the new file passed "
        "its check)"},
    {opt::ForceOverwrite, S {"force-overwrite", "force-overwrites"}, "",
        "replace an existing file of the same name (by default a file of this video is reported with "
        "\"skipped\": \"exists\" and another video takes the next free name)"},
    {opt::NoOverwrites, S {"w", "no-overwrites"}, "", "never replace an existing file (the default)"},
    {opt::Retries, S {"R", "retries"}, "N",
        "try a download again N times (or infinite, inf or -1: without end) after a network error, with a growing "
        "pause, resuming its part (3)"},
    {opt::Progress, S {"progress"}, "MODE",
        "none, bar (a one-line bar; the default on a terminal) or lines (a line per 10 %; the default "
        "otherwise)"},
    {opt::Newline, S {"newline"}, "", "progress as lines (--progress lines)"},
    {opt::NoProgress, S {"no-progress"}, "", "no progress (--progress none)"},
    {opt::Quiet, S {"q", "quiet"}, "", "no progress and no notes on standard error; JSON and errors are still printed"},
    {opt::Verbose, S {"v", "verbose"}, "",
        "each address fetched and each extraction step on standard error (--explain)"},
    {opt::IgnoreErrors, S {"i", "ignore-errors"}, "", "go on with the next address after a failure (always done)"},
    {opt::Continue, S {"c", "continue"}, "", "resume a partly downloaded file (always done)"},
    {opt::NoPart, S {"no-part"}, "",
        "refused: the .part file is what keeps a broken download from passing for a video"},
    {opt::LowSpeed, S {"low-speed"}, "LIMIT,SECONDS",
        "give up a transfer that brings fewer than LIMIT bytes a second over SECONDS seconds (1024,60)"},
    {opt::Connections, S {"N", "connections"}, "N",
        "at most N connections to a host (1-6; 4): a large file whose server allows ranges is fetched on several "
        "at once; 1 turns that off"},
    {opt::LimitRate, S {"r", "limit-rate"}, "RATE",
        "keep each download under RATE bytes a second on average, all its connections together (500K, 2M)"},
    {opt::Proxy, S {"proxy"}, "URL",
        "send every request through this proxy (http://HOST:PORT or socks5://HOST:PORT); \"\" for none. "
        "Without it, http_proxy, https_proxy, all_proxy and no_proxy are followed"},
    {opt::SleepRequests, S {"sleep-requests"}, "SECONDS",
        "wait SECONDS between two page fetches of a batch (a 429 or 503 answer to a page always makes it wait "
        "its Retry-After, else 15, 30, 60 s, and try that address again)"},
    {opt::NoWarnings, S {"no-warnings"}, "", "no WARNING: lines on standard error (errors are still printed)"},
    {opt::IgnoreConfig, S {"ignore-config", "no-config"}, "",
        "do not read the config file ($XDG_CONFIG_HOME/quorvin-extract/config: one option per line, # for "
        "comments, quoted as a shell would; read before the command line)"},
    {opt::ConfigLocations, S {"config-locations"}, "PATH",
        "read the config from PATH (a file, or a folder holding a file named config) instead; given again, each "
        "is read in order"},
    {opt::AbortOnError, S {"abort-on-error", "no-ignore-errors"}, "",
        "stop at the first address that fails (its line is printed; the others are not run)"},
    {opt::NoAbortOnError, S {"no-abort-on-error"}, "", "go on after a failure (the default)"},
    {opt::Mtime, S {"mtime"}, "",
        "give a saved file the time of the server's Last-Modified (none sent: the time it was saved)"},
    {opt::NoMtime, S {"no-mtime"}, "", "leave a saved file the time it was saved (the default)"},
    {opt::RestrictFilenames, S {"restrict-filenames"}, "",
        "file names of ASCII letters, digits and - _ . [ ] ( ) only: anything else, spaces too, becomes _"},
    {opt::WindowsFilenames, S {"windows-filenames"}, "",
        "names Windows accepts (always done: what Windows refuses is replaced)"},
    {opt::TrimFilenames, S {"trim-filenames"}, "N", "cut each file name to N characters, the extension kept"},
    {opt::UserAgent, S {"user-agent"}, "UA", "send this User-Agent with every request"},
    {opt::Referer, S {"referer"}, "URL", "send this Referer with every request"},
    {opt::AddHeader, S {"add-header"}, "FIELD:VALUE", "send this header with every request; given again, each is sent"},
    {opt::Cookies, S {"cookies"}, "FILE",
        "send the cookies of this Netscape cookie file, each only to the hosts and paths it names"},
    {opt::AllHosts, S {"all-hosts"}, "HOST:PORT", "talk to every service on this one host (a mirror or simulator)"},
    {opt::SitesDir, S {"sites-dir"}, "DIR",
        "service descriptions that replace the built-in ones (default: "
        "$XDG_CONFIG_HOME/quorvin-video-helper/sites)"},
    {opt::ListSites, S {"list-sites"}, "", "show each service, its description file and where it came from"},
    {opt::ShowSite, S {"show-site"}, "SITE", "print the description in force for a service (to copy and edit)"},
    {opt::CheckSite, S {"check-site"}, "SITE|all",
        "run the examples of a service's description (or of all), with --sites-dir those of the folder: pass, "
        "or the first field that differs; exit 0 when all pass, 1 otherwise"},
    {opt::UpdateSites, S {"update-sites"}, "",
        "fetch the signed description set published beside the version file and take it when its signature "
        "is trusted, it is newer and every example passes; exit 0 when updated or already current, 1 when "
        "refused"},
    {opt::Explain, S {"explain"}, "",
        "print each extraction step: the slot it writes, its marker, found or not, and the value"},
    {opt::Page, S {"page"}, "FILE",
        "run the steps on a saved page instead of fetching the share page (later fetches still go to the "
        "network)"},
    {opt::StallTimeout, S {"stall-timeout"}, "MS", "give up a fetch that receives nothing for MS ms (30000)"},
    {opt::Deadline, S {"deadline"}, "MS",
        "give up a page fetch that takes longer than MS ms in all (90000); downloads are bounded by "
        "--low-speed instead"},
    {opt::Help, S {"h", "help"}, "", "show this help"},
    {opt::Version, S {"version"}, "", "show the version"},
};

const char UsageHead[] = "Usage: quorvin-extract [OPTION]... ADDRESS... | -\n"
                         "\n"
                         "Extracts the video link and details from share pages, the way the window does, one\n"
                         "address after the other, each from an empty result record. An address may be given\n"
                         "inside a share message: it is taken out of the text around it.\n"
                         "\n";

const char UsageTail[] = "\n"
                         "Exit status: 0 when everything worked; 1 when an address did not pass the address\n"
                         "checks or matched no service; 2 for a usage error; 3 when a download failed; 4 when an\n"
                         "extraction failed (no page, or no video link in it). When several apply, the highest.\n"
                         "A work of an author's page that failed counts as 1. 101 when --max-downloads was reached.\n"
                         "130 when Ctrl+C stopped a download: its part is kept for the next run to resume.\n";

// An option's help; the --json help names the members every line may have.
QString helpText(const OptionSpec &o)
{
    QStringList members;
    for (const JsonColumn &c : jsonColumns()) {
        if (c.when == JsonWhen::Always || c.when == JsonWhen::Failed)
            members << QString::fromLatin1(c.name);
    }
    return QString::fromUtf8(o.help).replace(QStringLiteral("%COLUMNS%"), members.join(QStringLiteral(", ")));
}

// An option's names with their dashes: "-j", "--json".
QStringList dashed(const OptionSpec &o)
{
    QStringList names;
    for (const char *name : o.names)
        names << (name[1] == 0 ? QStringLiteral("-") : QStringLiteral("--")) + QString::fromLatin1(name);
    return names;
}

}  // namespace

const QList<OptionSpec> &optionTable()
{
    return Table;
}

QString Args::name(opt::Id id)
{
    for (const OptionSpec &o : optionTable()) {
        if (o.id == id)
            return QString::fromLatin1(o.names.last());
    }
    Q_UNREACHABLE();
    return QString();
}

// The option lines: names and value in a column of 26, the help wrapped at 92.
QString usage()
{
    QString out = QString::fromUtf8(UsageHead);
    for (const OptionSpec &o : optionTable()) {
        const QStringList names = dashed(o);
        QString head = QStringLiteral("  ") + names.join(QStringLiteral(", "));
        if (*o.value)
            head += u' ' + QString::fromLatin1(o.value);
        QString line = head.size() < 26 ? head.leftJustified(27) : head + u'\n' + QString(27, u' ');
        qsizetype column = 27;
        for (const QString &word : helpText(o).split(u' ')) {
            if (column + word.size() + 1 > 92 && column > 27) {
                line += u'\n' + QString(27, u' ');
                column = 27;
            } else if (column > 27) {
                line += u' ';
                ++column;
            }
            line += word;
            column += word.size();
        }
        out += line + u'\n';
    }
    return out + QString::fromUtf8(UsageTail);
}
