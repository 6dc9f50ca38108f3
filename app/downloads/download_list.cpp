#include "downloads/download_list.h"

#include "net/host_slots.h"
#include "net/network_policy.h"
#include "net/proxy.h"
#include "net/rate_limit.h"

#include "download/download_text.h"
#include "download/sidecar.h"
#include "net/fetch.h"
#include "downloads/batch_run.h"
#include "downloads/download_rows.h"
#include "extract/address_check.h"
#include "extract/extract_video.h"
#include "record/hosts.h"
#include "settings/settings.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>
#include <utility>

namespace {

// The setting's bound is the queue's.
static_assert(Settings::MostAtOnce == DownloadQueue::MaxLimit);
static_assert(Settings::MostConnections == fetch::MostConnectionsPerHost);
static_assert(Settings::DefaultConnections == fetch::DefaultConnectionsPerHost);

const QString KeptPart = QStringLiteral(" (已保留已下载的部分,可重试)");

}  // namespace

DownloadList::DownloadList(const Settings &settings, const QString &historyPath, QObject *parent)
    : QObject(parent), settings_(settings), store_(historyPath), rows_(new DownloadRows(store_, this)),
      batch_(new BatchRun(
          *this, [this] { return settings_.saveFolder(); }, this))
{
    // Each share address is extracted again on a record of its own, never the window's.
    reextract_ = [this](const QString &address, const auto &done) {
        QTimer::singleShot(0, this, [address, done] {
            const ExtractedVideo found = extractVideo(address, siteForAddress(address, hosts()), hosts());
            done(found.video, found.view.status);
        });
    };
    // Downloads that all ended while the batch was still extracting are told once it is done.
    connect(batch_, &BatchRun::extracted, this, &DownloadList::finishIfIdle);
    applySettings();
    // The list follows its settings as they change: how many at once, the rows shown, the network.
    connect(settings_.notifier(), &SettingsValues::changed, this, [this](Settings::Key key) {
        using K = Settings::Key;
        if (key == K::AtOnce || key == K::HistoryShown || key == K::Connections || key == K::RateLimit ||
            key == K::Proxy)
            applySettings();
    });
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

QString DownloadList::thumbnailPath(qint64 id)
{
    return thumbnailFolder() + QStringLiteral("/%1.png").arg(id);
}

void DownloadList::applySettings()
{
    queue_.setLimit(settings_.downloadsAtOnce());
    rows_->setShownAtMost(settings_.historyShown());
    applyNetworkSettings(settings_);
}

void applyNetworkSettings(const Settings &settings)
{
    // The network's settings hold for every request of the window, from the version check on:
    // one call on the program's network policy.
    fetch::NetworkPolicy::Choice choice;
    choice.connectionsPerHost = settings.connectionsPerHost();
    choice.rateLimit = qMax<qint64>(0, fetch::parseRate(settings.rateLimit()));
    choice.proxy = fetch::NetworkPolicy::proxyField(settings.proxy());
    fetch::policy().apply(choice);
}

void DownloadList::save(history::Entry &e)
{
    e.owner = QCoreApplication::applicationPid();
    if (const auto kept = unrecorded_.find(e.id); kept != unrecorded_.end())
        kept->second = e;
    else
        store_.update(e);
    rows_->changed(e);
}

std::optional<history::Entry> DownloadList::row(qint64 id) const
{
    if (const auto kept = unrecorded_.find(id); kept != unrecorded_.end())
        return kept->second;
    return store_.get(id);
}

// A row the history could not take (read-only, or full): kept in memory for this run, under
// an id of its own that no recorded row has.
qint64 DownloadList::keepUnrecorded(history::Entry &e)
{
    e.id = --lastUnrecorded_;
    unrecorded_[e.id] = e;
    return e.id;
}

qint64 DownloadList::add(const DownloadRequest &request)
{
    history::Entry e;
    e.video = request.video;
    e.file = request.target;
    e.owner = QCoreApplication::applicationPid();
    e.id = store_.add(e);
    if (e.id == 0)
        keepUnrecorded(e);
    else
        store_.claim(e.id);
    if (!request.cover.isNull()) {
        QDir().mkpath(thumbnailFolder());
        request.cover.scaled(160, 90, Qt::KeepAspectRatio, Qt::SmoothTransformation).save(thumbnailPath(e.id));
    }
    rows_->added(e);
    requests_[e.id] = request;
    Download::Options options;
    options.overwrite = request.replace;
    queue_.add(e.id, e.video.link, e.file, options);
    return e.id;
}

void DownloadList::enqueue(const history::Entry &e, bool paused, const QString &formerLink)
{
    Download::Options options;
    options.overwrite = true;  // the user chose this file when the download began
    options.formerLink = formerLink;
    queue_.add(e.id, e.video.link, e.file, options, paused);
}

qint64 DownloadList::addFailed(const VideoFields &video, const QString &reason)
{
    history::Entry e;
    e.video.site = video.site;
    e.video.id = video.id;
    e.video.address = video.address;
    e.state = history::State::Failed;
    e.reason = reason;
    e.owner = QCoreApplication::applicationPid();
    e.id = store_.add(e);
    if (e.id == 0)
        keepUnrecorded(e);
    rows_->added(e);
    return e.id;
}

void DownloadList::restore()
{
    rows_->reload();
    const bool resume = settings_.resumeAtStart();
    for (history::Entry e : store_.unfinished()) {
        if (!store_.claim(e.id)) {
            rows_->setElsewhere(e.id, true);  // another window runs it
            continue;
        }
        // A download the user paused stays paused.
        if (!resume || e.state == history::State::Paused || e.video.address.isEmpty()) {
            e.state = history::State::Paused;
            save(e);
            enqueue(e, true);
            continue;
        }
        toRestore_ << e.id;
    }
    restoreNext();
}

void DownloadList::restoreNext()
{
    if (toRestore_.isEmpty() || !reextract_)
        return;
    // A video link expires: the share address gives a fresh one, and the part recorded under
    // the old link is resumed only when the server's validator still matches.
    const qint64 id = toRestore_.takeFirst();
    const std::optional<history::Entry> e = row(id);
    if (!e) {
        restoreNext();
        return;
    }
    reextract_(e->video.address, [this, id](const VideoFields &video, const QString &why) {
        if (std::optional<history::Entry> row = this->row(id)) {
            const QString former = row->video.link;
            if (video.link.isEmpty()) {
                row->state = history::State::Failed;
                row->reason = why;
                if (!row->file.isEmpty() && QFileInfo::exists(Download::partPath(row->file)))
                    row->reason += KeptPart;
                save(*row);  // 重试 tries again
            } else {
                row->video.link = video.link;
                // A row of a failed batch extraction gets its default name now.
                if (row->file.isEmpty())
                    row->file = QDir(settings_.saveFolder()).filePath(videoName(video));
                for (auto [field, value] : {std::pair {&row->video.description, video.description},
                         std::pair {&row->video.author, video.author}, std::pair {&row->video.cover, video.cover}}) {
                    if (field->isEmpty())
                        *field = value;
                }
                row->state = history::State::Waiting;
                row->reason.clear();
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
    std::optional<history::Entry> e = row(id);
    if (!item || !e)
        return;
    e->state = item->state;  // one state for the queue and the history
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
        if (settings_.saveSidecars())
            writeSidecars(id, *e);
    }
    save(*e);
    if (!over)
        return;
    emit ended(id, item->error, item->httpStatus);
    batchSaved_ += item->state == DownloadQueue::State::Done ? 1 : 0;
    batchFailed_ += item->state == DownloadQueue::State::Failed ? 1 : 0;
    finishIfIdle();
    if (item->state == DownloadQueue::State::Done && !settings_.keepHistory()) {
        store_.remove(id);
        rows_->removed(id);
        queue_.forget(id);
    }
}

void DownloadList::finishIfIdle()
{
    if (queue_.unfinished() != 0 || batch_->running() || batchSaved_ + batchFailed_ == 0)
        return;
    const int saved = std::exchange(batchSaved_, 0);
    const int failed = std::exchange(batchFailed_, 0);
    emit finished(saved, failed);
}

void DownloadList::addAddresses(const QStringList &addresses)
{
    batch_->add(addresses);
}

void DownloadList::setWindowBusy(std::function<bool()> windowBusy)
{
    batch_->setWindowBusy(std::move(windowBusy));
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
    // A row whose address could not be extracted: extracted again, then in line.
    if (std::optional<history::Entry> e = row(id); e && e->video.link.isEmpty()) {
        if (reextract_ && !e->video.address.isEmpty() && store_.claim(id)) {
            toRestore_ << id;
            if (toRestore_.size() == 1)
                restoreNext();
        }
        return;
    }
    // A row of an earlier run: back in line under its recorded link.
    if (std::optional<history::Entry> e = row(id); e && store_.claim(id)) {
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
    unrecorded_.erase(id);
    store_.remove(id);
    store_.release(id);
    rows_->removed(id);
}

void DownloadList::deleteFile(qint64 id)
{
    if (std::optional<history::Entry> e = row(id)) {
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

void DownloadList::writeSidecars(qint64 id, const history::Entry &e)
{
    const auto known = requests_.find(id);
    // The history keeps every field but the date: the date is the request's.
    VideoFields video = e.video;
    video.date = known != requests_.end() ? known->second.video.date : QString();
    QString why;
    writeSidecar(sidecarPath(e.file, QStringLiteral(".info.json")),
        videoInfoJson(video, known != requests_.end() ? known->second.avatar : QString(), e.finished), &why);
    // The cover as shown when the window has it; else fetched, as a download never replacing a file.
    const QImage shown = known != requests_.end() ? known->second.cover : QImage();
    if (!shown.isNull()) {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        shown.save(&buffer, "JPEG", 90);
        writeSidecar(sidecarPath(e.file, QStringLiteral(".jpg")), jpeg, &why);
    } else if (fetch::isWebAddress(e.video.cover)) {
        // Fetched as the window's pictures are (8 MiB, the stall rule, the deadline) and kept
        // only when it is a picture, never replacing a file.
        const QString path = sidecarPath(e.file, coverExtension(e.video.cover));
        fetch::getLater(e.video.cover, fetch::PictureLimit, this, [path](const fetch::Result &answer) {
            QString skipped;
            if (!keepCover(answer, path, &skipped))
                qInfo("cover skipped: %s", qUtf8Printable(skipped));
        });
    }
}
