// The owner of the program's downloads: every download goes through here, the list window
// and the main window only show it and ask it. It keeps each in the history database (one
// transaction per state change), runs them through the queue (at most the setting's number
// at once, the rest waiting in order), extracts a batch of addresses (BatchRun), brings the
// unfinished downloads of an earlier run back at start, their share address extracted again
// since video links expire, and counts what a batch saved and failed: one finished().
#pragma once

#include "download/download_queue.h"
#include "extract/extraction_queue.h"
#include "convert/conversion.h"
#include "download/video_name.h"
#include "net/fetch.h"
#include "downloads/thumbnails.h"
#include "history/history_store.h"
#include "settings/settings.h"

#include <QImage>
#include <QObject>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <set>

class BatchRun;
class DownloadRows;

struct DownloadRequest {
    VideoFields video;
    std::optional<convert::Kind> convertTo;  // made once the video is saved (the sound alone)
    QString target;                          // the file the user chose
    bool replace = false;                    // the user agreed to replace a file of that name
    QImage cover;                            // the cover as shown: the row's thumbnail
    QString avatar;                          // the avatar's address, for the video's information file
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

    // extractions: the program's one extraction queue (the window's); none: one of the list's own.
    DownloadList(const Settings &settings, const QString &historyPath, QObject *parent = nullptr,
        ExtractionQueue *extractions = nullptr);
    // The settings the list follows.
    Settings &settings() { return settings_; }
    ~DownloadList() override;

    // A new download, started in its turn; its row's id.
    qint64 add(const DownloadRequest &request);
    // A video already in its file (a batch's address whose file holds this very video): a
    // row 已完成 with "(文件已存在)", nothing downloaded.
    qint64 addSaved(const DownloadRequest &request);
    // A video whose share address could not be extracted: a failed row with why, so that
    // nothing of a batch is lost in silence; 重试 extracts it again.
    qint64 addFailed(const VideoFields &video, const QString &reason);
    // How a share address is extracted again (for restored rows and failed extractions); by
    // default the one extraction, on a record of its own.
    void setReextract(const Reextract &reextract) { reextract_ = reextract; }
    // Many share addresses at once: each extracted in turn, its video added under its default
    // name in the save folder.
    // subfolder: a folder inside the save folder (an author's works), made when missing.
    void addAddresses(const QStringList &addresses, const QString &subfolder = QString());
    // The history the list keeps (followed authors live there too).
    history::Store &store() { return store_; }
    BatchRun *batch() { return batch_; }
    ExtractionQueue *extractions() const { return extractions_; }
    // The newest row that saved this video, if any.
    std::optional<history::Entry> savedVideo(const QString &site, const QString &id) const
    {
        return store_.savedVideo(site, id);
    }
    // The unfinished downloads of earlier runs: back in the list, paused or (the setting)
    // extracted again and resumed. Rows another window runs are only shown.
    void restore();

    // True when the row is still as it was shown (its state, not held by another window):
    // actions act on the row as the database holds it now. A row changed or gone since is
    // shown again as it is, and false.
    bool stillAs(qint64 id, history::State shown);
    // Another window (or the command line) changed the history: the rows shown follow.
    void followOthers();

    void pause(qint64 id);
    void resume(qint64 id);
    void cancel(qint64 id);
    void retry(qint64 id);
    void retryAllFailed();
    // Off the list; the file stays.
    void remove(qint64 id);
    // The file goes too, with what the row wrote beside it (the window asks first); a file
    // the program did not write is never removed.
    void deleteFile(qint64 id);
    // The files deleteFile(id) would remove.
    QStringList filesOf(qint64 id) const;
    void clearFinished();
    void clearHistory();
    void applySettings();

    // A finished row's file made into another beside it (MP4 from FLV, or the sound alone) in
    // the converter's process; the row says "转换中 N%" meanwhile, points at the new file after,
    // and keeps the original on a failure ("转换失败: ..."). removeOriginal: the downloaded file
    // is removed once the new one passed its check.
    void convert(qint64 id, convert::Kind kind, bool removeOriginal);
    bool converting(qint64 id) const { return conversions_.count(id) != 0; }
    // How many conversions this window runs now.
    int conversionsRunning() const { return int(conversions_.size()); }
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
    // The rows' cover thumbnails.
    const Thumbnails &thumbnails() const { return thumbnails_; }

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
    // The row in line under a file it may write: one that holds this video is replaced, any
    // other is kept and the download goes to the next free name (its row says so).
    void enqueue(history::Entry &e, bool paused, const QString &formerLink = QString());
    // The row into this program's queue (paused) when no window runs it; false when another does.
    bool adopt(qint64 id);
    void save(history::Entry &e);
    // The next row to extract again; one at a time, so the rows keep their order.
    void restoreNext();
    void finishIfIdle();
    // After a download: the conversion the row asked for, or FLV to MP4 by the setting.
    void convertSaved(qint64 id);
    void startConversion(convert::Conversion *job, const convert::Request &request, qint64 id);
    void conversionProgressed(qint64 id, int percent, int *saved);
    void conversionEnded(qint64 id, const convert::Result &result);
    // A row left converting by a crash or a quit: finished, with its original file.
    void backToOriginal(history::Entry &e);
    struct Converting {
        convert::Conversion *job;
        bool removeOriginal;
    };
    std::map<qint64, Converting> conversions_;

    Settings settings_;
    history::Store store_;
    DownloadQueue queue_;
    DownloadRows *rows_;
    ExtractionQueue *extractions_;
    BatchRun *batch_;
    std::set<qint64> retried_;                             // rows whose extraction again was asked by 重试
    ExtractionWhy reextractWhy_ = ExtractionWhy::Restore;  // of the row extracted again now
    // With "同时保存封面和视频信息": NAME.info.json and the cover beside a saved video.
    void writeSidecars(qint64 id, history::Entry &e);
    // A cover fetched for a row's file, kept under its type's extension and recorded with the row.
    void keepRowCover(qint64 id, const QString &videoFile, const fetch::Result &answer);
    // The row's cover, recorded files and place in the queue go with it.
    void forgetRow(qint64 id);

    Reextract reextract_;
    std::optional<history::Entry> row(qint64 id) const;
    qint64 keepUnrecorded(history::Entry &e);
    std::map<qint64, history::Entry> unrecorded_;  // rows the history could not take
    qint64 lastUnrecorded_ = 0;
    Thumbnails thumbnails_;
    QTimer others_;  // looks for another window's changes
    qint64 seenVersion_ = 0;
    std::map<qint64, QString> notes_;  // what a row says beside its state ("(另存为 …)")
    QList<qint64> toRestore_;
    int batchSaved_ = 0;  // since the list was last idle
    int batchFailed_ = 0;
};
