#include "options.h"

#include "download/download_text.h"
#include "download/video_name.h"
#include "report.h"
#include "net/host_slots.h"
#include "net/proxy.h"
#include "net/rate_limit.h"
#include "shell_words.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <cmath>
#include <cstdio>

namespace opt {
// Every option, by which the code reads it: a misspelt option does not compile.
enum Id : int {
    Site,
    BatchFile,
    Json,
    Print,
    GetUrl,
    Simulate,
    SkipDownload,
    Slots,
    Download,
    Paths,
    Output,
    ForceOverwrite,
    NoOverwrites,
    Retries,
    Progress,
    Newline,
    NoProgress,
    Quiet,
    Verbose,
    IgnoreErrors,
    Continue,
    NoPart,
    LowSpeed,
    AllHosts,
    SitesDir,
    ListSites,
    ShowSite,
    CheckSite,
    UpdateSites,
    Explain,
    Page,
    StallTimeout,
    Deadline,
    Help,
    DownloadArchive,
    History,
    WriteInfoJson,
    WriteThumbnail,
    WriteDescription,
    PrintPath,
    Exec,
    Connections,
    LimitRate,
    Proxy,
    SleepRequests,
    Version
};
}  // namespace opt

namespace {

// Every option once: its names, its value's name, and its help. The parser, --help, the
// options' readers and the documentation test are all made from this table.
struct OptionSpec {
    opt::Id id;
    QList<const char *> names;  // short names first
    const char *value;          // "" for a switch
    const char *help;
};

using S = QList<const char *>;
const QList<OptionSpec> Table = {
    {opt::Site, S {"site"}, "SITE",
        "weishi, meipai, kuaishou, weipai, miaopai, 0-4, or auto (the default): each address gets the service "
        "whose page prefix it starts with"},
    {opt::BatchFile, S {"a", "batch-file"}, "FILE",
        "read addresses from FILE, one a line (blank lines and lines starting with #, ; or ] are skipped); - as "
        "an address reads them from standard input the same way"},
    {opt::Json, S {"j", "J", "json", "dump-json"}, "",
        "one JSON object per address and line: %COLUMNS% (see the man page)"},
    {opt::Print, S {"O", "print"}, "TEMPLATE",
        "print the template filled in for each video extracted, one line each, the fields as -o names them; "
        "not with --json"},
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
        "a file name when it ends in a video extension (.mp4, .flv...) and is no folder (one address only); "
        "when it holds %(, a file name template below the folder: %(id)s, %(site)s or %(extractor)s, "
        "%(author)s or %(uploader)s, %(description)s or %(title)s, %(date)s, %(upload_date)s (YYYYMMDD), "
        "%(webpage_url)s, %(url)s, %(thumbnail)s, %(ext)s, %% for a percent sign (an unknown field is NA); "
        "else a folder as -P"},
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
        "run CMD after each successful download, {} replaced by the path (one argument, no shell; CMD split as a "
        "shell splits words); its exit status is reported, the batch goes on. {} inside sh -c's script is "
        "refused: --exec 'sh -c '\\''cmd \"$1\"'\\'' sh {}' is the safe form"},
    {opt::ForceOverwrite, S {"force-overwrite", "force-overwrites"}, "",
        "replace an existing file of the same name (by default a file of this video is reported with "
        "\"skipped\": \"exists\" and another video takes the next free name)"},
    {opt::NoOverwrites, S {"w", "no-overwrites"}, "", "never replace an existing file (the default)"},
    {opt::Retries, S {"R", "retries"}, "N",
        "try a download again N times (or infinite; -1 is infinite too) after a network error, with a growing "
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

const QList<OptionSpec> &optionTable()
{
    return Table;
}

// The parsed command line, read by option.
class Args {
public:
    explicit Args(const QCommandLineParser &parser) : parser_(parser) {}
    bool isSet(opt::Id id) const { return parser_.isSet(name(id)); }
    QString value(opt::Id id) const { return parser_.value(name(id)); }
    QStringList values(opt::Id id) const { return parser_.values(name(id)); }
    QStringList positional() const { return parser_.positionalArguments(); }
    // The option's long name, as messages give it.
    static QString name(opt::Id id)
    {
        for (const OptionSpec &o : optionTable()) {
            if (o.id == id)
                return QString::fromLatin1(o.names.last());
        }
        Q_UNREACHABLE();
        return QString();
    }

private:
    const QCommandLineParser &parser_;
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

// The help's option lines: names and value in a column of 26, the help wrapped at 92.
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

// Addresses from a stream, one a line; blank lines and comment lines (#, ; or ]) skipped.
QStringList readAddresses(QTextStream &in)
{
    QStringList out;
    for (QString line = in.readLine(); !line.isNull(); line = in.readLine()) {
        line = line.trimmed();
        if (!line.isEmpty() && !line.startsWith(u'#') && !line.startsWith(u';') && !line.startsWith(u']'))
            out << line;
    }
    return out;
}

std::optional<int> positiveNumber(const QString &text)
{
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok && n > 0 ? std::optional<int>(n) : std::nullopt;
}

// What a run keeps of its saved videos.
KeepOptions keepOptions(const Args &args)
{
    KeepOptions k;
    k.archiveFile = args.value(opt::DownloadArchive);
    k.history = args.isSet(opt::History);
    k.infoJson = args.isSet(opt::WriteInfoJson);
    k.thumbnail = args.isSet(opt::WriteThumbnail);
    k.description = args.isSet(opt::WriteDescription);
    k.printPath = args.isSet(opt::PrintPath);
    k.exec = args.value(opt::Exec);
    return k;
}

QString applySaving(const Args &args, CliOptions &o)
{
    if (args.isSet(opt::Paths)) {
        o.save.folder = args.value(opt::Paths);
        if (o.save.folder.isEmpty())
            return QStringLiteral("--paths needs a folder");
    }
    if (args.isSet(opt::Output)) {
        const QString value = args.value(opt::Output);
        if (value.isEmpty())
            return QStringLiteral("--output needs a folder, a template or a file name");
        if (value.contains(u"%(")) {
            if (const auto problem = templateProblem(value))
                return *problem;
            o.save.nameTemplate = value;
        } else if (fileHasVideoExtension(value) && !QFileInfo(value).isDir()) {
            // The file itself, as a template without fields: below -P when relative, in its
            // own folder when absolute.
            const QFileInfo file(value);
            if (file.isAbsolute())
                o.save.folder = file.path();
            QString name = file.isAbsolute() ? file.fileName() : value;
            o.save.nameTemplate = name.replace(u'%', QStringLiteral("%%"));
            o.save.oneFile = true;
        } else {
            o.save.folder = value;
        }
    }
    if (args.isSet(opt::Retries)) {
        const QString value = args.value(opt::Retries);
        bool ok = value == u"infinite";
        o.save.retries = ok ? -1 : value.toInt(&ok);
        if (!ok || o.save.retries < -1)
            return QStringLiteral("--retries needs a number or infinite");
    }
    if (args.isSet(opt::Progress)) {
        const QString mode = args.value(opt::Progress);
        if (mode == u"none")
            o.save.progress = ProgressMode::None;
        else if (mode == u"bar")
            o.save.progress = ProgressMode::Bar;
        else if (mode == u"lines")
            o.save.progress = ProgressMode::Lines;
        else
            return QStringLiteral("--progress is none, bar or lines");
    }
    if (args.isSet(opt::Newline))
        o.save.progress = ProgressMode::Lines;
    if (args.isSet(opt::NoProgress))
        o.save.progress = ProgressMode::None;
    o.save.quiet = args.isSet(opt::Quiet);
    o.keep = keepOptions(args);
    o.save.forceOverwrite = args.isSet(opt::ForceOverwrite);
    if (o.save.forceOverwrite && args.isSet(opt::NoOverwrites))
        return QStringLiteral("--force-overwrite and --no-overwrites contradict each other");
    return QString();
}

// The connections, the rate limit, the proxy and the pace of a batch.
QString applyNetwork(const Args &args, CliOptions &o)
{
    if (args.isSet(opt::Connections)) {
        const auto n = positiveNumber(args.value(opt::Connections));
        if (!n || *n > fetch::MostConnectionsPerHost)
            return QStringLiteral("--connections needs a number from 1 to %1").arg(fetch::MostConnectionsPerHost);
        o.connections = *n;
    }
    if (args.isSet(opt::LimitRate)) {
        o.rateLimit = fetch::parseRate(args.value(opt::LimitRate));
        if (o.rateLimit <= 0)
            return QStringLiteral("--limit-rate needs a rate such as 500K or 2M");
    }
    if (args.isSet(opt::Proxy)) {
        o.proxy = args.value(opt::Proxy).trimmed();
        if (const QString problem = fetch::proxyProblem(*o.proxy); !problem.isEmpty())
            return QStringLiteral("--proxy: ") + problem;
    }
    if (args.isSet(opt::SleepRequests)) {
        bool ok = false;
        const double seconds = args.value(opt::SleepRequests).toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 3600)
            return QStringLiteral("--sleep-requests needs a number of seconds");
        o.sleepRequestsMs = int(seconds * 1000);
    }
    return QString();
}

// Reads the options that take a value; a usage error's message when one is wrong.
QString applyValues(const Args &args, CliOptions &o)
{
    o.siteName = args.value(opt::Site);
    if (args.isSet(opt::AllHosts)) {
        const QString value = args.value(opt::AllHosts);
        if (value.isEmpty())
            return QStringLiteral("--all-hosts needs HOST[:PORT]");
        o.table = Hosts::allOn(value);
    }
    for (const opt::Id id : {opt::StallTimeout, opt::Deadline}) {
        if (!args.isSet(id))
            continue;
        const auto ms = positiveNumber(args.value(id));
        if (!ms)
            return QStringLiteral("--%1 needs a number of milliseconds").arg(Args::name(id));
        (id == opt::Deadline ? o.deadlineMs : o.stallTimeoutMs) = *ms;
    }
    if (args.isSet(opt::LowSpeed)) {
        const QString value = args.value(opt::LowSpeed);
        bool okLimit = false;
        const qint64 limit = value.section(u',', 0, 0).toLongLong(&okLimit);
        const auto seconds = positiveNumber(value.section(u',', 1));
        if (!okLimit || limit <= 0 || !seconds)
            return QStringLiteral("--low-speed needs LIMIT,SECONDS (bytes a second, seconds)");
        o.lowSpeedLimit = limit;
        o.lowSpeedSeconds = *seconds;
    }
    if (QString why = applyNetwork(args, o); !why.isEmpty())
        return why;
    o.sitesDirGiven = args.isSet(opt::SitesDir);
    o.sitesDir = args.value(opt::SitesDir);
    o.listSites = args.isSet(opt::ListSites);
    o.showSite = args.value(opt::ShowSite);
    o.checkSite = args.value(opt::CheckSite);
    o.updateSites = args.isSet(opt::UpdateSites);
    return applySaving(args, o);
}

void addOptions(QCommandLineParser &parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const OptionSpec &o : optionTable()) {
        QStringList names;
        for (const char *name : o.names)
            names << QString::fromLatin1(name);
        parser.addOption(QCommandLineOption(names, QString(), QString::fromLatin1(o.value)));
    }
}

