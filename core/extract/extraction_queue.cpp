#include "extract/extraction_queue.h"

#include "extract/author_listing.h"

#include <algorithm>

namespace {

// A view that keeps what the window would show and passes each step on to a live view.
class FollowedView : public ExtractionView {
public:
    FollowedView(HeadlessView &kept, ExtractionView *live) : kept_(kept), live_(live) {}
    void hideBadges() override
    {
        each([](ExtractionView &v) { v.hideBadges(); });
    }
    void setStatus(const QString &text) override
    {
        each([&](ExtractionView &v) { v.setStatus(text); });
    }
    void setExtractEnabled(bool enabled) override
    {
        each([&](ExtractionView &v) { v.setExtractEnabled(enabled); });
    }
    void resetForExtraction() override
    {
        each([](ExtractionView &v) { v.resetForExtraction(); });
    }
    void applyDisplay(const DisplayPlan &plan) override
    {
        each([&](ExtractionView &v) { v.applyDisplay(plan); });
    }

private:
    template <typename F> void each(F f)
    {
        f(kept_);
        if (live_)
            f(*live_);
    }
    HeadlessView &kept_;
    ExtractionView *live_;
};

}  // namespace

struct ExtractionQueue::Running {
    Running(ExtractionRequest r, const Hosts &h) : request(std::move(r)), view(video.view, request.view)
    {
        video.view.site = request.site;
        video.view.address = request.address;
        video.video.address = request.address;
        driver = std::make_unique<ExtractionDriver>(video.record, view, h);
        if (request.options.pageFetcher)
            driver->setPageFetcher(request.options.pageFetcher);
        if (request.options.trace)
            driver->setTrace(request.options.trace);
    }
    ExtractionRequest request;
    ExtractedVideo video;
    FollowedView view;
    std::unique_ptr<ExtractionDriver> driver;
    bool ended = false;
};

ExtractionQueue::ExtractionQueue(const Hosts &h, QObject *parent) : QObject(parent), hosts_(h) {}

ExtractionQueue::~ExtractionQueue() = default;

quint64 ExtractionQueue::add(ExtractionRequest request)
{
    request.number = ++lastNumber_;
    waiting_.push_back(std::move(request));
    pump();
    return lastNumber_;
}

void ExtractionQueue::dropWaiting(ExtractionWhy why)
{
    std::erase_if(waiting_, [why](const ExtractionRequest &r) { return r.why == why; });
}

bool ExtractionQueue::holds(ExtractionWhy why) const
{
    if (running_ && running_->request.why == why)
        return true;
    return std::any_of(waiting_.begin(), waiting_.end(), [why](const ExtractionRequest &r) { return r.why == why; });
}

void ExtractionQueue::pump()
{
    // One at a time, and no recursion however many requests end at once (refused
    // addresses): a run that ends inside its start lets the loop take the next.
    if (pumping_)
        return;
    pumping_ = true;
    while (!running_ && !waiting_.empty())
        startNext();
    pumping_ = false;
}

void ExtractionQueue::startNext()
{
    ExtractionRequest request = std::move(waiting_.front());
    waiting_.pop_front();
    running_ = std::make_unique<Running>(std::move(request), hosts_);
    emit started(running_->request);
    Running &r = *running_;
    if (r.request.site < 0) {
        // No service matched the address: refused as an address check refuses.
        r.video.view.status = NoServiceText;
        r.video.outcome = ExtractionOutcome::AddressRejected;
        r.video.failure = {NoServiceText, QStringLiteral("no service for this address"), QStringLiteral("no_service")};
        complete(ExtractionOutcome::AddressRejected);
        return;
    }
    r.driver->start(r.request.site, r.request.address, [this](ExtractionOutcome outcome) { complete(outcome); });
}

void ExtractionQueue::complete(ExtractionOutcome outcome)
{
    std::unique_ptr<Running> r = std::move(running_);
    ExtractedVideo &out = r->video;
    if (r->request.site >= 0) {
        out.outcome = outcome;
        out.failure = r->driver->failure();
        const DisplayPlan plan = out.view.display.value_or(DisplayPlan());
        out.video = videoFields(r->request.address, r->request.site, plan, out.record, hosts_);
        out.video.uploaderUrl = authorLinkOf(r->request.site, out.record.ResultSlots[SlotPage], hosts_);
        if (!out.extracted())
            out.video.link.clear();
        out.avatar = plan.avatarUrl();
    }
    if (r->request.done)
        r->request.done(out);
    emit finished(r->request, out);
    // The driver ends here, from inside its own last step: it reads nothing of itself after
    // its done, and its fetches' transfers go from the event loop.
    r.reset();
    if (!pumping_)
        pump();
}
