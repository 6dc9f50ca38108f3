#include "download_list/download_list.h"

#include "download/download_text.h"
#include "download_list/download_rows.h"
#include "settings/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

history::State historyState(DownloadQueue::State s)
{
    switch (s) {
    case DownloadQueue::State::Waiting: return history::State::Waiting;
    case DownloadQueue::State::Running: return history::State::Running;
    case DownloadQueue::State::Paused: return history::State::Paused;
    case DownloadQueue::State::Done: return history::State::Done;
    case DownloadQueue::State::Failed: return history::State::Failed;
    case DownloadQueue::State::Cancelled: return history::State::Cancelled;
    }
    return history::State::Failed;
}

const QString KeptPart = QStringLiteral(" (已保留已下载的部分,可重试)");

}  // namespace

DownloadList::DownloadList(Settings &settings, const QString &historyPath, QObject *parent)
    : QObject(parent), settings_(settings), store_(historyPath), rows_(new DownloadRows(store_, this))
{
    applySettings();
    connect(&queue_, &DownloadQueue::changed, this, &DownloadList::onChanged);
    connect(&queue_, &DownloadQueue::progressed, this, [this](qint64 id, const DownloadProgress &p) {
        rows_->progressed(id, p);
        emit progressed(id, p);
    });
}

DownloadList::~DownloadList() = default;

QString DownloadList::thumbnailFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
        QStringLiteral("/quorvin-video-helper/thumbnails");
}

void DownloadList::applySettings()
{
    queue_.setLimit(settings_.downloadsAtOnce());
    rows_->setShownAtMost(settings_.historyShown());
}

void DownloadList::save(history::Entry &e)
{
    e.owner = QCoreApplication::applicationPid();
    store_.update(e);
    rows_->changed(e);
}

qint64 DownloadList::add(const DownloadRequest &request)
{
    history::Entry e;
    e.site = request.video.site;
    e.videoId = request.video.id;
    e.address = request.video.address;
    e.link = request.video.link;
    e.file = request.target;
    e.description = request.video.description;
    e.author = request.video.author;
    e.cover = request.video.cover;
    e.owner = QCoreApplication::applicationPid();
    e.id = store_.add(e);
    if (e.id == 0)
        e.id = -qint64(queue_.ids().size()) - 1;  // kept in this run only: the database is not writable
    store_.claim(e.id);
    if (!request.cover.isNull()) {
        QDir().mkpath(thumbnailFolder());
        request.cover.scaled(160, 90, Qt::KeepAspectRatio, Qt::SmoothTransformation)
            .save(thumbnailFolder() + QStringLiteral("/%1.png").arg(e.id));
    }
    rows_->added(e);
    Download::Options options;
    options.overwrite = request.replace;
    queue_.add(e.id, e.link, e.file, options);
    return e.id;
}

void DownloadList::enqueue(const history::Entry &e, bool paused, const QString &formerLink)
{
    Download::Options options;
    options.overwrite = true;  // the user chose this file when the download began
    options.formerLink = formerLink;
    queue_.add(e.id, e.link, e.file, options, paused);
}

void DownloadList::restore(const Reextract &reextract)
{
    rows_->reload();
    const bool resume = settings_.resumeAtStart();
    for (history::Entry e : store_.unfinished()) {
        if (!store_.claim(e.id)) {
            rows_->setElsewhere(e.id, true);  // another window runs it
            continue;
        }
        // A download the user paused stays paused.
        if (!resume || e.state == history::State::Paused || e.address.isEmpty()) {
            e.state = history::State::Paused;
            save(e);
            enqueue(e, true);
            continue;
        }
        toRestore_ << e.id;
    }
    reextract_ = reextract;
    restoreNext();
}

void DownloadList::restoreNext()
{
    if (toRestore_.isEmpty())
        return;
    // A video link expires: the share address gives a fresh one, and the part recorded under
    // the old link is resumed only when the server's validator still matches.
    const qint64 id = toRestore_.takeFirst();
    const std::optional<history::Entry> e = store_.get(id);
    if (!e) {
        restoreNext();
        return;
    }
    reextract_(e->address, [this, id](const QString &link, const QString &why) {
        if (std::optional<history::Entry> row = store_.get(id)) {
            const QString former = row->link;
            if (link.isEmpty()) {
                row->state = history::State::Failed;
                row->reason = why + KeptPart;
                save(*row);  // 重试 puts it back in line under its recorded link
            } else {
                row->link = link;
                row->state = history::State::Waiting;
                save(*row);
                enqueue(*row, false, former);
            }
        }
        restoreNext();
    });
}

