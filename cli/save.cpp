#include "save.h"
#include "messages.h"

#include "download/download.h"
#include "download/download_text.h"
#include "download/retrying_download.h"
#include "progress.h"
#include "script_options.h"
#include "terminal_text.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <QEventLoop>
#include <QHash>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>
#include <memory>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

struct Try {
    DownloadError error = DownloadError::None;
    int status = 0;
    QString file;
    bool skipped = false;  // the file is this video already
    int connections = 0;   // the most a download had open at once; 0 when none ran
    QByteArray lastModified;
};

volatile std::sig_atomic_t g_interrupted = 0;
volatile std::sig_atomic_t g_downloading = 0;

// Ctrl+C: a download stops keeping its part; anything else ends the program as before.
extern "C" void onInterrupt(int)
{
    if (g_downloading == 0) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    g_interrupted = 1;
}

ProgressMode progressMode(const SaveOptions &options)
{
    const ProgressMode mode = options.quiet ? ProgressMode::None : options.progress;
    if (mode == ProgressMode::Auto)
        return isatty(STDERR_FILENO) ? ProgressMode::Bar : ProgressMode::Lines;
    return mode;
}

// One name's download, tried again after network errors as the options say, with progress
// on standard error and a Ctrl+C stopping it with its part kept.
Try downloadWithRetries(const QString &link, const QString &target, const Download::Options &downloadOptions,
    ProgressMode mode, const SaveOptions &options)
{
    RetryingDownload download;
    QEventLoop loop;
    QTimer watch;  // a Ctrl+C is seen between two events
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (g_interrupted != 0)
            download.stop();
    });
    watch.start(50);
    g_downloading = 1;
    // A fresh bar for every try.
    std::optional<ProgressPrinter> printer(std::in_place, mode == ProgressMode::Bar, QFileInfo(target).fileName());
    Try result;
    if (mode != ProgressMode::None)
        QObject::connect(
            &download, &RetryingDownload::progress, &loop, [&](const DownloadProgress &p) { printer->update(p); });
    QObject::connect(&download, &RetryingDownload::retrying, &loop, [&](DownloadError e, int s, int waitMs) {
        printer->finish();
        printer.emplace(mode == ProgressMode::Bar, QFileInfo(target).fileName());
        if (!options.quiet) {
            const QString why = options.chinese ? downloadErrorText(e, s) : downloadErrorEnglish(e, s);
            messages::warning(
                QStringLiteral("retrying in %1 s: %2: %3").arg(waitMs / 1000.0, 0, 'f', 1).arg(forTerminal(link), why));
        }
    });
    QObject::connect(&download, &RetryingDownload::finished, &loop, [&](DownloadError e, int s) {
        result.error = e;
        result.status = s;
        loop.quit();
    });
    download.start(link, target, downloadOptions, {options.retries, options.firstPauseMs});
    if (download.isRunning())
        loop.exec();
    g_downloading = 0;
    printer->finish();
    result.file = download.target();
    result.connections = download.mostConnections();
    result.lastModified = download.lastModified();
    return result;
}

}  // namespace

namespace {

// The absolute path of relative in folder, when it lies inside it.
std::optional<QString> insideFolder(const QString &folder, const QString &relative)
{
    const QString root = QDir::cleanPath(QDir(folder).absolutePath());
    const QString path = QDir::cleanPath(QDir(root).absoluteFilePath(relative));
    return path.startsWith(root + u'/') ? std::optional(path) : std::nullopt;
}

SaveOutcome failed(const QString &link, const SaveOutcome &outcome, const SaveOptions &options)
{
    messages::error(QStringLiteral("download failed: %1: %2")
                        .arg(forTerminal(link), options.chinese ? outcome.errorText : outcome.error));
    return outcome;
}

// The folders between folder and path's own that do not exist yet, the outermost first.
QStringList missingFolders(const QString &folder, const QString &path)
{
    const QString root = QDir::cleanPath(QDir(folder).absolutePath()) + u'/';
    QStringList missing;
    for (QString dir = QFileInfo(path).absolutePath(); dir.startsWith(root) && !QFileInfo::exists(dir);
         dir = QFileInfo(dir).absolutePath())
        missing.prepend(dir);
    return missing;
}

// The download under first, or under the first of its " (n)" variants that is free; skipped
// when one of them is this very video already.
Try saveUnder(const QString &first, const QString &link, const SaveOptions &options)
{
    const bool nameCarriesId = options.nameTemplate.isEmpty() || options.nameTemplate.contains(u"%(id)s");
    Download::Options downloadOptions;
    downloadOptions.overwrite = options.forceOverwrite;
    downloadOptions.extensionFromType = !hasVideoExtension(link);
    const ProgressMode mode = progressMode(options);
    Try t;
    for (int n = 1;; ++n) {
        const QString target = n == 1 ? first : numberedName(first, n);
        const NameState state =
            options.forceOverwrite ? NameState::Free : nameStateOf(target, link, n == 1 && nameCarriesId);
        if (state == NameState::ThisVideo)
            return {DownloadError::None, 0, target, true, 0, {}};
        if (state == NameState::Taken && options.oneFile)
            return {DownloadError::Exists, 0, target, false, 0, {}};  // -o named this file: no other
        if (state == NameState::Taken)
            continue;
        t = downloadWithRetries(link, target, downloadOptions, mode, options);
        // Another video took the name meanwhile, or the answer's type named a taken file.
        if (t.error != DownloadError::Exists || options.oneFile)
            break;
        if (holdsVideoFrom(t.file, link))
            return {DownloadError::None, 0, t.file, true, 0, {}};
    }
    return t;
}

}  // namespace

