// The part of a download fetched on several connections at once: whether it is worth it,
// resuming such a part, setting the part up for the connections and what their end means.
#include "download/download.h"

#include "part_file.h"
#include "segments.h"
#include "net/network_policy.h"

#include <QNetworkReply>
#include <cerrno>

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
    const std::optional<partfile::RangeControl> control = partfile::readRangeControl(part_->controlPath());
    if (!control || (control->link != link_ && (options_.formerLink.isEmpty() || control->link != options_.formerLink)))
        return false;
    contentType_ = control->contentType;
    validator_ = control->validator;
    total_ = control->total;
    if (!nameByType())
        return true;
    partfile::RangeControl kept = *control;
    kept.link = link_;
    kept.done = control->done.within(part_->size());
    startRanges(nullptr, kept);
    return true;
}

// Reserves the file's length in the part and hands it to the connections. first: the answer
// that showed the ranges are worth it (the part then starts empty).
bool Download::startRanges(QNetworkReply *first, const partfile::RangeControl &control)
{
    partOpened_ = true;
    total_ = control.total;
    // Whatever goes wrong before the connections start, the first answer is let go.
    const auto refuse = [this, first](int why) {
        if (first)
            first->deleteLater();
        fail(PartFile::errorOf(why));
        return false;
    };
    if (first && part_->prepareAppend(true) != 0)
        return refuse(errno);
    const qint64 free = part_->freeBytes();
    if (free >= 0 && free < total_ - control.done.bytes())
        return refuse(ENOSPC);
    // The part has the file's length from the start, sparse: the connections reserve blocks
    // just ahead of their writing (segments.h), and a full disk shows on a write.
    if (const int why = part_->setLength(total_); why != 0)
        return refuse(why);
    if (!partfile::writeRangeControl(part_->controlPath(), control))
        return refuse(errno);
    SegmentRun::Setup setup;
    setup.part = part_.get();
    setup.url = first ? first->url() : QUrl(link_);
    setup.control = control;
    setup.hostKey = hostKey_;
    setup.policy = &policy_;
    setup.reconnect = options_.reconnect;
    slotHeld_ = false;  // the connections hold it now
    state_ = State::Ranges;
    ranges_ = new SegmentRun(setup, this);
    ranges_->onProgress = [this] {
        watch_.activity(ranges_->doneBytes());
        emitProgress();
    };
    ranges_->onEnd = [this](SegmentRun::Ending ending, DownloadError error, int status) {
        rangesEnded(ending, error, status);
    };
    watch_.start();  // the low-speed limit over the whole file
    ranges_->start(first);
    emitProgress();
    return true;
}

void Download::rangesEnded(RangesEnding ending, DownloadError error, int status)
{
    SegmentRun *run = ranges_;
    ranges_ = nullptr;
    run->deleteLater();  // it is still on the stack
    mostConnections_ = qMax(mostConnections_, run->mostConnections());
    resumeFrom_ = run->startBytes();
    received_ = run->doneBytes() - resumeFrom_;
    status_ = status;
    switch (ending) {
    case SegmentRun::Ending::Done: complete(); return;
    case SegmentRun::Ending::Changed:
        // The file changed on the server: what was written belongs to the old one.
        state_ = State::Asking;
        slotHeld_ = policy_.takeHostSlot(hostKey_);
        partfile::removeRegular(part_->controlPath());
        restart();
        return;
    case SegmentRun::Ending::Failed: fail(error); return;
    }
}
