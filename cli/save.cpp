#include "save.h"

#include "download.h"
#include "download_text.h"
#include "progress.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {

struct Try {
    DownloadError error = DownloadError::None;
    int status = 0;
    QString file;
};

// A failure that another try may mend: the network's, not the file's or the link's.
bool worthRetrying(const Try &t)
{
    switch (t.error) {
    case DownloadError::ConnectFailed:
    case DownloadError::ConnectionLost:
    case DownloadError::TimedOut:
    case DownloadError::TooSlow:
    case DownloadError::Incomplete: return true;
    case DownloadError::HttpStatus: return t.status >= 500;
    default: return false;
    }
}

Try downloadOnce(const QString &link, const QString &target, const Download::Options &options, ProgressMode mode)
{
    Download download;
    QEventLoop loop;
    ProgressPrinter printer(mode == ProgressMode::Bar, QFileInfo(target).fileName());
    Try result;
    if (mode != ProgressMode::None)
        QObject::connect(&download, &Download::progress, &loop, [&](const DownloadProgress &p) { printer.update(p); });
    QObject::connect(&download, &Download::finished, &loop, [&](DownloadError e, int s) {
        result.error = e;
        result.status = s;
        loop.quit();
    });
    download.start(link, target, options);
    loop.exec();
    printer.finish();
    result.file = download.target();
    return result;
}

void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

SaveOutcome saveVideo(
    const QString &link, const QString &folder, const QString &author, const QString &date, const SaveOptions &options)
{
    SaveOutcome outcome;
    if (link.isEmpty()) {
        outcome.error = QStringLiteral("没有视频地址");
        return outcome;
    }
    // The name is decided before the first byte; a link without a video extension takes
    // the answer's type, which the download applies when the answer's headers arrive.
    const QString target = QDir(folder).absoluteFilePath(suggestedFileName(link, author, date));
    Download::Options downloadOptions;
    downloadOptions.overwrite = options.forceOverwrite;
    downloadOptions.extensionFromType = !hasVideoExtension(link);
    ProgressMode mode = options.progress;
    if (mode == ProgressMode::Auto)
        mode = isatty(STDERR_FILENO) ? ProgressMode::Bar : ProgressMode::Lines;
    const bool bar = mode == ProgressMode::Bar;
    Try t;
    for (int attempt = 0;; ++attempt) {
        t = downloadOnce(link, target, downloadOptions, mode);
        if (t.error == DownloadError::None || attempt >= options.retries || !worthRetrying(t))
            break;
        const int waitMs = options.firstPauseMs << qMin(attempt, 6);
        std::fprintf(stderr, "retrying in %.1f s: %s: %s\n", waitMs / 1000.0, link.toUtf8().constData(),
            downloadErrorText(t.error, t.status).toUtf8().constData());
        pause(waitMs);
    }

    outcome.file = t.file;
    if (t.error == DownloadError::None) {
        if (!bar)
            std::fprintf(stderr, "saved: %s\n", outcome.file.toUtf8().constData());
    } else if (t.error == DownloadError::Exists) {
        outcome.skipped = true;
        std::fprintf(stderr, "exists, not replaced: %s\n", outcome.file.toUtf8().constData());
    } else {
        outcome.file.clear();
        outcome.error = downloadErrorText(t.error, t.status);
        std::fprintf(
            stderr, "download failed: %s: %s\n", link.toUtf8().constData(), outcome.error.toUtf8().constData());
    }
    return outcome;
}