SaveOutcome saveVideo(const QString &link, const VideoFields &video, const SaveOptions &options)
{
    SaveOutcome outcome;
    // The name is decided before the first byte; a link without a video extension takes the
    // answer's type, which the download applies when the answer's headers arrive.
    VideoFields named = video;
    named.link = link;
    const QString relative = scriptFileName(videoName(named, options.nameTemplate, options.templateFields), options);
    if (const QFileInfo folder(options.folder); folder.exists() && !folder.isDir()) {
        outcome = {QString(), false, QStringLiteral("not a folder: ") + options.folder, QStringLiteral("not_a_folder"),
            QStringLiteral("保存位置不是文件夹"), 0, {}};
        return failed(link, outcome, options);
    }
    const std::optional<QString> inside = insideFolder(options.folder, relative);
    if (!inside) {
        outcome = {QString(), false, QStringLiteral("the name leaves the folder: ") + relative,
            QStringLiteral("bad_template"), QStringLiteral("文件名不在保存文件夹中"), 0, {}};
        return failed(link, outcome, options);
    }
    // The folders the template names are made now, and taken away again, when still empty,
    // if the download fails.
    const QStringList made = missingFolders(options.folder, *inside);
    QDir().mkpath(QFileInfo(*inside).absolutePath());
    const Try t = saveUnder(*inside, link, options);
    outcome.connections = t.connections;
    if (t.error == DownloadError::None || t.skipped) {
        outcome.file = t.file;
        outcome.skipped = t.skipped;
        outcome.lastModified = t.lastModified;
        if (t.skipped && !options.quiet)
            messages::note(QStringLiteral("exists, not replaced: ") + forTerminal(t.file));
        else if (!t.skipped && progressMode(options) != ProgressMode::Bar && !options.quiet)
            messages::note(QStringLiteral("saved: ") + forTerminal(outcome.file));
        return outcome;
    }
    for (auto it = made.crbegin(); it != made.crend(); ++it)
        QDir().rmdir(*it);
    outcome.error = downloadErrorEnglish(t.error, t.status);
    outcome.errorCode = downloadErrorCode(t.error);
    outcome.errorText = downloadErrorText(t.error, t.status);
    return failed(link, outcome, options);
}

void watchInterrupts()
{
    // An interrupt the caller set to be ignored (trap '' INT) stays ignored.
    struct sigaction before {};
    if (::sigaction(SIGINT, nullptr, &before) == 0 && before.sa_handler == SIG_IGN)
        return;
    std::signal(SIGINT, onInterrupt);
}

void pauseThen(int ms, QObject *context, std::function<void(bool interrupted)> then)
{
    // The pause between addresses ends like a download: the run reports what is left.
    g_downloading = 1;
    auto *clock = new QTimer(context);
    clock->setInterval(50);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(clock, &QTimer::timeout, context, [clock, started, ms, then = std::move(then)] {
        if (g_interrupted == 0 && started->elapsed() < ms)
            return;
        clock->stop();
        clock->deleteLater();
        g_downloading = 0;
        then(g_interrupted != 0);
    });
    clock->start();
}

bool interruptedByUser()
{
    return g_interrupted != 0;
}
