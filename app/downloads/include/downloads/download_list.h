// The owner of the program's downloads: every download goes through here, the list window
// and the main window only show it and ask it. It keeps each in the history database (one
// transaction per state change), runs them through the queue (at most the setting's number
// at once, the rest waiting in order), extracts a batch of addresses (BatchRun), brings the
// unfinished downloads of an earlier run back at start, their share address extracted again
// since video links expire, and counts what a batch saved and failed: one finished().
#pragma once

#include "download/download_queue.h"
#include "download/video_name.h"
#include "history/history_store.h"
#include "settings/settings.h"

#include <QImage>
#include <QObject>
#include <functional>
#include <map>
#include <memory>

class BatchRun;
class DownloadRows;

struct DownloadRequest {
    VideoFields video;
    QString target;        // the file the user chose
    bool replace = false;  // the user agreed to replace a file of that name
    QImage cover;          // the cover as shown: the row's thumbnail
    QString avatar;        // the avatar's address, for the video's information file
};

// The list settings' network part (代理, 限速, connections) on the program's network policy.
void applyNetworkSettings(const Settings &settings);

class DownloadList : public QObject {
    Q_OBJECT
public:
    // Extracts a share address again: calls done with the video (its link empty when the
    // extraction failed) and the status text.
    using Reextract = std::function<void(
        const QString &address, const std::function<void(const VideoFields &, const QString &)> &done)>;

    DownloadList(const Settings &settings, const QString &historyPath, QObject *parent = nullptr);
    // The settings the list follows.
    Settings &settings() { return settings_; }
    ~DownloadList() override;

    // A new download, started in its turn; its row's id.
    qint64 add(const DownloadRequest &request);
    // A video whose share address could not be extracted: a failed row with why, so that
    // nothing of a batch is lost in silence; 重试 extracts it again.
    qint64 addFailed(const VideoFields &video, const QString &reason);
    // How a share address is extracted again (for restored rows and failed extractions); by
    // default the one extraction, on a record of its own.
    void setReextract(const Reextract &reextract) { reextract_ = reextract; }
    // Many share addresses at once: each extracted in turn, its video added under its default
    // name in the save folder.
    void addAddresses(const QStringList &addresses);
    // windowBusy: true while the window extracts; the batch waits for it.
    void setWindowBusy(std::function<bool()> windowBusy);
    BatchRun *batch() { return batch_; }
    // The newest row that saved this video, if any.
    std::optional<history::Entry> savedVideo(const QString &site, const QString &id) const
    {
        return store_.savedVideo(site, id);
    }
    // The unfinished downloads of earlier runs: back in the list, paused or (the setting)
    // extracted again and resumed. Rows another window runs are only shown.
    void restore();

    void pause(qint64 id);
    void resume(qint64 id);
    void cancel(qint64 id);
    void retry(qint64 id);
    void retryAllFailed();
    // Off the list; the file stays.
    void remove(qint64 id);
    // The file goes too (the window asks first).
    void deleteFile(qint64 id);
    void clearFinished();
    void clearHistory();
    void applySettings();
    // Tells the list window what a batch is waiting for ("服务器繁忙…"); empty to clear it.
    void setNotice(const QString &text) { emit notice(text); }

    DownloadRows *rows() { return rows_; }
    const DownloadQueue &queue() const { return queue_; }
    // Downloads of this program waiting or running: what quitting would interrupt.
    int unfinished() const { return queue_.unfinished(); }
    std::optional<history::Entry> entry(qint64 id) const { return row(id); }
    // Where a broken history database was moved at start; empty when none was.
    QString movedAsideTo() const { return store_.movedAsideTo(); }
    // Why the history is not used as usual (a newer version's, read-only...).
    history::Store::Problem historyProblem() const { return store_.problem(); }
    // The folder of the rows' cover thumbnails, and a row's thumbnail in it.
    static QString thumbnailFolder();
    static QString thumbnailPath(qint64 id);

signals:
    void progressed(qint64 id, const DownloadProgress &progress);
    // A download ended: done, failed, cancelled or paused.
    void ended(qint64 id, DownloadError error, int httpStatus);
    // The last download ended with no address of a batch left to extract: how many were
    // saved and how many failed since the list was last idle.
    void finished(int saved, int failed);
    void notice(const QString &text);

private:
    void onChanged(qint64 id);
    void enqueue(const history::Entry &e, bool paused, const QString &formerLink = QString());
    void save(history::Entry &e);
    // The next row to extract again; one at a time, so the rows keep their order.
    void restoreNext();
    void finishIfIdle();

    Settings settings_;
    history::Store store_;
    DownloadQueue queue_;
    DownloadRows *rows_;
    BatchRun *batch_;
    // With "同时保存封面和视频信息": NAME.info.json and the cover beside a saved video.
    void writeSidecars(qint64 id, const history::Entry &e);

    Reextract reextract_;
    std::optional<history::Entry> row(qint64 id) const;
    qint64 keepUnrecorded(history::Entry &e);
    std::map<qint64, history::Entry> unrecorded_;  // rows the history could not take
    qint64 lastUnrecorded_ = 0;
    std::map<qint64, DownloadRequest> requests_;  // what this run knows of its downloads
    QList<qint64> toRestore_;
    int batchSaved_ = 0;  // since the list was last idle
    int batchFailed_ = 0;
};
