#include "keeping.h"

#include "download/retrying_download.h"
#include "download/sidecar.h"
#include "net/fetch.h"
#include "terminal_text.h"

#include <QDateTime>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#include <cstdio>

namespace {

// Saves the cover beside the video as a download does (a part, then the name): an existing
// file is never replaced. Empty when it worked, else why.
QString saveCover(const QString &cover, const QString &target)
{
    if (!fetch::isWebAddress(cover))
        return QStringLiteral("no cover address");
    RetryingDownload download;
    QEventLoop loop;
    DownloadError error = DownloadError::None;
    QObject::connect(&download, &RetryingDownload::finished, &loop, [&](DownloadError e, int) {
        error = e;
        loop.quit();
    });
    Download::Options options;
    options.overwrite = false;
    download.start(cover, target, options, {1, 500});
    if (download.isRunning())
        loop.exec();
    return error == DownloadError::None ? QString() : QStringLiteral("the cover could not be saved");
}

void warn(const QString &what, const QString &path, const QString &why)
{
    std::fprintf(stderr, "quorvin-extract: %s %s: %s\n", what.toUtf8().constData(),
        forTerminal(path).toUtf8().constData(), why.toUtf8().constData());
}

}  // namespace

Keeper::Keeper(const KeepOptions &options) : options_(options)
{
    if (!options_.archiveFile.isEmpty()) {
        archive_.emplace(options_.archiveFile);
        if (!archive_->load(&problem_))
            problem_ = QStringLiteral("cannot read the download archive %1: %2").arg(options_.archiveFile, problem_);
    }
    if (options_.history)
        store_ = std::make_unique<history::Store>();
}

bool Keeper::alreadySaved(const QString &site, const QString &id) const
{
    if (site.isEmpty() || id.isEmpty())
        return false;
    return (archive_ && archive_->contains(site, id)) || (store_ && store_->savedVideo(site, id));
}

void Keeper::saved(const SavedVideo &s)
{
    QString why;
    if (archive_ && !s.video.id.isEmpty() && !archive_->contains(s.video.site, s.video.id) &&
        !archive_->add(s.video.site, s.video.id, &why))
        warn(QStringLiteral("cannot write the download archive"), options_.archiveFile, why);
    if (store_ && !store_->savedVideo(s.video.site, s.video.id)) {
        history::Entry e;
        e.site = s.video.site;
        e.videoId = s.video.id;
        e.address = s.video.address;
        e.link = s.video.link;
        e.file = QFileInfo(s.file).absoluteFilePath();
        e.description = s.video.description;
        e.author = s.video.author;
        e.cover = s.video.cover;
        e.size = e.done = QFileInfo(s.file).size();
        e.state = history::State::Done;
        e.finished = QDateTime::currentDateTime();
        store_->add(e);
    }
    if (!s.skipped)
        writeSidecars(s);
    if (options_.printPath) {
        std::fprintf(stdout, "%s\n", forTerminal(s.file).toUtf8().constData());
        std::fflush(stdout);
    }
    if (!s.skipped && !options_.exec.isEmpty())
        runCommand(s.file);
}

void Keeper::writeSidecars(const SavedVideo &s)
{
    QString why;
    if (options_.infoJson) {
        const QString path = sidecarPath(s.file, QStringLiteral(".info.json"));
        if (!writeSidecar(path, videoInfoJson(s.video, s.avatar, QDateTime::currentDateTime()), &why))
            warn(QStringLiteral("cannot write"), path, why);
    }
    if (options_.description) {
        const QString path = sidecarPath(s.file, QStringLiteral(".description"));
        if (!writeSidecar(path, s.video.description.toUtf8(), &why))
            warn(QStringLiteral("cannot write"), path, why);
    }
    if (options_.thumbnail) {
        const QString path = sidecarPath(s.file, coverExtension(s.video.cover));
        if (const QString problem = saveCover(s.video.cover, path); !problem.isEmpty())
            warn(QStringLiteral("cannot write"), path, problem);
    }
}

void Keeper::runCommand(const QString &path)
{
    // Words as a shell would split them, but no shell: {} is the path as one argument.
    QStringList words = QProcess::splitCommand(options_.exec);
    if (words.isEmpty())
        return;
    bool placed = false;
    for (QString &word : words) {
        if (word.contains(QStringLiteral("{}"))) {
            word.replace(QStringLiteral("{}"), path);
            placed = true;
        }
    }
    if (!placed)
        words << path;
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(words.takeFirst(), words);
    const bool ran = process.waitForStarted() && process.waitForFinished(-1);
    const int code = ran && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (code != 0)
        std::fprintf(
            stderr, "quorvin-extract: --exec exited with %d for %s\n", code, forTerminal(path).toUtf8().constData());
}
