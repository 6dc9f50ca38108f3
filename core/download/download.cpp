#include "download/download.h"

#include "download/download_text.h"
#include "download/video_name.h"
#include "net/fetch.h"
#include "media_framing.h"
#include "part_file.h"
#include "segments.h"
#include "net/host_slots.h"
#include "net/network_policy.h"
#include "net/rate_limit.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <cerrno>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr qint64 ReadBufferSize = qint64(1024) * 1024;

// Bytes free for this user in the file system that holds folder; -1 when unknown. Asked of
// the folder itself: the mount table does not describe it inside a chroot or some containers.
qint64 freeBytes(const QString &folder)
{
    struct statvfs info {};
    if (statvfs(QFile::encodeName(folder).constData(), &info) == 0)
        return qint64(info.f_bavail) * qint64(info.f_frsize);
    return -1;
}

DownloadError openError(int why)
{
    switch (why) {
    case EACCES:
    case EPERM:
    case EROFS: return DownloadError::NoPermission;
    case ENOSPC:
    case EDQUOT: return DownloadError::DiskFull;
    case ELOOP:
    case ENXIO:
    case EISDIR:
    case EINVAL:
    case EEXIST: return DownloadError::NotRegularFile;
    default: return DownloadError::WriteFailed;
    }
}

}  // namespace

Download::Download(QObject *parent, fetch::NetworkPolicy *policy)
    : QObject(parent), policy_(policy ? *policy : fetch::policy()), watch_([this](fetch::TransferWatch::Reason why) {
          fail(why == fetch::TransferWatch::StoppedSlow ? DownloadError::TooSlow : DownloadError::TimedOut);
      })
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
    closePart();
    giveSlot();
}

