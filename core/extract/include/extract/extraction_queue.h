// Every extraction of the program goes through one queue: the window's press, a batch of
// addresses, a download brought back at start, 重试 and the command line. A request names
// the service and the address and why it came; requests run one at a time, in order, each
// on a record of its own, and each result comes back under its own request. Nothing waits
// for a page in a nested event loop: pages arrive on the caller's event loop.
#pragma once

#include "extract/extract_video.h"

#include <QObject>
#include <deque>
#include <memory>

enum class ExtractionWhy { Press, Batch, Restore, Retry, CommandLine };

struct ExtractionRequest {
    quint64 number = 0;  // given by the queue: 1, 2, 3... in the order they came
    int site = -1;       // -1: no service matched the address
    QString address;
    ExtractionWhy why = ExtractionWhy::Press;
    ExtractOptions options;
    // A view that follows the run as it goes (the window's result area), besides the record's
    // own; it outlives the request.
    ExtractionView *view = nullptr;
    // Called with the result just before finished is emitted; for a caller that waits for
    // its own request only.
    std::function<void(const ExtractedVideo &video)> done;
};

class ExtractionQueue : public QObject {
    Q_OBJECT
public:
    explicit ExtractionQueue(const Hosts &h, QObject *parent = nullptr);
    ~ExtractionQueue() override;

    // Takes a request; its number. It starts at once when none runs (finished may come before
    // add returns, for an address refused without a fetch), else after those before it.
    quint64 add(ExtractionRequest request);
    // The number the next request added will get.
    quint64 nextNumber() const { return lastNumber_ + 1; }
    // Takes back the requests of why that have not started; a running one goes on.
    void dropWaiting(ExtractionWhy why);

    bool busy() const { return bool(running_) || !waiting_.empty(); }
    // A request of why runs or waits.
    bool holds(ExtractionWhy why) const;
    qsizetype waiting() const { return qsizetype(waiting_.size()); }

signals:
    void started(const ExtractionRequest &request);
    void finished(const ExtractionRequest &request, const ExtractedVideo &video);

private:
    struct Running;
    void pump();
    void startNext();
    void complete(ExtractionOutcome outcome);

    const Hosts &hosts_;
    std::deque<ExtractionRequest> waiting_;
    std::unique_ptr<Running> running_;
    quint64 lastNumber_ = 0;
    bool pumping_ = false;
};
