// How an answer and a download end: redirects followed, a body checked whole against what
// the server promised, the part renamed over the target, or the failure with what stays of
// the part.
#include "download/download.h"

#include "media_framing.h"
#include "part_file.h"
#include "segments.h"
#include "net/fetch.h"
#include "net/transfer_watch.h"

#include <QFileInfo>
#include <QNetworkReply>
#include <cerrno>

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
    if (expected_ < 0 && total_ < 0 && checkFraming(part_->fd(), onDisk()) == Framing::Cut) {
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
    if (const int why = part_->sync(); why != 0) {
        fail(why == ENOSPC ? DownloadError::DiskFull : DownloadError::WriteFailed);
        return;
    }
    if (total_ >= 0 && part_->size() != total_) {
        fail(DownloadError::Incomplete);
        return;
    }
    if (const int why = part_->moveOnto(target_, options_.overwrite, link_); why != 0) {
        fail(why == EEXIST ? (partfile::kindOf(target_) == partfile::Kind::Regular ? DownloadError::Exists
                                                                                   : DownloadError::NotRegularFile)
                           : PartFile::errorOf(why));
        return;
    }
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
    // A part of ranges has its length from the start: what counts is what was written.
    part_->release(error, ranges ? rangeBytes : part_->size(), !ranges && partOpened_);
    emit finished(error, status_);
}