void Download::start(const QString &url, const QString &target, Options options)
{
    delete ranges_;
    ranges_ = nullptr;
    dropReply();
    closePart();
    giveSlot();
    lockRetry_.stop();
    pace_.stop();
    partOpened_ = false;
    mostConnections_ = 1;
    hostKey_ = fetch::hostKey(QUrl(url));
    link_ = url;
    target_ = target;
    part_ = partPath(target);
    control_ = controlPath(target);
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
    for (const QString &path : {target_, part_, controlPath(target)}) {
        if (partfile::kindOf(path) == partfile::Kind::Other)
            return refuse(DownloadError::NotRegularFile);
    }
    if (!options_.overwrite && !options_.extensionFromType && partfile::kindOf(target_) != partfile::Kind::Missing)
        return refuse(DownloadError::Exists);
    lockClock_.start();
    QTimer::singleShot(0, this, [this] {
        if (state_ == State::Locking && fd_ < 0 && !lockRetry_.isActive())
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
    // A part renamed away or replaced while we waited is opened again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = partfile::openForWrite(part_, false);
        if (fd < 0) {
            fail(openError(errno));
            return;
        }
        if (partfile::tryLock(fd) != 0) {
            ::close(fd);
            break;
        }
        if (partfile::isFileAt(fd, part_)) {
            fd_ = fd;
            begin();
            return;
        }
        ::close(fd);
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
    const std::optional<partfile::Control> control = partfile::readControl(control_);
    const qint64 size = ::lseek(fd_, 0, SEEK_END);
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
    const qint64 free = freeBytes(QFileInfo(target_).absolutePath());
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
    if (!partfile::writeControl(control_, control)) {
        fail(openError(errno));
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

// A whole file from byte 0 that the server lets us fetch in ranges, large enough for two.
bool Download::rangesWorthIt() const
{
    return policy_.choice().connectionsPerHost > 1 && state_ == State::Asking && resumeFrom_ == 0 &&
        rangesAdvertised_ && total_ >= 2 * MinSegmentBytes && !validatorOf(reply_).isEmpty();
}

// A part whose ranges were being fetched apart goes on with the ranges not recorded, under
// the validator it recorded. A part of another link is left to the single path, which
// starts it over.
bool Download::resumeRanges()
{
    const std::optional<partfile::RangeControl> control = partfile::readRangeControl(control_);
    if (!control || (control->link != link_ && (options_.formerLink.isEmpty() || control->link != options_.formerLink)))
        return false;
    contentType_ = control->contentType;
    validator_ = control->validator;
    total_ = control->total;
    if (!nameByType())
        return true;
    partfile::RangeControl kept = *control;
    kept.link = link_;
    kept.done = control->done.within(::lseek(fd_, 0, SEEK_END));
    startRanges(nullptr, kept);
    return true;
}

// Reserves the file's length in the part and hands it to the connections. first: the answer
// that showed the ranges are worth it (the part then starts empty).
bool Download::startRanges(QNetworkReply *first, const partfile::RangeControl &control)
{
    partOpened_ = true;
    total_ = control.total;
    if (first && ::ftruncate(fd_, 0) != 0) {
        fail(openError(errno));
        return false;
    }
    const qint64 free = freeBytes(QFileInfo(target_).absolutePath());
    if (free >= 0 && free < total_ - control.done.bytes()) {
        if (first)
            first->deleteLater();
        fail(DownloadError::DiskFull);
        return false;
    }
    // The part has the file's length from the start, sparse: the connections reserve blocks
    // just ahead of their writing (segments.h), and a full disk shows on a write.
    if (::lseek(fd_, 0, SEEK_END) < total_ && ::ftruncate(fd_, total_) != 0) {
        const int why = errno;
        if (first)
            first->deleteLater();
        fail(openError(why == EFBIG ? ENOSPC : why));
        return false;
    }
    if (!partfile::writeRangeControl(control_, control)) {
        if (first)
            first->deleteLater();
        fail(openError(errno));
        return false;
    }
    SegmentRun::Setup setup;
    setup.fd = fd_;
    setup.url = first ? first->url() : QUrl(link_);
    setup.control = control;
    setup.controlPath = control_;
    setup.hostKey = hostKey_;
    setup.policy = &policy_;
    slotHeld_ = false;  // the connections hold it now
    state_ = State::Ranges;
    ranges_ = new SegmentRun(setup, this);
    ranges_->onProgress = [this] {
        watch_.activity(ranges_->doneBytes());
        emitProgress();
    };
    ranges_->onEnd = [this](SegmentRun::Ending ending, DownloadError error, int status) {
        rangesEnded(int(ending), error, status);
    };
    watch_.start();  // the low-speed limit over the whole file
    ranges_->start(first);
    emitProgress();
    return true;
}

void Download::rangesEnded(int ending, DownloadError error, int status)
{
    SegmentRun *run = ranges_;
    ranges_ = nullptr;
    run->deleteLater();  // it is still on the stack
    mostConnections_ = qMax(mostConnections_, run->mostConnections());
    resumeFrom_ = run->startBytes();
    received_ = run->doneBytes() - resumeFrom_;
    status_ = status;
    switch (SegmentRun::Ending(ending)) {
    case SegmentRun::Ending::Done: complete(); return;
    case SegmentRun::Ending::Changed:
        // The file changed on the server: what was written belongs to the old one.
        state_ = State::Asking;
        slotHeld_ = policy_.takeHostSlot(hostKey_);
        partfile::removeRegular(control_);
        restart();
        return;
    case SegmentRun::Ending::Failed: fail(error); return;
    }
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
    writtenBack_ = truncate ? 0 : resumeFrom_;
    partOpened_ = true;
    if (truncate && ::ftruncate(fd_, 0) != 0) {
        fail(openError(errno));
        return false;
    }
    ::lseek(fd_, 0, SEEK_END);
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
        const qint64 written = partfile::writeAll(fd_, buffer_.constData(), size);
        received_ += written;
        startWriteback();
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

// Hands what was written so far to the disk in the background, a few MiB at a time, so the
// fsync before the final rename has little left to wait for.
void Download::startWriteback()
{
    constexpr qint64 Step = qint64(4) * 1024 * 1024;
    const qint64 end = onDisk();
    if (end - writtenBack_ < Step)
        return;
#ifdef Q_OS_LINUX
    ::sync_file_range(fd_, writtenBack_, end - writtenBack_, SYNC_FILE_RANGE_WRITE);
#endif
    writtenBack_ = end;
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

void Download::answerEnded()
{
    const QNetworkReply::NetworkError error = reply_->error();
    status_ = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status_ <= 0) {
        fail(noAnswerError(reply_));
        return;
    }
    const fetch::Hop hop = fetch::redirectHop(reply_, redirects_);
    if (hop.kind != fetch::Hop::None) {
        dropReply();
        if (hop.kind == fetch::Hop::Follow)
            request(hop.next);
        else
            fail(hop.kind == fetch::Hop::TooMany ? DownloadError::TooManyRedirects : DownloadError::NotWeb);
        return;
    }
    const ContentRange range = contentRange(reply_->rawHeader("Content-Range"));
    if (state_ == State::Probing) {
        // Whole when the server finds nothing past what we have; more bytes mean the body
        // was cut (a broken chunk size ends it as if it were the last chunk).
        const bool cut = status_ == 206 || (status_ == 416 && range.total >= 0 && range.total != onDisk());
        if (cut)
            fail(DownloadError::Incomplete);
        else
            complete();
        return;
    }
    if (status_ == 416 && resumeFrom_ > 0) {
        if (range.total == resumeFrom_) {
            total_ = resumeFrom_;  // the part already holds the whole file
            complete();
        } else {
            restart();
        }
        return;
    }
    bodyEnded(error);
}

// The end of a 200 or 206 body: complete only when every byte the server promised is there.
void Download::bodyEnded(QNetworkReply::NetworkError error)
{
    if (state_ != State::Writing) {
        fail(DownloadError::HttpStatus);
        return;
    }
    // A body cut short of its length is a lost connection, whether or not Qt noticed the
    // close before the end; the part file stays for a later resume.
    if (error != QNetworkReply::NoError || (expected_ >= 0 && received_ != expected_)) {
        fail(DownloadError::ConnectionLost);
        return;
    }
    if (total_ >= 0 && onDisk() != total_) {
        fail(DownloadError::Incomplete);
        return;
    }
    if (expected_ < 0 && total_ < 0 && rangesAdvertised_ && received_ > 0) {
        // No length was given: ask for what lies past the end to learn whether this was all.
        const QUrl url = reply_->url();
        dropReply();
        state_ = State::Probing;
        resumeFrom_ += received_;
        validator_.clear();
        request(url);
        return;
    }
    // No length and no way to ask: the video's own framing tells a cut file (Qt reads a
    // broken chunk size as the last chunk and ends such a body without an error).
    if (expected_ < 0 && total_ < 0 && checkFraming(fd_, onDisk()) == Framing::Cut) {
        fail(DownloadError::Incomplete);
        return;
    }
    complete();
}

void Download::complete()
{
    dropReply();
    watch_.stop();
    pace_.stop();
    // On disk before the rename, so a completed file survives a power cut.
    if (fd_ >= 0 && ::fsync(fd_) != 0) {
        fail(errno == ENOSPC ? DownloadError::DiskFull : DownloadError::WriteFailed);
        return;
    }
    if (total_ >= 0 && ::lseek(fd_, 0, SEEK_END) != total_) {
        fail(DownloadError::Incomplete);
        return;
    }
    partfile::setOrigin(fd_, link_);
    // Still locked: the rename is the last thing this download does to the part.
    const int why = partfile::moveInto(part_, target_, options_.overwrite);
    if (why != 0) {
        fail(why == EEXIST ? (partfile::kindOf(target_) == partfile::Kind::Regular ? DownloadError::Exists
                                                                                   : DownloadError::NotRegularFile)
                           : openError(why));
        return;
    }
    partfile::removeRegular(control_);
    closePart();
    giveSlot();
    state_ = State::Idle;
    DownloadProgress p;
    p.done = p.total = QFileInfo(target_).size();
    const double seconds = clock_.elapsed() / 1000.0;
    p.bytesPerSecond = seconds > 0 ? (p.done - resumeFrom_) / seconds : 0;
    p.secondsLeft = 0;
    emit progress(p);
    emit finished(DownloadError::None, status_);
}

void Download::cancel()
{
    if (!isRunning())
        return;
    fail(DownloadError::Cancelled);
}

void Download::stop()
{
    if (!isRunning())
        return;
    fail(DownloadError::Interrupted);
}

void Download::fail(DownloadError error)
{
    if (!isRunning())
        return;
    const bool ranges = state_ == State::Ranges;
    qint64 rangeBytes = 0;
    if (ranges_) {
        ranges_->stop();  // what is on disk recorded
        rangeBytes = ranges_->doneBytes();
        mostConnections_ = qMax(mostConnections_, ranges_->mostConnections());
        ranges_->deleteLater();
        ranges_ = nullptr;
    } else if (ranges) {
        rangeBytes = resumeFrom_ + received_;
    }
    state_ = State::Idle;
    watch_.stop();
    lockRetry_.stop();
    pace_.stop();
    dropReply();
    giveSlot();
    // Cancelling removes the part; an empty part is worth nothing; a part holding an error
    // page's place is dropped; a broken transfer or a full disk keeps what was written
    // correctly for a later resume. Nothing but our own regular files is removed, and only
    // while this download holds the part's lock: another download's part is never touched.
    if (fd_ >= 0 && error != DownloadError::NotRegularFile && partfile::isFileAt(fd_, part_)) {
        // A part of ranges has its length from the start: what counts is what was written.
        const bool drop = error == DownloadError::Cancelled ||
            (ranges ? rangeBytes == 0 : ::lseek(fd_, 0, SEEK_END) == 0) ||
            (!ranges && partOpened_ && error == DownloadError::HttpStatus);
        if (drop) {
            partfile::removeRegular(part_);
            partfile::removeRegular(control_);
        }
        if (error == DownloadError::Cancelled)
            partfile::removeRegular(control_);
    }
    closePart();
    emit finished(error, status_);
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

void Download::closePart()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}
