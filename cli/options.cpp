#include "options.h"
#include "messages.h"

#include "option_table.h"

#include "config_file.h"
#include "messages.h"
#include "script_options.h"

#include "download/download_text.h"
#include "download/video_name.h"
#include "report.h"
#include "net/host_slots.h"
#include "net/proxy.h"
#include "net/rate_limit.h"
#include "shell_words.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Addresses from a stream, one a line; blank lines and comment lines (#, ; or ]) skipped.
QStringList readAddresses(QTextStream &in)
{
    // A line is text: a line of several web addresses (a pasted chat) gives each of them.
    static const QRegularExpression webAddress(QStringLiteral("https?://\\S+"));
    QStringList out;
    for (QString line = in.readLine(); !line.isNull(); line = in.readLine()) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(u'#') || line.startsWith(u';') || line.startsWith(u']'))
            continue;
        QStringList found;
        for (auto it = webAddress.globalMatch(line); it.hasNext();)
            found << it.next().captured();
        if (found.size() > 1)
            out += found;
        else
            out << line;
    }
    return out;
}

// A folder as a shell would have read it: "~" and "~/…" are in the home folder.
QString expandHome(const QString &path)
{
    if (path == u"~" || path.startsWith(QStringLiteral("~/")))
        return QDir::homePath() + path.mid(1);
    return path;
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
    k.exec = args.values(opt::Exec);
    return k;
}

