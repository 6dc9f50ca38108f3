#include "download/download_queue.h"

#include <QFile>

DownloadQueue::DownloadQueue(QObject *parent) : QObject(parent) {}

DownloadQueue::~DownloadQueue()
{
    // Quitting keeps every part for the next start.
    for (auto &[id, download] : running_) {
        download->disconnect(this);
        download->stop();
    }
}

void DownloadQueue::setLimit(int limit)
{
    limit_ = qBound(1, limit, MaxLimit);
    pump();
}

void DownloadQueue::add(qint64 id, const QString &link, const QString &target, Download::Options options, bool paused)
{
    Item item;
    item.id = id;
    item.link = link;
    item.target = target;
    item.options = options;
    item.state = paused ? State::Paused : State::Waiting;
    items_[id] = item;
    order_.removeAll(id);
    order_ << id;
    emit changed(id);
    pump();
}

const DownloadQueue::Item *DownloadQueue::item(qint64 id) const
{
    const auto it = items_.find(id);
    return it == items_.end() ? nullptr : &it->second;
}

int DownloadQueue::running() const
{
    return int(running_.size());
}

int DownloadQueue::unfinished() const
{
    int n = 0;
    for (const auto &[id, item] : items_)
        n += item.state == State::Waiting || item.state == State::Running ? 1 : 0;
    return n;
}

void DownloadQueue::pump()
{
    for (const qint64 id : order_) {
        if (running() >= limit_)
            return;
        Item &item = items_[id];
        if (item.state == State::Waiting)
            start(item);
    }
}

void DownloadQueue::start(Item &item)
{
    const qint64 id = item.id;
    auto download = std::make_unique<RetryingDownload>();
    connect(download.get(), &RetryingDownload::progress, this, [this, id](const DownloadProgress &p) {
        items_[id].progress = p;
        emit progressed(id, p);
    });
    connect(download.get(), &RetryingDownload::finished, this,
        [this, id](DownloadError error, int status) { onFinished(id, error, status); });
    item.state = State::Running;
    item.error = DownloadError::None;
    item.httpStatus = 0;
    RetryingDownload *d = download.get();
    running_[id] = std::move(download);
    emit changed(id);
    d->start(item.link, item.target, item.options, retry_);
}

void DownloadQueue::onFinished(qint64 id, DownloadError error, int httpStatus)
{
    const auto it = running_.find(id);
    if (it == running_.end())
        return;
    Item &item = items_[id];
    item.target = it->second->target();  // the answer's type may have set the extension
    // The finished download is deleted once its signal has returned.
    it->second.release()->deleteLater();
    running_.erase(it);
    item.error = error;
    item.httpStatus = httpStatus;
    switch (error) {
    case DownloadError::None: item.state = State::Done; break;
    case DownloadError::Interrupted: item.state = State::Paused; break;
    case DownloadError::Cancelled: item.state = State::Cancelled; break;
    default: item.state = State::Failed; break;
    }
    emit changed(id);
    pump();
}

void DownloadQueue::stopRunning(qint64 id, bool removePart)
{
    const auto it = running_.find(id);
    if (it == running_.end())
        return;
    if (removePart)
        it->second->cancel();
    else
        it->second->stop();
}

void DownloadQueue::pause(qint64 id)
{
    Item *item = items_.count(id) ? &items_[id] : nullptr;
    if (!item)
        return;
    if (item->state == State::Running) {
        stopRunning(id, false);  // finished(Interrupted) makes it paused
    } else if (item->state == State::Waiting) {
        item->state = State::Paused;
        emit changed(id);
    }
}

void DownloadQueue::resume(qint64 id)
{
    if (items_.count(id) && items_[id].state == State::Paused) {
        items_[id].state = State::Waiting;
        emit changed(id);
        pump();
    }
}

void DownloadQueue::cancel(qint64 id)
{
    Item *item = items_.count(id) ? &items_[id] : nullptr;
    if (!item)
        return;
    if (item->state == State::Running) {
        stopRunning(id, true);
    } else if (item->state == State::Waiting || item->state == State::Paused) {
        // Nothing runs: its part goes as a cancelled download's does.
        QFile::remove(Download::partPath(item->target));
        QFile::remove(Download::controlPath(item->target));
        item->state = State::Cancelled;
        item->error = DownloadError::Cancelled;
        emit changed(id);
    }
}

void DownloadQueue::retry(qint64 id)
{
    if (items_.count(id) && (items_[id].state == State::Failed || items_[id].state == State::Cancelled)) {
        items_[id].state = State::Waiting;
        emit changed(id);
        pump();
    }
}

void DownloadQueue::forget(qint64 id)
{
    if (running_.count(id))
        return;
    items_.erase(id);
    order_.removeAll(id);
}
