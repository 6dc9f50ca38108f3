#include "segments.h"

#include "net/fetch.h"
#include "net/host_slots.h"
#include "net/rate_limit.h"
#include "net/request_pace.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qint64 SegmentBufferSize = qint64(512) * 1024;
constexpr int RecordEveryMs = 2000;
constexpr int TickMs = 500;
// A run gives up after this many broken connections in a row that brought (almost) nothing.
constexpr int MostFailuresInRow = 4;
// What a connection must bring to count as progress.
constexpr qint64 MeagerBytes = qint64(64) * 1024;
// How far ahead of the writing blocks are reserved, for the whole run (writing itself goes on
// until the disk is full).
constexpr qint64 ReserveAheadBytes = qint64(64) * 1024 * 1024;

}  // namespace

ContentRange contentRange(const QByteArray &header)
{
    ContentRange range;
    QByteArray value = header.trimmed();
    if (!value.startsWith("bytes "))
        return range;
    value = value.mid(6).trimmed();
    const qsizetype slash = value.lastIndexOf('/');
    bool ok = false;
    const qint64 total = slash < 0 ? -1 : value.mid(slash + 1).trimmed().toLongLong(&ok);
    range.total = ok && total >= 0 ? total : -1;
    const qint64 start = value.left(value.indexOf('-')).toLongLong(&ok);
    range.start = ok && start >= 0 ? start : -1;
    return range;
}

QByteArray validatorOf(const QNetworkReply *reply)
{
    QByteArray etag = reply->rawHeader("ETag").trimmed();
    if (!etag.isEmpty() && !etag.startsWith("W/"))
        return etag;
    return reply->rawHeader("Last-Modified").trimmed();
}

DownloadError noAnswerError(const QNetworkReply *reply)
{
    const QNetworkReply::NetworkError error = reply->error();
    if (fetch::proxyFailed(reply))
        return DownloadError::ProxyFailed;
    const bool refused = error == QNetworkReply::ConnectionRefusedError || error == QNetworkReply::HostNotFoundError;
    return refused ? DownloadError::ConnectFailed : DownloadError::ConnectionLost;
}

SegmentRun::SegmentRun(Setup setup, QObject *parent)
    : QObject(parent), s_(std::move(setup)), policy_(s_.policy ? *s_.policy : fetch::policy())
{
    done_ = s_.control.done;
    startBytes_ = recordedBytes_ = done_.bytes();
    pace_.setSingleShot(true);
    connect(&pace_, &QTimer::timeout, this, &SegmentRun::readAll);
    hold_.setSingleShot(true);
    connect(&hold_, &QTimer::timeout, this, &SegmentRun::fill);
    connect(&ticker_, &QTimer::timeout, this, &SegmentRun::tick);
}

SegmentRun::~SegmentRun()
{
    stop();
}

void SegmentRun::start(QNetworkReply *first)
{
    clock_.start();
    ticker_.start(TickMs);
    buffer_.resize(SegmentBufferSize);
    maxConnections_ = policy_.choice().connectionsPerHost;
    plan();
    if (first) {
        // The first answer reads the first range; its connection is the slot the run holds.
        auto *segment = new Segment;
        const partfile::ByteRange range = todo_.takeFirst();
        segment->from = segment->pos = range.from;
        segment->end = range.to;
        segment->checked = true;
        segment->reply = first;
        active_.append(segment);
        watch(segment);
        reserveAhead(segment);
    }
    QTimer::singleShot(0, this, [this] {
        fill();
        readAll();
    });
}

// Splits what is missing into ranges, no more than there may be connections and none
// smaller than the minimum.
void SegmentRun::plan()
{
    todo_ = done_.gaps(s_.control.total);
    while (todo_.size() < maxConnections_) {
        qsizetype largest = -1;
        for (qsizetype i = 0; i < todo_.size(); ++i) {
            if (largest < 0 || todo_[i].to - todo_[i].from > todo_[largest].to - todo_[largest].from)
                largest = i;
        }
        const partfile::ByteRange r = largest < 0 ? partfile::ByteRange() : todo_[largest];
        if (largest < 0 || r.to - r.from < 2 * MinSegmentBytes)
            break;
        const qint64 middle = r.from + (r.to - r.from) / 2;
        todo_[largest].to = middle;
        todo_.insert(largest + 1, {middle, r.to});
    }
}

