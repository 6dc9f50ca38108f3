#include "download/download.h"

#include "download/download_text.h"
#include "download/video_name.h"
#include "net/fetch.h"
#include "part_file.h"
#include "segments.h"
#include "net/host_slots.h"
#include "net/network_policy.h"
#include "net/rate_limit.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qint64 ReadBufferSize = qint64(1024) * 1024;

}  // namespace

Download::Download(QObject *parent, fetch::NetworkPolicy *policy)
    : QObject(parent), policy_(policy ? *policy : fetch::policy()), watch_([this](fetch::TransferWatch::Reason why) {
          fail(why == fetch::TransferWatch::StoppedSlow ? DownloadError::TooSlow : DownloadError::TimedOut);
      }),
      part_(std::make_unique<PartFile>())
{
    lockRetry_.setSingleShot(true);
    connect(&lockRetry_, &QTimer::timeout, this, &Download::tryLock);
    pace_.setSingleShot(true);
    connect(&pace_, &QTimer::timeout, this, [this] {
        if (reply_ && reply_->isFinished())
            onFinished();
        else
            onData();
    });
}

Download::~Download()
{
    delete ranges_;  // records what is on disk and gives its slots back
    dropReply();
    giveSlot();
}

void Download::start(const QString &url, const QString &target, Options options)
{
    delete ranges_;
    ranges_ = nullptr;
    dropReply();
    giveSlot();
    lockRetry_.stop();
    pace_.stop();
    partOpened_ = false;
    mostConnections_ = 1;
    hostKey_ = fetch::hostKey(QUrl(url));
    link_ = url;
    target_ = target;
    part_->setTarget(target);
    options_ = options;
    contentType_.clear();
    status_ = 0;
    redirects_ = 0;
    total_ = recordedTotal_ = -1;
    restarted_ = false;
    validator_.clear();
    resumeFrom_ = 0;
    state_ = State::Locking;
    clock_.start();

    // Every outcome is reported after the caller has returned.
    const auto refuse = [this](DownloadError error) { QTimer::singleShot(0, this, [this, error] { fail(error); }); };
    const QUrl address(url);
    if (!fetch::isWebUrl(address))
        return refuse(DownloadError::NotWeb);
    for (const QString &path : {target_, part_->path(), part_->controlPath()}) {
        if (partfile::kindOf(path) == partfile::Kind::Other)
            return refuse(DownloadError::NotRegularFile);
    }
    if (!options_.overwrite && !options_.extensionFromType && partfile::kindOf(target_) != partfile::Kind::Missing)
        return refuse(DownloadError::Exists);
    lockClock_.start();
    QTimer::singleShot(0, this, [this] {
        if (state_ == State::Locking && !part_->isOpen() && !lockRetry_.isActive())
            tryLock();
    });
}

// One writer per part: the part is opened and locked before anything about it is read, and
// stays locked on one descriptor until the final rename. When another download (another
// process, or the window while the command line runs) holds it, the lock is tried again on
// a timer, so the caller's window keeps running, up to the stall timeout; then this one
// fails as Busy, having written nothing.
void Download::tryLock()
{
    if (state_ != State::Locking)
        return;
    // The download's first connection waits for a slot of its host; the wait is not the
    // lock's, so it never ends as Busy.
    if (!slotHeld_) {
        if (!policy_.takeHostSlot(hostKey_)) {
            wantSlot(true);
            lockRetry_.start(LockRetryMs);
            return;
        }
        wantSlot(false);
        slotHeld_ = true;
        lockClock_.start();
    }
    switch (part_->lock()) {
    case PartFile::Lock::Taken: begin(); return;
    case PartFile::Lock::Failed: fail(PartFile::errorOf(errno)); return;
    case PartFile::Lock::Held: break;
    }
    if (lockClock_.elapsed() >= policy_.limits().stallMs)
        fail(DownloadError::Busy);
    else
        lockRetry_.start(LockRetryMs);
}

