// The downloads of the list, in the order they were added: at most `limit` run at once, the
// rest wait their turn. Each can be paused (its part kept), resumed (back in line), cancelled
// (its part removed) and, once failed or cancelled, tried again. A broken-off download is
// retried like the command line's (RetryingDownload) before it counts as failed.
#pragma once

#include "download/retrying_download.h"
#include "record/download_state.h"

#include <QList>
#include <QObject>
#include <map>
#include <memory>

class DownloadQueue : public QObject {
    Q_OBJECT
public:
    using State = DownloadState;

    struct Item {
        qint64 id = 0;
        QString link;
        QString target;  // the file asked for; the download may change its extension
        Download::Options options;
        State state = State::Waiting;
        DownloadProgress progress;
        DownloadError error = DownloadError::None;
        int httpStatus = 0;
    };

    static constexpr int MaxLimit = 5;
    explicit DownloadQueue(QObject *parent = nullptr);
    ~DownloadQueue() override;

    // How many run at once, 1 to MaxLimit (2 at first).
    void setLimit(int limit);
    int limit() const { return limit_; }
    void setRetry(RetryingDownload::Retry retry) { retry_ = retry; }

    // Adds a download under the caller's id; it waits its turn (or starts paused).
    void add(qint64 id, const QString &link, const QString &target, Download::Options options, bool paused = false);
    void pause(qint64 id);
    void resume(qint64 id);
    void cancel(qint64 id);
    // A failed or cancelled download back in line, resuming what its part holds.
    void retry(qint64 id);
    // Forgets a download that is not running.
    void forget(qint64 id);

    const Item *item(qint64 id) const;
    QList<qint64> ids() const { return order_; }
    int running() const;
    // Waiting or running: what would be lost by quitting now.
    int unfinished() const;

signals:
    void changed(qint64 id);  // its state, its file or its error
    void progressed(qint64 id, const DownloadProgress &progress);

private:
    void pump();
    void start(Item &item);
    void onFinished(qint64 id, DownloadError error, int httpStatus);
    void stopRunning(qint64 id, bool removePart);

    int limit_ = 2;
    RetryingDownload::Retry retry_;
    QList<qint64> order_;
    std::map<qint64, Item> items_;
    std::map<qint64, std::unique_ptr<RetryingDownload>> running_;
};