// Opens connections while there is work, room under the run's number and a free slot.
void SegmentRun::fill()
{
    while (!ended_ && active_.size() < maxConnections_) {
        if (active_.size() >= heldSlots_) {
            if (!policy_.takeHostSlot(s_.hostKey))
                break;
            ++heldSlots_;
        }
        // After a request that brought nothing, the next one waits its pause.
        const qint64 now = clock_.elapsed();
        if (holdUntilMs_ > now) {
            if (!hold_.isActive())
                hold_.start(int(holdUntilMs_ - now));
            break;
        }
        partfile::ByteRange range;
        if (!nextRange(range))
            break;
        auto *segment = new Segment;
        segment->from = segment->pos = range.from;
        segment->end = range.to;
        active_.append(segment);
        ask(segment, s_.url);
        reserveAhead(segment);
    }
    mostConnections_ = qMax(mostConnections_, int(active_.size()));
    while (heldSlots_ > qMax<qsizetype>(1, active_.size())) {
        policy_.giveHostSlot(s_.hostKey);
        --heldSlots_;
    }
    if (!ended_ && active_.isEmpty() && todo_.isEmpty())
        finish(record() ? Ending::Done : Ending::Failed, DownloadError::DiskFull, 0);
}

// The next range to fetch: one nobody holds, else the second half of the largest one left.
bool SegmentRun::nextRange(partfile::ByteRange &range)
{
    if (!todo_.isEmpty()) {
        range = todo_.takeFirst();
        return true;
    }
    Segment *largest = nullptr;
    for (Segment *s : active_) {
        if (!s->whole && (!largest || s->end - s->pos > largest->end - largest->pos))
            largest = s;
    }
    if (!largest || largest->end - largest->pos < 2 * MinStealBytes)
        return false;
    const qint64 middle = largest->pos + (largest->end - largest->pos) / 2;
    range = {middle, largest->end};
    largest->end = middle;
    return true;
}

void SegmentRun::ask(Segment *segment, const QUrl &url)
{
    QNetworkRequest request = fetch::makeRequest(url, fetch::RequestKind::File);
    request.setRawHeader(
        "Range", "bytes=" + QByteArray::number(segment->pos) + "-" + QByteArray::number(segment->end - 1));
    request.setRawHeader("If-Range", s_.control.validator);
    segment->reply = fetch::networkManager().get(request);
    segment->checked = false;
    segment->fresh = false;
    watch(segment);
}

void SegmentRun::watch(Segment *segment)
{
    QNetworkReply *reply = segment->reply;
    reply->setReadBufferSize(SegmentBufferSize);
    segment->lastActiveMs = clock_.elapsed();
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        if (Segment *s = find(reply))
            check(s);
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (Segment *s = find(reply))
            read(s);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (Segment *s = find(reply))
            answered(s);
    });
}

SegmentRun::Segment *SegmentRun::find(const QNetworkReply *reply)
{
    for (Segment *s : active_) {
        if (s->reply == reply)
            return s;
    }
    return nullptr;
}

// Whether the answer is the range asked for of the same file; acts on it when it is not.
bool SegmentRun::check(Segment *segment)
{
    if (segment->checked)
        return true;
    QNetworkReply *reply = segment->reply;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status <= 0 || fetch::isRedirect(status))
        return false;  // no answer yet, or a redirect: judged when it ends
    segment->lastActiveMs = clock_.elapsed();
    const QByteArray validator = validatorOf(reply);
    if ((status == 200 || status == 206) && validator != s_.control.validator) {
        finish(Ending::Changed, DownloadError::HttpStatus, status);
        return false;
    }
    if (status == 200) {
        bool known = false;
        const qint64 length = reply->rawHeader("Content-Length").trimmed().toLongLong(&known);
        if (known && length == s_.control.total) {
            takeWhole(segment);
            return true;
        }
    } else if (status == 206) {
        const ContentRange range = contentRange(reply->rawHeader("Content-Range"));
        if (range.start == segment->pos && range.total == s_.control.total) {
            segment->checked = true;
            return true;
        }
    }
    broke(segment, DownloadError::HttpStatus, status);
    return false;
}