// --help and --version: what they print, and the exit status; no value when neither was given.
std::optional<int> answerQuestion(const Args &args)
{
    if (args.isSet(opt::Help)) {
        std::fputs(usage().toUtf8().constData(), stdout);
        return ExitOk;
    }
    if (args.isSet(opt::Version)) {
        std::fputs("quorvin-extract 1.0\n", stdout);
        return ExitOk;
    }
    return std::nullopt;
}

// The addresses: those of -a files, then the arguments, "-" reading standard input.
QString collectAddresses(const Args &args, QStringList &addresses)
{
    for (const QString &path : args.values(opt::BatchFile)) {
        QFile file(path);
        if (path == u"-" ? !file.open(stdin, QIODevice::ReadOnly) : !file.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read %1").arg(path);
        QTextStream in(&file);
        addresses += readAddresses(in);
    }
    for (const QString &address : args.positional()) {
        if (address == u"-") {
            QTextStream in(stdin);
            addresses += readAddresses(in);
        } else {
            addresses << address;
        }
    }
    if (addresses.isEmpty())
        return QStringLiteral("no address given");
    return QString();
}

// Options that cannot go together, or that mean nothing without another; the message, or "".
QString contradictions(const Args &args, CliOptions &o)
{
    if (args.isSet(opt::NoPart))
        return QStringLiteral("--no-part is not offered: a download is written to NAME.part and renamed only when "
                              "it is whole, so a broken one never passes for a video");
    if ((!o.printTemplate.isEmpty() || o.getUrl || o.keep.printPath) && o.json)
        return QStringLiteral("--print, --get-url and --print-path write plain lines; they cannot go with --json");
    if ((args.isSet(opt::Output) || args.isSet(opt::Paths)) && !o.download)
        return QStringLiteral("-o and -P say where --download saves: add --download");
    const KeepOptions &k = o.keep;
    if ((k.recordsSaved() || k.infoJson || k.thumbnail || k.description || k.printPath || !k.exec.isEmpty()) &&
        !o.download)
        return QStringLiteral("--download-archive, --history, --write-*, --print-path and --exec are about "
                              "saved videos: add --download");
    if (!k.exec.isEmpty()) {
        const std::optional<QStringList> words = shellWords(k.exec);
        if (!words || words->isEmpty())
            return QStringLiteral("--exec needs a command (with its quotes closed)");
        if (QString problem = shellScriptProblem(*words); !problem.isEmpty())
            return problem;
    }
    if (args.isSet(opt::Simulate) || args.isSet(opt::SkipDownload))
        o.download = false;
    return QString();
}

}  // namespace

