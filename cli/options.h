// The command line of quorvin-extract: what it was asked to do.
#pragma once

#include "net/request_extras.h"
#include "record/hosts.h"
#include "convert_step.h"
#include "keeping.h"
#include "playlist_options.h"
#include "save.h"

#include <QCommandLineParser>
#include <QStringList>
#include <optional>
#include <variant>

inline constexpr int AutoSite = -2;  // --site auto: each address picks its own service

// Exit statuses, by cause; when several apply, the highest is returned.
enum ExitStatus {
    ExitOk = 0,
    ExitAddressRejected = 1,  // an address failed its checks or matched no service
    ExitUsage = 2,
    ExitDownloadFailed = 3,
    ExitExtractionFailed = 4,  // no page, or no video link in it
    ExitMaxDownloads = 101,    // --max-downloads was reached
    ExitInterrupted = 130,     // Ctrl+C stopped a download, its part kept
};

struct CliOptions {
    int site = AutoSite;  // resolved from siteName once the descriptions are loaded
    QString siteName;     // --site as given ("" or "auto": each address its own)
    bool json = false;
    PlaylistOptions playlist;  // an author's page: -J, --flat-playlist, -I, dates...
    bool withSlots = false;    // --slots: the whole record and the captions in each JSON line
    bool download = false;
    SaveOptions save;
    KeepOptions keep;
    ConvertOptions convert;  // after a download: the video made into MP4 or its sound
    Hosts table;
    QStringList addresses;           // in order, "-" and -a files already read
    bool explain = false;            // print each extraction step
    bool verbose = false;            // -v: also each address as it is fetched
    QStringList printTemplates;      // each --print: a line per video extracted, in order
    int autonumberStart = 1;         // --autonumber-start: the first address's autonumber
    bool getUrl = false;             // -g: the video link, a line per video extracted
    QString pageFile;                // --page: the share page is read from this file
    bool placeOnCommandLine = true;  // -o or -P given on the command line (not only in the config)
    bool keepOnCommandLine = true;   // --write-*, --exec, an archive... on the command line
    // What the session sets up before the addresses run (cli/session.h).
    bool sitesDirGiven = false;
    QString sitesDir;  // --sites-dir
    bool listSites = false;
    QString showSite;   // --show-site
    QString checkSite;  // --check-site: a name, or "all"
    bool updateSites = false;
    int stallTimeoutMs = 0;  // 0: the default
    int deadlineMs = 0;
    qint64 lowSpeedLimit = 0;  // bytes a second over lowSpeedSeconds; 0: the default
    int lowSpeedSeconds = 0;
    int connections = 0;                 // --connections; 0: the default
    qint64 rateLimit = 0;                // --limit-rate in bytes a second; 0: none
    std::optional<QString> proxy;        // --proxy; no value: the environment's, "": none
    int sleepRequestsMs = 0;             // --sleep-requests
    bool abortOnError = false;           // --abort-on-error: stop at the first address that fails
    bool mtime = false;                  // --mtime: a saved file takes the server's or the upload's time
    fetch::RequestExtras requestExtras;  // --user-agent, --referer, --add-header, --cookies
};

// Parses the arguments (program name first) into options, changing nothing else. Returns the
// options, or the exit status after printing the help, the version or a usage error.
std::variant<CliOptions, int> parseOptions(const QStringList &arguments);

// Every option of the table, for a parser (the command line's, a config line's).
void addOptions(QCommandLineParser &parser);

// Prints a usage error in one line and returns the usage exit status.
int usageError(const QString &message);