// The server sends the whole file to a range request: this connection alone fetches it,
// from its first byte; the others end, what they wrote kept.
void SegmentRun::takeWhole(Segment *segment)
{
    for (Segment *other : QList<Segment *>(active_)) {
        if (other != segment)
            drop(other, true);
    }
    todo_.clear();
    maxConnections_ = 1;
    segment->checked = segment->whole = true;
    segment->from = segment->pos = 0;
    segment->end = s_.control.total;
}

void SegmentRun::read(Segment *segment)
{
    if (ended_ || !check(segment))
        return;
    QNetworkReply *reply = segment->reply;
    while (segment->pos < segment->end && reply->bytesAvailable() > 0) {
        const qint64 want = qMin(qMin<qint64>(buffer_.size(), reply->bytesAvailable()), segment->end - segment->pos);
        const qint64 allowed = fetch::takeBytesOrWait(policy_, want, pace_);
        if (allowed <= 0)
            break;
        const qint64 n = reply->read(buffer_.data(), allowed);
        if (n <= 0)
            break;
        if (!s_.part->writeAt(buffer_.constData(), n, segment->pos)) {
            const int why = errno;
            finish(Ending::Failed, why == EIO ? DownloadError::WriteFailed : DownloadError::DiskFull, 0);
            return;
        }
        // Only bytes the part did not have count as progress: a connection sent the whole
        // file again rewrites what is done before it brings anything.
        // A connection counts as one that brought something only past a few bytes (or at its
        // range's end): a server resetting each connection after 16 bytes would otherwise
        // keep the run reconnecting without end.
        if (!segment->fresh) {
            const bool gained = !segment->whole || !done_.contains(segment->pos, segment->pos + n);
            if (gained)
                segment->gained += n;
            if (gained && (segment->gained >= MeagerBytes || segment->pos + n >= segment->end)) {
                segment->fresh = true;
                failuresInRow_ = 0;
                holdUntilMs_ = 0;
            }
        }
        segment->pos += n;
        segment->lastActiveMs = clock_.elapsed();
        reserveAhead(segment);
        // Handed to the disk as it comes, so the flush before each record has little to wait for.
        const qint64 behind = qMax(segment->from, segment->writtenBack);
        if (segment->pos - behind >= PartFile::WritebackStep) {
            s_.part->writeBack(behind, segment->pos);
            segment->writtenBack = segment->pos;
        }
    }
    if (onProgress)
        onProgress();
    if (segment->pos >= segment->end)
        ended(segment);
    else if (reply->isFinished() && reply->bytesAvailable() == 0)
        broke(segment, DownloadError::ConnectionLost, 0);  // the body ended before its range did
}

void SegmentRun::readAll()
{
    for (Segment *s : QList<Segment *>(active_)) {
        if (!ended_ && active_.contains(s))
            read(s);
    }
}

// The answer ended: a redirect, a connection that never answered, or a body read to its end
// (see read).
void SegmentRun::answered(Segment *segment)
{
    QNetworkReply *reply = segment->reply;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (fetch::isRedirect(status)) {
        const fetch::Hop hop = fetch::redirectHop(reply, segment->redirects);
        if (hop.kind == fetch::Hop::Follow) {
            reply->disconnect(this);
            reply->deleteLater();
            s_.url = hop.next;  // the ranges left are asked where the file now is
            ask(segment, hop.next);
            return;
        }
        broke(segment, DownloadError::TooManyRedirects, status);
        return;
    }
    if (status <= 0) {
        broke(segment, noAnswerError(reply), 0);
        return;
    }
    read(segment);
}

// A range is whole: recorded, and the connection takes on more work.
void SegmentRun::ended(Segment *segment)
{
    drop(segment, true);
    if (!record()) {
        finish(Ending::Failed, errno == EIO ? DownloadError::WriteFailed : DownloadError::DiskFull, 0);
        return;
    }
    fill();
}

// A connection that failed: its bytes kept, its range left to the others, one connection
// fewer for the rest of the file.
void SegmentRun::broke(Segment *segment, DownloadError error, int status)
{
    lastError_ = error;
    lastStatus_ = status;
    const bool fruitless = !segment->fresh;
    const partfile::ByteRange rest {segment->pos, segment->end};
    drop(segment, true);
    if (rest.to > rest.from)
        todo_.prepend(rest);
    maxConnections_ = qMax<qsizetype>(1, active_.size());
    if (fruitless)
        policy_.noteFruitlessRequest();
    if (++failuresInRow_ >= MostFailuresInRow || !s_.reconnect) {
        finish(Ending::Failed, error, status);
        return;
    }
    if (fruitless) {
        const int pause = qMax(fetch::fruitlessPauseMs(failuresInRow_), policy_.msUntilFruitlessAllowed());
        holdUntilMs_ = clock_.elapsed() + pause;
    }
    fill();
}

