// Many share addresses at once (a chat pasted whole, a dropped list): each extracted in turn
// on a record of its own, never the window's, and its video added to the download list under
// its default name. A short pause between two pages; a page answered 429 or 503 is tried
// again after the service's Retry-After (else growing pauses), said in the list's window;
// waits while the window extracts. An address that fails becomes a failed row with its reason.
#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>

#include "download/video_name.h"

class DownloadList;

// A share address extracted on a record of its own: the video (its link empty when the
// extraction failed), the status text, and whether the service asked for a slower pace (an
// answer 429 or 503).
struct ExtractedVideo {
    VideoFields video;
    QString avatar;
    QString status;
    bool slowDown = false;
    int retryAfter = -1;  // the seconds the answer's Retry-After asked for, -1 when none
};
ExtractedVideo extractOnItsOwn(const QString &address);

class BatchRun : public QObject {
    Q_OBJECT
public:
    static constexpr int PauseMs = 800;
    // A page answered 429 or 503: the address is tried again after the Retry-After the
    // service gave, else after this pause, doubled for each next try, up to MostBusyTries.
    static constexpr int BusyServerPauseMs = 15000;
    static constexpr int MostBusyTries = 3;

    // folder: where the videos go; windowBusy: true while the window extracts.
    BatchRun(DownloadList &list, std::function<QString()> folder, std::function<bool()> windowBusy,
        QObject *parent = nullptr);

    void add(const QStringList &addresses);
    bool running() const { return extracting_ || !pending_.isEmpty() || timer_.isActive(); }
    int pending() const { return int(pending_.size()); }

signals:
    // The last address of the batch has been extracted (its downloads may still run).
    void extracted();

private:
    void next();
    void extract(const QString &address);

    DownloadList &list_;
    std::function<QString()> folder_;
    std::function<bool()> windowBusy_;
    QStringList pending_;
    QTimer timer_;
    bool extracting_ = false;
    int busyTries_ = 0;  // of the address at the head of the batch
};
