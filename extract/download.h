// Saving a video to a file: asynchronous, streamed to "<target>.part" and renamed over the
// target only when complete, resumable, cancellable, with progress. Memory stays flat
// whatever the size: at most one read buffer of the answer is held at a time.
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

class QNetworkReply;

struct DownloadProgress {
    qint64 done = 0;            // bytes of the file on disk so far (resumed part included)
    qint64 total = -1;          // size of the whole file, -1 when the server does not say
    double bytesPerSecond = 0;  // rate of this transfer
    qint64 secondsLeft = -1;    // -1 when unknown
};

enum class DownloadError {
    None,
    NotWeb,           // the link (or a redirect) is not an http(s) address
    ConnectFailed,    // refused, unknown host
    ConnectionLost,   // reset or closed before the whole file arrived
    TimedOut,         // nothing arrived for the stall timeout
    HttpStatus,       // the server answered with an error status
    TooManyRedirects,
    DiskFull,         // free space below Content-Length, or a write ran out of space
    NoPermission,     // the folder or file cannot be written
    WriteFailed,      // any other file error
    Cancelled,
};

// The reason in words for the user.
QString downloadErrorText(DownloadError error, int httpStatus);

class Download : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxRedirects = 10;

    explicit Download(QObject *parent = nullptr);
    ~Download() override;

    // Starts saving url to target. An existing "<target>.part" is resumed with a Range
    // request; the target itself is replaced only by a complete file.
    void start(const QString &url, const QString &target);
    // Stops at once and removes the part file; finished(Cancelled) follows.
    void cancel();

    bool isRunning() const { return running_; }
    QString target() const { return target_; }
    QString contentType() const { return contentType_; }
    static QString partPath(const QString &target) { return target + QStringLiteral(".part"); }

signals:
    void progress(const DownloadProgress &progress);
    void finished(DownloadError error, int httpStatus);

private:
    void request(const QUrl &url);
    void onHeaders();
    void onData();
    void onFinished();
    void fail(DownloadError error);
    void complete();
    void emitProgress();
    void dropReply();

    QPointer<QNetworkReply> reply_;
    QFile part_;
    QTimer stall_;
    QElapsedTimer clock_;
    QString target_;
    QString contentType_;
    qint64 resumeFrom_ = 0;   // bytes already in the part file when the request was made
    qint64 received_ = 0;     // bytes of this answer written so far
    qint64 expected_ = -1;    // bytes this answer should bring, -1 when unknown
    qint64 total_ = -1;
    int status_ = 0;
    int redirects_ = 0;
    bool running_ = false;
    bool writing_ = false;    // the answer's body goes to the part file
};