// Where --download saves: -P's folder and -o's folder, template or file.
QString applyPlace(const Args &args, CliOptions &o)
{
    for (const QString &value : args.values(opt::Paths)) {
        // "home:DIR" is the folder itself, as the common downloader reads it. Its "temp:DIR"
        // (the parts elsewhere) is not needed: a part is kept beside its video as NAME.part
        // and renamed in place when whole, which a move across file systems could not do.
        // The common downloader's other places (thumbnail:, infojson: ...): a video's sidecars
        // are kept beside it.
        static const QRegularExpression otherPlace(QStringLiteral(
            "^(subtitle|thumbnail|description|infojson|annotation|chapter|pl_thumbnail|pl_description|pl_infojson|"
            "pl_video):"));
        if (otherPlace.match(value).hasMatch()) {
            messages::warning(
                QStringLiteral("-P %1: the files beside a video are kept beside it, not in a folder of their own")
                    .arg(value));
            continue;
        }
        if (value.startsWith(QStringLiteral("temp:"))) {
            messages::warning(QStringLiteral("-P %1: a download's part is kept beside the video as NAME.part, not in "
                                             "a folder of its own")
                                  .arg(value));
            continue;
        }
        o.save.folder = expandHome(value.startsWith(QStringLiteral("home:")) ? value.mid(5) : value);
        if (o.save.folder.isEmpty())
            return QStringLiteral("--paths needs a folder");
    }
    if (args.isSet(opt::Output)) {
        const QString value = expandHome(args.value(opt::Output));
        if (value.isEmpty())
            return QStringLiteral("--output needs a folder, a template or a file name");
        if (value == u"-")
            return QStringLiteral("-o - (the video on standard output) is not offered: name a file, a template or a "
                                  "folder");
        if (value.contains(u"%(")) {
            o.save.nameTemplate = value;
            if (QFileInfo(value).isAbsolute()) {
                // An absolute template names its folder: the part before the first field.
                const qsizetype slash = value.lastIndexOf(u'/', value.indexOf(QStringLiteral("%(")));
                o.save.folder = slash == 0 ? QStringLiteral("/") : value.left(slash);
                o.save.nameTemplate = value.mid(slash + 1);
            }
            if (const auto problem = templateProblem(o.save.nameTemplate))
                return *problem;
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
    return QString();
}

QString applySaving(const Args &args, CliOptions &o)
{
    if (QString why = applyPlace(args, o); !why.isEmpty())
        return why;
    if (args.isSet(opt::Retries)) {
        const QString value = args.value(opt::Retries);
        bool ok = value == u"infinite" || value == u"inf";
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
    if (args.isSet(opt::AutonumberStart)) {
        bool ok = false;
        o.autonumberStart = args.value(opt::AutonumberStart).toInt(&ok);
        if (!ok || o.autonumberStart < 0)
            return QStringLiteral("--autonumber-start needs a number");
    }
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

// Why one --exec command cannot run; a warning for words a shell would have read.
QString execProblem(const QString &command)
{
    const std::optional<QStringList> words = shellWords(command);
    if (!words || words->isEmpty())
        return QStringLiteral("--exec needs a command (with its quotes closed)");
    if (QString problem = shellScriptProblem(*words); !problem.isEmpty())
        return problem;
    for (const QString &word : *words) {
        if (const std::optional<QString> why = outtmpl::syntaxProblem(word))
            return QStringLiteral("--exec '%1' cannot be read %2").arg(word, *why);
    }
    for (const QString &word : *words) {
        if (word == u"&&" || word == u"||" || word == u"|" || word == u";" || word.endsWith(u';')) {
            messages::warning(QStringLiteral("--exec runs its command without a shell, so \"%1\" is passed as a word; "
                                             "for a shell write: --exec 'sh -c '\\''CMD \"$1\"'\\'' sh {}'")
                                  .arg(word));
            break;
        }
    }
    return QString();
}

// Options that cannot go together, or that mean nothing without another; the message, or "".
QString contradictions(const Args &args, CliOptions &o)
{
    if (args.isSet(opt::NoPart))
        return QStringLiteral("--no-part is not offered: a download is written to NAME.part and renamed only when "
                              "it is whole, so a broken one never passes for a video");
    if ((!o.printTemplates.isEmpty() || o.getUrl || o.keep.printPath) && o.json)
        return QStringLiteral("--print, --get-url and --print-path write plain lines; they cannot go with --json");
    if ((args.isSet(opt::Output) || args.isSet(opt::Paths)) && !o.download && o.placeOnCommandLine)
        return QStringLiteral("-o and -P say where --download saves: add --download");
    const KeepOptions &k = o.keep;
    if ((k.recordsSaved() || k.infoJson || k.thumbnail || k.description || k.printPath || !k.exec.isEmpty()) &&
        !o.download && o.keepOnCommandLine)
        return QStringLiteral("--download-archive, --history, --write-*, --print-path and --exec are about "
                              "saved videos: add --download");
    for (const QString &command : k.exec) {
        if (QString problem = execProblem(command); !problem.isEmpty())
            return problem;
    }
    if (args.isSet(opt::Simulate) || args.isSet(opt::SkipDownload))
        o.download = false;
    return QString();
}

}  // namespace

void addOptions(QCommandLineParser &parser)
{
    // "-jq" is -j -q and "-R5" is -R 5, as every POSIX tool reads them.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    for (const OptionSpec &o : optionTable()) {
        QStringList names;
        for (const char *name : o.names)
            names << QString::fromLatin1(name);
        parser.addOption(QCommandLineOption(names, QString(), QString::fromLatin1(o.value)));
    }
}

int usageError(const QString &message)
{
    QTextStream err(stderr);
    err << "quorvin-extract: ERROR: " << message << " (see --help)\n";
    return ExitUsage;
}

namespace {

// An unknown option's name as the user wrote it: "--jq", or "-z" with the word it came in
// ("-z in -jz").
QString asWritten(const QString &name, const QStringList &arguments)
{
    for (const QString &word : arguments.mid(1)) {
        if (word == QStringLiteral("--"))
            break;
        if (word == QStringLiteral("--") + name || word.startsWith(QStringLiteral("--") + name + u'='))
            return QStringLiteral("--") + name;
        if (name.size() == 1 && word.size() > 1 && word.startsWith(u'-') && !word.startsWith(QStringLiteral("--")) &&
            word.contains(name))
            return word.size() == 2 ? word : QStringLiteral("-%1 (in %2)").arg(name, word);
    }
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// A --print value: a template, or the common downloader's shorthands: "id" for "%(id)s",
// "id,title" for a line each, "title=" for "title = %(title)#j".
QString printTemplateOf(const QString &value)
{
    static const QRegularExpression shorthand(QStringLiteral("^(?:[A-Za-z0-9_.:,]|-[0-9])+=?$"));
    if (!shorthand.match(value).hasMatch())
        return value;
    const bool named = value.endsWith(u'=');
    QStringList lines;
    for (const QString &field : (named ? value.chopped(1) : value).split(u',')) {
        lines << (named ? QStringLiteral("%1 = %(%1)#j").arg(field) : QStringLiteral("%(%1)s").arg(field));
    }
    return lines.join(u'\n');
}

// Every reader in turn; the first usage error, or "".
QString readAll(const Args &args, CliOptions &o)
{
    for (const QString &value : args.values(opt::Print)) {
        o.printTemplates << printTemplateOf(value);
        if (const std::optional<QString> why = outtmpl::syntaxProblem(o.printTemplates.last()))
            return QStringLiteral("--print '%1' cannot be read %2").arg(value, *why);
    }
    for (const auto &read : {applyValues, contradictions, readScriptOptions}) {
        if (QString why = read(args, o); !why.isEmpty())
            return why;
    }
    if (QString why = readConvertOptions(args, o.convert); !why.isEmpty())
        return why;
    return readPlaylistOptions(args, o.playlist);
}

// A field no video has is filled with NA, and one measured on the saved file is NA without a
// download: each said once, not refused.
void warnAboutFields(const CliOptions &o)
{
    const QString templates = o.save.nameTemplate + o.printTemplates.join(QString());
    for (const QString &field : unknownTemplateFields(templates))
        messages::warning(QStringLiteral("no video has the field %1: it is NA").arg(field));
    static const QRegularExpression measured(
        QStringLiteral("%\\([^)]*\\b(duration|width|height|filesize|vcodec|acodec)\\b"));
    if (const QRegularExpressionMatch m = measured.match(templates); m.hasMatch() && !o.download)
        messages::warning(QStringLiteral("the field %1 is measured on the saved file: without --download it is NA")
                              .arg(m.captured(1)));
}

}  // namespace

namespace {

// The options of args (the questions --help and --version aside) into o; the usage error or "".
QString readArguments(const Args &args, CliOptions &o)
{
    // The messages' forms first: the readers below may warn.
    messages::setQuiet(args.isSet(opt::Quiet));
    messages::setNoWarnings(args.isSet(opt::NoWarnings));
    o.table = hosts();
    o.verbose = args.isSet(opt::Verbose);
    o.explain = args.isSet(opt::Explain) || o.verbose;
    o.pageFile = args.value(opt::Page);
    o.json = args.isSet(opt::Json) || args.isSet(opt::SingleJson);
    o.withSlots = args.isSet(opt::Slots);
    // A conversion is of a saved video: asking for one asks for the download.
    o.download = args.isSet(opt::Download) || args.isSet(opt::ExtractAudio) || args.isSet(opt::RemuxVideo) ||
        args.isSet(opt::AudioFormat);
    o.getUrl = args.isSet(opt::GetUrl);
    return readAll(args, o);
}

// The usage error why, read with the config's lines, said where it comes from: the config
// line that gives it alone is named by file and line; one that the command line alone does
// not give names the config files read.
QString placedError(const QString &why, const Configured &configured)
{
    if (configured.lines.isEmpty())
        return why;
    const auto alone = [](const QStringList &arguments, bool placeOnCommandLine) {
        QCommandLineParser parser;
        addOptions(parser);
        if (!parser.parse(arguments))
            return parser.errorText();
        CliOptions o;
        o.placeOnCommandLine = placeOnCommandLine;
        o.keepOnCommandLine = placeOnCommandLine;
        return readArguments(Args(parser), o);
    };
    const QString program = configured.arguments.first();
    QStringList files;
    for (const ConfigLine &line : configured.lines) {
        if (alone(QStringList {program} + line.words, false) == why)
            return QStringLiteral("%1, line %2: %3").arg(line.file).arg(line.number).arg(why);
        if (!files.contains(line.file))
            files << line.file;
    }
    if (alone(configured.commandLine(), true) == why)
        return why;
    return QStringLiteral("%1 (with the options of the config file %2)").arg(why, files.join(QStringLiteral(", ")));
}

}  // namespace

std::variant<CliOptions, int> parseOptions(const QStringList &commandLine)
{
    const std::variant<Configured, int> read = withConfig(commandLine);
    if (const int *status = std::get_if<int>(&read))
        return *status;
    const Configured &configured = std::get<Configured>(read);
    const QStringList &arguments = configured.arguments;
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return usageError(QStringLiteral("unknown option ") + asWritten(unknown.first(), arguments));
        return usageError(parser.errorText());
    }
    const Args args(parser);
    if (const std::optional<int> status = answerQuestion(args))
        return *status;

    CliOptions o;
    {
        // -o and -P of the config file say where a run that saves puts its videos; only the
        // command line's make a run that does not save a usage error.
        QCommandLineParser given;
        addOptions(given);
        const bool parsed = given.parse(configured.commandLine());
        const auto onCommandLine = [&](std::initializer_list<opt::Id> ids) {
            return parsed &&
                std::any_of(ids.begin(), ids.end(), [&](opt::Id id) { return given.isSet(Args::name(id)); });
        };
        o.placeOnCommandLine = onCommandLine({opt::Paths, opt::Output});
        // The same for what is kept of saved videos: a config file's --write-info-json or
        // --exec is for the runs that save.
        o.keepOnCommandLine = onCommandLine({opt::DownloadArchive, opt::History, opt::WriteInfoJson,
            opt::WriteThumbnail, opt::WriteDescription, opt::PrintPath, opt::Exec});
    }
    if (const QString why = readArguments(args, o); !why.isEmpty())
        return usageError(placedError(why, configured));
    if (o.listSites || o.updateSites || args.isSet(opt::ShowSite) || args.isSet(opt::CheckSite))
        return o;  // a question about the descriptions: no addresses needed
    if (const QString why = collectAddresses(args, o.addresses); !why.isEmpty())
        return usageError(why);
    if (o.save.oneFile && o.addresses.size() > 1)
        return usageError(QStringLiteral("-o names one file; use a template such as '%(id)s.%(ext)s'"));
    warnAboutFields(o);
    return o;
}