void SegmentRun::drop(Segment *segment, bool keepBytes)
{
    if (keepBytes)
        done_.add(segment->from, segment->pos);
    active_.removeOne(segment);
    if (QNetworkReply *reply = segment->reply) {
        // Ended after what Qt has already queued for it (an error status is reported that
        // way): a reply aborted in between would be ended twice.
        reply->disconnect(this);
        QMetaObject::invokeMethod(
            reply,
            [reply] {
                reply->abort();
                reply->deleteLater();
            },
            Qt::QueuedConnection);
    }
    delete segment;
}

void SegmentRun::tick()
{
    const qint64 now = clock_.elapsed();
    // Another download waits for a connection to this host: one of ours makes room, its
    // range left to the others.
    if (policy_.hostSlotWanted(s_.hostKey) && active_.size() > 1) {
        Segment *longest = active_.first();
        for (Segment *s : active_) {
            if (s->end - s->pos > longest->end - longest->pos)
                longest = s;
        }
        const partfile::ByteRange rest {longest->pos, longest->end};
        drop(longest, true);
        todo_.prepend(rest);
        maxConnections_ = int(active_.size());
        fill();  // gives its slot back
    }
    for (Segment *s : QList<Segment *>(active_)) {
        if (!ended_ && active_.contains(s) && now - s->lastActiveMs > policy_.limits().stallMs)
            broke(s, DownloadError::TimedOut, 0);
    }
    if (!ended_ && now - lastRecordMs_ >= RecordEveryMs && doneBytes() > recordedBytes_ && !record())
        finish(Ending::Failed, errno == EIO ? DownloadError::WriteFailed : DownloadError::DiskFull, 0);
}

// Each byte of the file once, however many times it was written.
qint64 SegmentRun::doneBytes() const
{
    partfile::RangeSet all = done_;
    for (const Segment *s : active_)
        all.add(s->from, s->pos);
    return all.bytes();
}

// Reserves the blocks just ahead of a connection's writing, so the file lies together on
// the disk without holding space for bytes that may never come.
void SegmentRun::reserveAhead(Segment *segment)
{
    const qint64 ahead = ReserveAheadBytes / qMax(1, maxConnections_);
    if (segment->reservedTo >= segment->end || segment->reservedTo - segment->pos >= ahead / 2)
        return;
    const qint64 from = qMax(segment->reservedTo, segment->pos);
    segment->reservedTo = s_.part->reserve(from, qMin(segment->end, segment->pos + ahead));
}

// Flushes the part to disk, then records the ranges written before the flush.
bool SegmentRun::record()
{
    partfile::RangeControl control = s_.control;
    control.done = done_;
    for (const Segment *s : active_)
        control.done.add(s->from, s->pos);
    lastRecordMs_ = clock_.elapsed();
    if (!s_.part->record(control))
        return false;
    recordedBytes_ = control.done.bytes();
    s_.control.done = control.done;
    return true;
}

void SegmentRun::finish(Ending ending, DownloadError error, int status)
{
    if (ended_)
        return;
    stop();
    if (ending == Ending::Done && !done_.covers(s_.control.total))
        ending = Ending::Failed;
    if (onEnd)
        onEnd(ending, ending == Ending::Done ? DownloadError::None : error, status ? status : lastStatus_);
}

void SegmentRun::stop()
{
    if (ended_)
        return;
    ended_ = true;
    pace_.stop();
    ticker_.stop();
    hold_.stop();
    const bool wrote = doneBytes() > recordedBytes_;
    for (Segment *s : QList<Segment *>(active_))
        drop(s, true);
    if (wrote)
        record();
    // A run that did not finish gives back the blocks it holds beyond what is recorded (the
    // control file keeps the whole length for the resume).
    s_.part->giveBack(s_.control.done, s_.control.total);
    while (heldSlots_ > 0) {
        policy_.giveHostSlot(s_.hostKey);
        --heldSlots_;
    }
}
