// Saving a video to a file: asynchronous, streamed to "<target>.part" and renamed over the
// target only when complete, resumable, cancellable, with progress. Memory stays flat
// whatever the size: at most one read buffer of the answer is held at a time.
//
// A part belongs to one download: the control file "<target>.part.meta" beside it records
// the link, the server's validator (ETag, else Last-Modified) and the total size. A part is
// resumed only when its link matches, with If-Range carrying the validator (without one,
// only when the total still matches); otherwise the download starts over from byte 0. A
// download succeeds only when the file on disk holds exactly the total the server gave.
//
// When the first answer gives the length, a validator and "Accept-Ranges: bytes", and the
// file is large enough, further connections fetch ranges of it at once, up to the number of
// connections per host (net/host_slots.h); see segments.h. All connections of all downloads
// share the rate limit (net/rate_limit.h).
#pragma once

#include "net/transfer_watch.h"

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <memory>

struct DownloadProgress {
    qint64 done = 0;            // bytes of the file on disk so far (resumed part included)
    qint64 total = -1;          // size of the whole file, -1 when the server does not say
    double bytesPerSecond = 0;  // rate of this transfer
    qint64 secondsLeft = -1;    // -1 when unknown
};

enum class DownloadError {
    None,
    NotWeb,          // the link (or a redirect) is not an http(s) address
    ConnectFailed,   // refused, unknown host
    ConnectionLost,  // reset or closed before the whole file arrived
    TimedOut,        // nothing arrived for the stall timeout
    TooSlow,         // less than the low-speed limit arrived over its time span
    Incomplete,      // the body ended before the whole file (short, or cut chunking)
    HttpStatus,      // the server answered with an error status
    TooManyRedirects,
    DiskFull,        // free space below Content-Length, or a write ran out of space
    NoPermission,    // the folder or file cannot be written
    WriteFailed,     // any other file error
    NotRegularFile,  // a link, FIFO, device or folder stands where a file would be written
    Exists,          // the target exists and may not be replaced
    Cancelled,
    Busy,         // another download holds the part of the same target
    Interrupted,  // stopped by the user, the part kept for a later resume
    ProxyFailed,  // the proxy refused, could not be reached or failed
};

class PartFile;
class SegmentRun;
enum class RangesEnding;  // how the connections fetching ranges ended (segments.h)
namespace partfile {
struct RangeControl;
}
namespace fetch {
class NetworkPolicy;
}

class Download : public QObject {
    Q_OBJECT
public:
    struct Options {
        bool overwrite = true;           // false: an existing target is never replaced (Exists)
        bool extensionFromType = false;  // the target's extension follows the answer's type
        // The link the part was started with, when the video's link has changed since (an
        // expired link extracted again): that part is resumed too, but only under the
        // validator it recorded (If-Range), never on its size alone.
        QString formerLink;
        // false: a connection that breaks ends the download instead of being opened again
        // (no tries asked for: one request for each part of the file, never a second).
        bool reconnect = true;
    };

    // policy: the network policy it follows (the program's when none is given).
    explicit Download(QObject *parent = nullptr, fetch::NetworkPolicy *policy = nullptr);
    ~Download() override;

    // Starts saving url to target (see the top of this file for how a part is resumed).
    void start(const QString &url, const QString &target, Options options);
    void start(const QString &url, const QString &target) { start(url, target, Options()); }
    // Stops at once and removes the part file; finished(Cancelled) follows.
    void cancel();
    // Stops at once keeping what was written, for a later download to resume; finished(Interrupted)
    // follows.
    void stop();

    bool isRunning() const { return state_ != State::Idle; }
    // How often a part locked by another download is tried again, up to the stall timeout.
    static constexpr int LockRetryMs = 200;
    // The file the download writes: decided before the first byte is written.
    QString target() const { return target_; }
    QString contentType() const { return contentType_; }
    // The answer's Last-Modified as sent; empty when it had none.
    QByteArray lastModified() const { return lastModified_; }
    // The most connections the download had open at once (1 without ranges fetched apart).
    int mostConnections() const { return mostConnections_; }
    static QString partPath(const QString &target) { return target + QStringLiteral(".part"); }
    static QString controlPath(const QString &target) { return target + QStringLiteral(".part.meta"); }

signals:
    void progress(const DownloadProgress &progress);
    void finished(DownloadError error, int httpStatus);

private:
    void tryLock();
    void begin();
    bool resumeRanges();
    bool nameByType();
    bool rangesWorthIt() const;
    bool startRanges(QNetworkReply *first, const partfile::RangeControl &control);
    void rangesEnded(RangesEnding ending, DownloadError error, int status);
    void giveSlot();
    void wantSlot(bool wanting);
    void request(const QUrl &url);
    void restart();
    void onHeaders();
    bool acceptAnswer();
    bool openPart(bool truncate);
    void onData();
    void onFinished();
    void answerEnded();
    void bodyEnded(QNetworkReply::NetworkError error);
    void fail(DownloadError error);
    void complete();
    void emitProgress();
    void dropReply();
    qint64 onDisk() const { return resumeFrom_ + received_; }

    fetch::NetworkPolicy &policy_;
    QPointer<QNetworkReply> reply_;
    QByteArray buffer_;  // what is read from the answer goes through here to the part
    fetch::TransferWatch watch_;
    QElapsedTimer clock_;
    QString link_;
    std::unique_ptr<PartFile> part_;  // the part and its control file, from the target asked for
    QString target_;
    QString contentType_;
    QByteArray lastModified_;
    QByteArray validator_;  // what If-Range carries when resuming
    Options options_;
    QTimer lockRetry_;
    QTimer pace_;                   // the rate limit's wait before reading on
    SegmentRun *ranges_ = nullptr;  // the connections fetching ranges, while they run
    QString hostKey_;
    bool slotHeld_ = false;    // a connection slot of the link's host is ours
    bool slotWanted_ = false;  // waiting for one
    int mostConnections_ = 1;
    QElapsedTimer lockClock_;
    bool partOpened_ = false;  // the part was opened for this answer's body
    qint64 resumeFrom_ = 0;    // bytes already in the part file when the request was made
    qint64 received_ = 0;      // bytes of this answer written so far
    qint64 expected_ = -1;     // bytes this answer should bring, -1 when unknown
    qint64 total_ = -1;        // size of the whole file, -1 when unknown
    qint64 recordedTotal_ = -1;
    int status_ = 0;
    int redirects_ = 0;
    // Where the download is: not running; waiting for the part's lock; a request out whose
    // body is not written (a redirect, an error page); the body going to the part; asking
    // whether a body of unknown length was whole.
    // The ranges: several connections write the part (see segments.h).
    enum class State { Idle, Locking, Asking, Writing, Probing, Ranges } state_ = State::Idle;
    bool restarted_ = false;  // started over once already
    bool rangesAdvertised_ = false;
};