// With the part locked: what the other download may have finished meanwhile, and whether
// the part can be resumed.
void Download::begin()
{
    if (!options_.overwrite && !options_.extensionFromType && partfile::kindOf(target_) != partfile::Kind::Missing) {
        fail(DownloadError::Exists);
        return;
    }
    if (resumeRanges())
        return;
    // Resume only a part that is known to belong to this link.
    const std::optional<partfile::Control> control = partfile::readControl(part_->controlPath());
    const qint64 size = part_->size();
    const bool sameLink = control && control->url == link_;
    const bool formerLink = control && !options_.formerLink.isEmpty() && control->url == options_.formerLink &&
        !control->validator.isEmpty();
    if ((sameLink || formerLink) && size > 0 && (!control->validator.isEmpty() || control->total >= 0)) {
        resumeFrom_ = size;
        validator_ = control->validator;
        recordedTotal_ = control->total;
    }
    request(QUrl(link_));
}

void Download::request(const QUrl &url)
{
    received_ = 0;
    expected_ = -1;
    if (state_ != State::Probing)
        state_ = State::Asking;
    rangesAdvertised_ = false;
    QNetworkRequest request = fetch::makeRequest(url, fetch::RequestKind::File);
    if (resumeFrom_ > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(resumeFrom_) + "-");
        if (!validator_.isEmpty())
            request.setRawHeader("If-Range", validator_);
    }
    reply_ = fetch::networkManager().get(request);
    reply_->setReadBufferSize(ReadBufferSize);
    connect(reply_, &QNetworkReply::metaDataChanged, this, &Download::onHeaders);
    connect(reply_, &QNetworkReply::readyRead, this, &Download::onData);
    connect(reply_, &QNetworkReply::finished, this, &Download::onFinished);
    watch_.start();
}

// Starts over from byte 0, once: the part does not belong to what the server now has.
void Download::restart()
{
    dropReply();
    if (restarted_) {
        fail(DownloadError::HttpStatus);
        return;
    }
    restarted_ = true;
    resumeFrom_ = 0;
    validator_.clear();
    recordedTotal_ = -1;
    redirects_ = 0;
    request(QUrl(link_));
}

void Download::onHeaders()
{
    if (!reply_ || state_ == State::Writing)
        return;
    watch_.activity(onDisk());
    status_ = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (state_ == State::Probing || (status_ != 200 && status_ != 206))
        return;  // a redirect, an error page or a probe: judged when the answer ends
    if (!acceptAnswer())
        return;
    // Refuse before writing when the rest of the file cannot fit on the disk.
    const qint64 free = part_->freeBytes();
    if (expected_ > 0 && free >= 0 && free < expected_) {
        fail(DownloadError::DiskFull);
        return;
    }
    state_ = State::Writing;
    emitProgress();
}

// Decides what a 200 or 206 answer means for the part, names the file and opens the part.
bool Download::acceptAnswer()
{
    contentType_ = QString::fromLatin1(reply_->rawHeader("Content-Type"));
    lastModified_ = reply_->rawHeader("Last-Modified").trimmed();
    bool hasLength = false;
    const qint64 length = reply_->rawHeader("Content-Length").trimmed().toLongLong(&hasLength);
    expected_ = hasLength && length >= 0 ? length : -1;
    rangesAdvertised_ = reply_->rawHeader("Accept-Ranges").trimmed().toLower() == "bytes";

    const ContentRange range = contentRange(reply_->rawHeader("Content-Range"));
    bool append = false;
    if (status_ == 206 && resumeFrom_ > 0 && range.start == resumeFrom_) {
        // The rest of the file. Without a validator the total is what ties it to the part.
        if (validator_.isEmpty() && range.total != recordedTotal_) {
            restart();
            return false;
        }
        append = true;
        total_ = range.total;
    } else if (status_ == 206 && range.start == 0) {
        resumeFrom_ = 0;  // the whole file, sent as a range from its first byte
        total_ = range.total;
    } else if (status_ == 206) {
        fail(DownloadError::HttpStatus);  // a part we did not ask for: nothing to append it to
        return false;
    } else {
        resumeFrom_ = 0;  // the whole file (a changed file answers If-Range this way)
        total_ = expected_;
    }

    if (!nameByType())
        return false;
    if (!append && rangesWorthIt()) {
        partfile::RangeControl control;
        control.link = link_;
        control.validator = validatorOf(reply_);
        control.total = total_;
        control.contentType = contentType_;
        QNetworkReply *first = reply_;
        reply_ = nullptr;
        first->disconnect(this);
        startRanges(first, control);
        return false;
    }
    if (!openPart(!append))
        return false;
    partfile::Control control;
    control.url = link_;
    control.validator = validatorOf(reply_);
    control.total = total_;
    if (!partfile::writeControl(part_->controlPath(), control)) {
        fail(PartFile::errorOf(errno));
        return false;
    }
    return true;
}