void DownloadList::onChanged(qint64 id)
{
    const DownloadQueue::Item *item = queue_.item(id);
    std::optional<history::Entry> e = store_.get(id);
    if (!item || !e)
        return;
    e->state = historyState(item->state);
    e->file = item->target;
    e->reason.clear();
    if (item->progress.total >= 0)
        e->size = item->progress.total;
    e->done = item->progress.done;
    const bool over = item->state != DownloadQueue::State::Waiting && item->state != DownloadQueue::State::Running;
    if (item->state == DownloadQueue::State::Failed) {
        e->reason = downloadErrorText(item->error, item->httpStatus);
        if (QFileInfo::exists(Download::partPath(item->target)))
            e->reason += KeptPart;
    }
    if (item->state == DownloadQueue::State::Done) {
        e->size = QFileInfo(item->target).size();
        e->done = e->size;
        e->finished = QDateTime::currentDateTime();
    }
    save(*e);
    if (!over)
        return;
    emit ended(id, item->error, item->httpStatus);
    batchSaved_ += item->state == DownloadQueue::State::Done ? 1 : 0;
    batchFailed_ += item->state == DownloadQueue::State::Failed ? 1 : 0;
    if (queue_.unfinished() == 0 && batchSaved_ + batchFailed_ > 0) {
        emit batchEnded(batchSaved_, batchFailed_);
        batchSaved_ = batchFailed_ = 0;
    }
    if (item->state == DownloadQueue::State::Done && !settings_.keepHistory()) {
        store_.remove(id);
        rows_->removed(id);
        queue_.forget(id);
    }
}

void DownloadList::pause(qint64 id)
{
    queue_.pause(id);
}

void DownloadList::resume(qint64 id)
{
    queue_.resume(id);
}

void DownloadList::cancel(qint64 id)
{
    queue_.cancel(id);
}

void DownloadList::retry(qint64 id)
{
    if (queue_.item(id)) {
        queue_.retry(id);
        return;
    }
    // A row of an earlier run: back in line under its recorded link.
    if (std::optional<history::Entry> e = store_.get(id); e && store_.claim(id)) {
        e->state = history::State::Waiting;
        save(*e);
        enqueue(*e, false);
    }
}

void DownloadList::retryAllFailed()
{
    for (const history::Entry &e : store_.recent(settings_.historyShown())) {
        if (e.state == history::State::Failed)
            retry(e.id);
    }
}

void DownloadList::remove(qint64 id)
{
    const DownloadQueue::Item *item = queue_.item(id);
    if (item && (item->state == DownloadQueue::State::Running || item->state == DownloadQueue::State::Waiting))
        queue_.cancel(id);
    queue_.forget(id);
    store_.remove(id);
    store_.release(id);
    rows_->removed(id);
}

void DownloadList::deleteFile(qint64 id)
{
    if (std::optional<history::Entry> e = store_.get(id)) {
        QFile::remove(e->file);
        QFile::remove(Download::partPath(e->file));
        QFile::remove(Download::controlPath(e->file));
    }
    remove(id);
}

void DownloadList::clearFinished()
{
    for (const history::Entry &e : store_.recent(settings_.historyShown())) {
        if (e.state == history::State::Done) {
            queue_.forget(e.id);
            store_.release(e.id);
        }
    }
    store_.clear(false);
    rows_->reload();
}

void DownloadList::clearHistory()
{
    for (const history::Entry &e : store_.recent(settings_.historyShown())) {
        const bool finished = e.state == history::State::Done || e.state == history::State::Failed ||
            e.state == history::State::Cancelled;
        if (finished && !(queue_.item(e.id) && queue_.item(e.id)->state == DownloadQueue::State::Running)) {
            queue_.forget(e.id);
            store_.release(e.id);
        }
    }
    store_.clear(true);
    rows_->reload();
}
