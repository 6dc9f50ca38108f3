// What the command line keeps of the videos it saves, for the next run and for scripts: the
// download archive and the window's history (a recorded video is skipped before its page is
// fetched), the sidecars beside each saved video, its path on standard output and a command
// run on it.
#pragma once

#include "download/video_name.h"
#include "history/download_archive.h"
#include "history/history_store.h"

#include <QString>
#include <QVariantHash>
#include <memory>
#include <optional>

struct KeepOptions {
    QString archiveFile;       // --download-archive
    bool history = false;      // --history: the window's history database
    bool infoJson = false;     // --write-info-json
    bool thumbnail = false;    // --write-thumbnail
    bool description = false;  // --write-description
    bool printPath = false;    // --print-path
    QStringList exec;          // each --exec, in order: run after each successful download

    bool recordsSaved() const { return !archiveFile.isEmpty() || history; }
};

struct SavedVideo {
    VideoFields video;
    QString avatar;         // the avatar's address
    QString file;           // the path on disk
    bool skipped = false;   // it was there already (no new download)
    QVariantHash measured;  // what the file was measured to hold (duration, width...)
    QVariantHash run;       // what templates take from the run (autonumber, epoch)
};

class Keeper {
public:
    explicit Keeper(const KeepOptions &options);

    // Why the archive cannot be used; empty when it can.
    QString problem() const { return problem_; }
    // True when the archive or the history records this video as saved.
    bool alreadySaved(const QString &site, const QString &id) const;
    // After a video was saved (or found already there): the archive line, the history row,
    // the sidecars (for a new file), the path and the command. With --write-thumbnail, the
    // cover file written (empty when it was skipped); no value otherwise.
    std::optional<QString> saved(const SavedVideo &video);
    // How many --exec commands failed (did not start, crashed or exited non-zero).
    int commandsFailed() const { return commandsFailed_; }

private:
    void openHistory();
    std::optional<QString> writeSidecars(const SavedVideo &video);
    void runCommand(const QString &command, const SavedVideo &video);

    KeepOptions options_;
    std::optional<history::DownloadArchive> archive_;
    std::unique_ptr<history::Store> store_;
    QString problem_;
    int commandsFailed_ = 0;
};
