// Many share addresses at once (a chat pasted whole, a dropped list): each extracted in turn
// on a record of its own, never the window's, and its video added to the download list under
// its default name. A short pause between two pages; a page answered 429 or 503 is tried
// again under the one busy-server policy (extract/extract_video.h), said in the list's
// window. Its addresses go one by one through the program's one extraction queue, where a
// press of the window's waits only for the address in hand. An address that fails becomes
// a failed row with its reason.
#pragma once

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <functional>

class DownloadList;
struct DownloadRequest;
struct ExtractedVideo;

class BatchRun : public QObject {
    Q_OBJECT
public:
    static constexpr int PauseMs = 800;

    // folder: where the videos go.
    BatchRun(DownloadList &list, std::function<QString()> folder, QObject *parent = nullptr);

    // subfolder: saved inside the save folder's subfolder of that name (made when missing).
    void add(const QStringList &addresses, const QString &subfolder = QString());
    bool running() const { return extracting_ || !pending_.isEmpty() || timer_.isActive(); }
    // An address is being extracted now (its page fetch or its cover waits).
    bool extracting() const { return extracting_; }
    int pending() const { return int(pending_.size()); }

signals:
    // The last address of the batch has been extracted (its downloads may still run).
    void extracted();

private:
    void next();
    void extract(const QString &address);
    void takeResult(const QString &address, const ExtractedVideo &found);
    void addRow(const DownloadRequest &request, bool thisVideo);

    DownloadList &list_;
    std::function<QString()> folder_;
    QStringList pending_;
    QHash<QString, QString> subfolders_;  // an address -> the subfolder it is saved in
    QTimer timer_;
    bool extracting_ = false;
    int busyTries_ = 0;  // of the address at the head of the batch
};