// The answer names the file's extension when asked to (the part stays where it was).
bool Download::nameByType()
{
    if (!options_.extensionFromType)
        return true;
    target_ = withTypeExtension(target_, contentType_);
    const partfile::Kind there = partfile::kindOf(target_);
    if (there == partfile::Kind::Other || (!options_.overwrite && there == partfile::Kind::Regular)) {
        fail(there == partfile::Kind::Other ? DownloadError::NotRegularFile : DownloadError::Exists);
        return false;
    }
    return true;
}

void Download::wantSlot(bool wanting)
{
    if (wanting != slotWanted_)
        policy_.wantHostSlot(hostKey_, wanting);
    slotWanted_ = wanting;
}

void Download::giveSlot()
{
    wantSlot(false);
    if (slotHeld_)
        policy_.giveHostSlot(hostKey_);
    slotHeld_ = false;
}

// The locked part, emptied or kept for appending.
bool Download::openPart(bool truncate)
{
    partOpened_ = true;
    if (const int why = part_->prepareAppend(truncate); why != 0) {
        fail(PartFile::errorOf(why));
        return false;
    }
    return true;
}

void Download::onData()
{
    if (!reply_)
        return;
    if (state_ != State::Writing) {
        reply_->skip(reply_->bytesAvailable());  // a redirect's or an error page's body
        watch_.activity(onDisk());
        return;
    }
    // One buffer for the whole download: no allocation per piece.
    if (buffer_.size() != ReadBufferSize)
        buffer_.resize(ReadBufferSize);
    while (reply_ && reply_->bytesAvailable() > 0) {
        const qint64 allowed =
            fetch::takeBytesOrWait(policy_, qMin<qint64>(buffer_.size(), reply_->bytesAvailable()), pace_);
        if (allowed <= 0)
            break;
        const qint64 size = reply_->read(buffer_.data(), allowed);
        if (size <= 0)
            break;
        const qint64 written = part_->append(buffer_.constData(), size);
        received_ += written;
        if (written != size) {
            // Any short write is a full disk (or quota); what was written is good and stays.
            const int why = errno;
            fail(why == EIO ? DownloadError::WriteFailed : DownloadError::DiskFull);
            return;
        }
    }
    watch_.activity(onDisk());
    emitProgress();
}

void Download::onFinished()
{
    if (!reply_ || !isRunning())
        return;
    onData();
    // Under the rate limit the answer may end before all of it was read: read on first.
    if (reply_ && isRunning() && !(state_ == State::Writing && reply_->bytesAvailable() > 0))
        answerEnded();
}

void Download::emitProgress()
{
    DownloadProgress p;
    p.done = ranges_ ? ranges_->doneBytes() : onDisk();
    p.total = total_;
    const double seconds = clock_.elapsed() / 1000.0;
    const qint64 fetched = ranges_ ? p.done - ranges_->startBytes() : received_;
    p.bytesPerSecond = seconds > 0.05 ? fetched / seconds : 0;
    if (p.total >= 0 && p.bytesPerSecond > 0)
        p.secondsLeft = qint64((p.total - p.done) / p.bytesPerSecond);
    emit progress(p);
}

void Download::dropReply()
{
    if (!reply_)
        return;
    QNetworkReply *reply = reply_;
    reply_ = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}
