// What the user does to a row of the list: each acts on the row's id and on its state as the
// history holds it now, never on a row that only looks the same.
#include "downloads/download_list.h"
#include "downloads/download_rows.h"

#include <QFile>
#include <QFileInfo>

namespace {

// Waiting and running are one to the user: the same actions apply to both.
bool sameForActions(history::State a, history::State b)
{
    const auto active = [](history::State s) { return s == history::State::Waiting || s == history::State::Running; };
    return a == b || (active(a) && active(b));
}

}  // namespace

bool DownloadList::stillAs(qint64 id, history::State shown)
{
    const std::optional<history::Entry> now = row(id);
    if (!now) {
        forgetRow(id);
        rows_->removed(id);
        return false;
    }
    const bool elsewhere = !queue_.item(id) && store_.heldElsewhere(id);
    const DownloadRow *seen = rows_->row(id);
    if (sameForActions(now->state, shown) && !elsewhere && seen && !seen->elsewhere)
        return true;
    rows_->changed(*now);
    rows_->setElsewhere(id, elsewhere);
    return false;
}

void DownloadList::followOthers()
{
    rows_->refresh();
    // Rows another window finished or let go are no longer this program's to hold.
    for (const qint64 id : queue_.ids()) {
        if (!row(id))
            forgetRow(id);
    }
}

bool DownloadList::adopt(qint64 id)
{
    if (queue_.item(id))
        return true;
    std::optional<history::Entry> e = row(id);
    const bool unfinished = e &&
        (e->state == history::State::Waiting || e->state == history::State::Running ||
            e->state == history::State::Paused);
    if (!unfinished || !store_.claim(id))
        return false;
    e->state = history::State::Paused;
    save(*e);
    enqueue(*e, true);
    rows_->setElsewhere(id, false);
    return true;
}

void DownloadList::pause(qint64 id)
{
    if (adopt(id))
        queue_.pause(id);
}

void DownloadList::resume(qint64 id)
{
    if (adopt(id))
        queue_.resume(id);
}

void DownloadList::cancel(qint64 id)
{
    // A conversion ends its process; the row keeps its original.
    if (const auto it = conversions_.find(id); it != conversions_.end()) {
        it->second.job->cancel();
        return;
    }
    if (adopt(id))
        queue_.cancel(id);
}

void DownloadList::retry(qint64 id)
{
    std::optional<history::Entry> e = row(id);
    if (!e || (queue_.item(id) && queue_.item(id)->state == DownloadQueue::State::Running))
        return;
    // A row whose address could not be extracted: extracted again, then in line.
    if (e->video.link.isEmpty()) {
        if (reextract_ && !e->video.address.isEmpty() && store_.claim(id)) {
            toRestore_ << id;
            retried_.insert(id);
            if (toRestore_.size() == 1)
                restoreNext();
        }
        return;
    }
    // Back in line under its recorded link, resuming what its part holds, and never over a
    // file that is not this video's.
    if (store_.claim(id)) {
        notes_.erase(id);
        e->state = history::State::Waiting;
        e->reason.clear();
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

void DownloadList::forgetRow(qint64 id)
{
    const DownloadQueue::Item *item = queue_.item(id);
    if (item && (item->state == DownloadQueue::State::Running || item->state == DownloadQueue::State::Waiting))
        queue_.cancel(id);
    queue_.forget(id);
    unrecorded_.erase(id);
    notes_.erase(id);
    store_.release(id);
    thumbnails_.remove(id);
}

void DownloadList::remove(qint64 id)
{
    forgetRow(id);
    store_.remove(id);
    rows_->removed(id);
}

QStringList DownloadList::filesOf(qint64 id) const
{
    QStringList files;
    const std::optional<history::Entry> e = row(id);
    if (!e)
        return files;
    // The video only when it is the one this row saved (its origin names the row's link);
    // beside it, only what the row recorded as written.
    if (!e->file.isEmpty() && holdsVideoFrom(e->file, e->video.link))
        files << e->file;
    // A video or sound file kept from a conversion only while it still holds this row's video.
    for (const QString &path : e->sidecars) {
        if (QFileInfo(path).isFile() && (!isMediaFile(path) || holdsVideoFrom(path, e->video.link)) &&
            !files.contains(path))
            files << path;
    }
    return files;
}

void DownloadList::deleteFile(qint64 id)
{
    const std::optional<history::Entry> e = row(id);
    if (!e)
        return;
    for (const QString &path : filesOf(id))
        QFile::remove(path);
    if (e->state != history::State::Done) {
        QFile::remove(Download::partPath(e->file));
        QFile::remove(Download::controlPath(e->file));
    }
    remove(id);
}

void DownloadList::clearFinished()
{
    for (const qint64 id : store_.clear(false))
        forgetRow(id);
    for (auto it = unrecorded_.begin(); it != unrecorded_.end();) {
        const qint64 id = (it++)->first;
        if (unrecorded_[id].state == history::State::Done) {
            forgetRow(id);
            rows_->removed(id);
        }
    }
    rows_->refresh();
}

void DownloadList::clearHistory()
{
    for (const qint64 id : store_.clear(true))
        forgetRow(id);
    for (auto it = unrecorded_.begin(); it != unrecorded_.end();) {
        const qint64 id = (it++)->first;
        const history::State state = unrecorded_[id].state;
        if (state == history::State::Done || state == history::State::Failed || state == history::State::Cancelled) {
            forgetRow(id);
            rows_->removed(id);
        }
    }
    rows_->refresh();
}
