// A file fetched on several connections at once, each for its own byte range, written at its
// offsets into the one part file (whose length is reserved). Servers often hold each
// connection to a fixed rate; several connections then bring the file several times faster.
//
// Every range's answer is checked like a resumed download's: 206, the same validator, the
// Content-Range asked for. A range answered otherwise (a reset, a 429 or 503, a wrong range)
// ends its connection and lowers the number of connections for the rest of the file; the
// others take its range over, the bytes already written kept. An answer 200 under the same
// validator (the server stopped honouring ranges) leaves that one connection to fetch the file
// whole. A changed validator means the file changed: the run ends so that the download
// starts over. A connection that finishes early takes half of the largest range left.
//
// A request that brings no byte the part does not have yet (a server that sends the whole
// file to every range request and breaks off early, or answers ranges with an error) counts
// as a failure: four in a row end the run, and between two of them the run waits as the
// retry loop does (net/request_pace.h). Requests that bring new bytes are never held.
//
// The part's length is set from the start, sparse; each connection reserves the blocks just
// ahead of its writing (at most 64 MiB for the run, never into the last GiB free). When the
// run fails or stops, the part gives back what it holds beyond the recorded ranges.
//
// The finished ranges are recorded in the control file only after their bytes are flushed to
// disk, every two seconds and whenever a range ends; a download killed meanwhile resumes only
// the ranges not recorded.
#pragma once

#include "download/download.h"
#include "part_file.h"
#include "net/network_policy.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

class QNetworkReply;

// How a run of ranges ended: Done when every range is on disk and recorded; Changed when the
// file changed on the server (the download starts over).
enum class RangesEnding { Done, Failed, Changed };

// Each connection gets at least this much of a file; a smaller file uses one connection.
inline constexpr qint64 MinSegmentBytes = qint64(4) * 1024 * 1024;
// A range is split for a connection that ran out of work only when both halves get this.
inline constexpr qint64 MinStealBytes = qint64(1) * 1024 * 1024;

// "Content-Range: bytes a-b/size" (or "bytes */size"): the first position and the size,
// -1 where not given.
struct ContentRange {
    qint64 start = -1;
    qint64 total = -1;
};
ContentRange contentRange(const QByteArray &header);
// The validator If-Range may carry: a strong ETag, else Last-Modified.
QByteArray validatorOf(const QNetworkReply *reply);

// Why an answer ended without a status line: the proxy, a refusal, or a lost connection.
DownloadError noAnswerError(const QNetworkReply *reply);

class SegmentRun : public QObject {
public:
    struct Setup {
        PartFile *part = nullptr;  // the locked part, its length set
        QUrl url;                  // where the ranges are asked for
        partfile::RangeControl control;
        QString hostKey;                         // whose connection slots the run takes (it holds one on start)
        fetch::NetworkPolicy *policy = nullptr;  // the program's: slots, rate limit, limits
        bool reconnect = true;                   // false: a broken connection ends the run
    };
    using Ending = RangesEnding;
    std::function<void(Ending, DownloadError, int status)> onEnd;
    std::function<void()> onProgress;

    SegmentRun(Setup setup, QObject *parent);
    ~SegmentRun() override;

    // first: an answer already found to be the whole file from byte 0, read for the first
    // range; null to ask for every range.
    void start(QNetworkReply *first);
    // Records what is on disk and closes every connection, without onEnd.
    void stop();

    qint64 doneBytes() const;
    qint64 startBytes() const { return startBytes_; }
    int mostConnections() const { return mostConnections_; }

private:
    struct Segment {
        QPointer<QNetworkReply> reply;
        qint64 from = 0;  // where this connection's writing began
        qint64 pos = 0;   // the next byte to write
        qint64 end = 0;   // one past its last byte
        bool checked = false;
        bool whole = false;  // the answer is the whole file (200)
        qint64 lastActiveMs = 0;
        int redirects = 0;
        bool fresh = false;      // this request brought enough the part did not have
        qint64 gained = 0;       // bytes it brought that the part did not have
        qint64 reservedTo = 0;   // blocks are reserved up to here
        qint64 writtenBack = 0;  // written bytes up to here were handed to the disk
    };

    void plan();
    void fill();
    bool nextRange(partfile::ByteRange &range);
    void ask(Segment *segment, const QUrl &url);
    void watch(Segment *segment);
    bool check(Segment *segment);
    void read(Segment *segment);
    void readAll();
    void answered(Segment *segment);
    void ended(Segment *segment);
    void broke(Segment *segment, DownloadError error, int status);
    void takeWhole(Segment *segment);
    void drop(Segment *segment, bool keepBytes);
    void tick();
    void reserveAhead(Segment *segment);
    bool record();
    void finish(Ending ending, DownloadError error, int status);
    Segment *find(const QNetworkReply *reply);

    Setup s_;
    fetch::NetworkPolicy &policy_;
    QList<Segment *> active_;
    QList<partfile::ByteRange> todo_;  // ranges no connection holds
    partfile::RangeSet done_;          // ranges written in full (not all recorded yet)
    QByteArray buffer_;
    QTimer pace_;  // the rate limit's wait
    QTimer ticker_;
    QTimer hold_;  // the wait after a request that brought nothing
    qint64 holdUntilMs_ = 0;
    QElapsedTimer clock_;
    qint64 startBytes_ = 0;
    qint64 recordedBytes_ = 0;
    qint64 lastRecordMs_ = 0;
    int maxConnections_ = 1;
    int mostConnections_ = 0;
    int heldSlots_ = 1;
    int failuresInRow_ = 0;
    bool ended_ = false;
    DownloadError lastError_ = DownloadError::ConnectionLost;
    int lastStatus_ = 0;
};