int usageError(const QString &message)
{
    QTextStream err(stderr);
    err << "quorvin-extract: " << message << " (see --help)\n";
    return ExitUsage;
}

std::variant<CliOptions, int> parseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return usageError(
                QStringLiteral("unknown option %1%2").arg(unknown.first().size() == 1 ? u"-" : u"--", unknown.first()));
        return usageError(parser.errorText());
    }
    const Args args(parser);
    if (const std::optional<int> status = answerQuestion(args))
        return *status;

    CliOptions o;
    o.table = hosts();
    o.verbose = args.isSet(opt::Verbose);
    o.explain = args.isSet(opt::Explain) || o.verbose;
    o.pageFile = args.value(opt::Page);
    o.json = args.isSet(opt::Json);
    o.withSlots = args.isSet(opt::Slots);
    o.download = args.isSet(opt::Download);
    o.printTemplate = args.value(opt::Print);
    o.getUrl = args.isSet(opt::GetUrl);
    if (const QString why = applyValues(args, o); !why.isEmpty())
        return usageError(why);
    if (const QString why = contradictions(args, o); !why.isEmpty())
        return usageError(why);
    if (o.listSites || o.updateSites || args.isSet(opt::ShowSite) || args.isSet(opt::CheckSite))
        return o;  // a question about the descriptions: no addresses needed
    if (const QString why = collectAddresses(args, o.addresses); !why.isEmpty())
        return usageError(why);
    if (o.save.oneFile && o.addresses.size() > 1)
        return usageError(QStringLiteral("-o names one file; use a template such as '%(id)s.%(ext)s'"));
    // A field no video has is filled with NA: said once, not refused.
    for (const QString &field : unknownTemplateFields(o.save.nameTemplate + o.printTemplate))
        std::fprintf(stderr, "quorvin-extract: no video has the field %s: it is NA\n", field.toUtf8().constData());
    return o;
}
