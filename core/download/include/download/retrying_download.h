// A download that is tried again after a network error, as the window's list and the command
// line both do: up to `retries` further tries (-1: without end), the first after firstPauseMs,
// each next pause doubled (at most 64 times the first), every try resuming the part the one
// before kept. Errors of the file or the link are not tried again.
#pragma once

#include "download/download.h"

#include <QObject>
#include <QTimer>

// A failure another try may mend: the network's (refused, lost, stalled, too slow, cut
// short, a 5xx answer), not the file's or the link's.
bool worthRetrying(DownloadError error, int httpStatus);

class RetryingDownload : public QObject {
    Q_OBJECT
public:
    struct Retry {
        int retries = 3;
        int firstPauseMs = 1000;
    };

    explicit RetryingDownload(QObject *parent = nullptr);

    void start(const QString &link, const QString &target, Download::Options options, Retry retry);
    void start(const QString &link, const QString &target, Download::Options options)
    {
        start(link, target, options, Retry());
    }
    // Stops and removes the part (finished(Cancelled)); stop keeps it (finished(Interrupted)).
    void cancel();
    void stop();

    bool isRunning() const { return running_; }
    QString target() const { return download_->target(); }
    QByteArray lastModified() const { return download_->lastModified(); }
    int tries() const { return tries_; }
    // The most connections one of its tries had open at once.
    int mostConnections() const { return qMax(mostConnections_, download_->mostConnections()); }

signals:
    void progress(const DownloadProgress &progress);
    // A try failed and another follows after waitMs.
    void retrying(DownloadError error, int httpStatus, int waitMs);
    void finished(DownloadError error, int httpStatus);

private:
    void tryOnce();
    void onFinished(DownloadError error, int httpStatus);
    void end(DownloadError error, int httpStatus);

    Download *download_;
    QTimer pause_;
    QString link_;
    QString target_;
    Download::Options options_;
    Retry retry_;
    int tries_ = 0;
    int mostConnections_ = 0;
    bool running_ = false;
};
