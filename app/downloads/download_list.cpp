#include "downloads/download_list.h"

#include "convert/conversion.h"

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

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <utility>

namespace {

// The setting's bound is the queue's.
static_assert(Settings::MostAtOnce == DownloadQueue::MaxLimit);
static_assert(Settings::MostConnections == fetch::MostConnectionsPerHost);
static_assert(Settings::DefaultConnections == fetch::DefaultConnectionsPerHost);

const QString KeptPart = QStringLiteral(" (已保留已下载的部分,可重试)");

}  // namespace

DownloadList::DownloadList(
    const Settings &settings, const QString &historyPath, QObject *parent, ExtractionQueue *extractions)
    : QObject(parent), settings_(settings), store_(historyPath), rows_(new DownloadRows(store_, this)),
      extractions_(extractions ? extractions : new ExtractionQueue(hosts(), this)),
      batch_(new BatchRun(
          *this, [this] { return settings_.saveFolder(); }, this))
{
    // Each share address is extracted again through the one queue, on a record of its own,
    // never the window's: a restored row, or one 重试 asked for.
    reextract_ = [this](const QString &address, const auto &done) {
        ExtractionRequest request;
        request.site = siteForAddress(address, hosts());
        request.address = address;
        request.why = reextractWhy_;
        request.done = [done](const ExtractedVideo &found) { done(found.video, found.view.status); };
        // From the event loop: a refused address answers at once, and the next row waits.
        QTimer::singleShot(0, this, [this, request] { extractions_->add(request); });
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
    // Rows of a history file keep their thumbnails on disk; the ones of ids this file never
    // gave (another history's) go, so no row shows another video's cover.
    thumbnails_.setOnDisk(store_.isOpen() && !store_.inMemory());
    if (store_.isOpen() && store_.problem() == history::Store::Problem::None)
        thumbnails_.removeAbove(store_.highestId());
    // Another window on the same history: its changes are seen within a second or two
    // (PRAGMA data_version moves for every other connection's commit, WAL writes included).
    seenVersion_ = store_.dataVersion();
    others_.setInterval(1000);
    connect(&others_, &QTimer::timeout, this, [this] {
        if (const qint64 version = store_.dataVersion(); version != seenVersion_) {
            seenVersion_ = version;
            followOthers();
        } else {
            rows_->refreshElsewhere();  // a window that quit lets its rows go without a write
        }
    });
    if (!store_.inMemory())
        others_.start();
    connect(&queue_, &DownloadQueue::progressed, this, [this](qint64 id, const DownloadProgress &p) {
        rows_->progressed(id, p);
        emit progressed(id, p);
    });
}

DownloadList::~DownloadList() = default;

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
    e.avatar = request.avatar;
    e.file = request.target;
    e.convertTo = request.convertTo;
    e.owner = QCoreApplication::applicationPid();
    e.id = store_.add(e);
    if (e.id == 0)
        keepUnrecorded(e);
    else
        store_.claim(e.id);
    thumbnails_.put(e.id, request.cover);
    rows_->added(e);
    Download::Options options;
    options.overwrite = request.replace;
    queue_.add(e.id, e.video.link, e.file, options);
    return e.id;
}

qint64 DownloadList::addSaved(const DownloadRequest &request)
{
    history::Entry e;
    e.video = request.video;
    e.avatar = request.avatar;
    e.file = request.target;
    e.size = e.done = QFileInfo(request.target).size();
    e.finished = QDateTime::currentDateTime();
    e.state = history::State::Done;
    e.reason = QStringLiteral("(文件已存在)");
    e.owner = QCoreApplication::applicationPid();
    e.id = store_.add(e);
    if (e.id == 0)
        keepUnrecorded(e);
    thumbnails_.put(e.id, request.cover);
    rows_->added(e);
    ++batchSaved_;
    finishIfIdle();
    return e.id;
}

void DownloadList::enqueue(history::Entry &e, bool paused, const QString &formerLink)
{
    // The user agreed to replace only what was there when they answered the save dialog: a
    // restored or retried download replaces its file only when the file holds this video.
    const QStringList links = {e.video.link, formerLink};
    const SavePlace place = savePlace(e.file, links, false);
    if (place.thisVideo && !QFileInfo::exists(Download::partPath(place.file))) {
        // Saved already (the program ended between the file and its row): nothing to fetch.
        queue_.forget(e.id);
        e.file = place.file;
        e.state = history::State::Done;
        e.size = e.done = QFileInfo(place.file).size();
        e.finished = QDateTime::currentDateTime();
        e.reason.clear();
        save(e);
        store_.release(e.id);
        return;
    }
    if (place.file != e.file) {
        // The part goes with the download to its new name, so what was fetched is kept.
        for (const auto &path : {&Download::partPath, &Download::controlPath}) {
            if (QFileInfo::exists(path(e.file)) && !QFileInfo::exists(path(place.file)))
                QFile::rename(path(e.file), path(place.file));
        }
        // The name was taken by another file meanwhile (the user's): the row says where it went.
        notes_[e.id] = QStringLiteral("(原名已被占用，另存为 %1)").arg(QFileInfo(place.file).fileName());
        e.file = place.file;
        e.reason = notes_[e.id];
        save(e);
    }
    Download::Options options;
    options.overwrite = place.thisVideo;
    options.formerLink = formerLink;
    queue_.forget(e.id);
    queue_.add(e.id, e.video.link, e.file, options, paused);
}

qint64 DownloadList::addFailed(const VideoFields &video, const QString &reason)
{
    history::Entry e;
    e.video.site = video.site;
    e.video.id = video.id;
    e.video.address = video.address;
    e.video.date = video.date;
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
        // A conversion a crash or a quit cut off: the row is finished, with its original, and
        // keeps the wish to convert, offered again (重新转换) and said on the row.
        if (e.state == history::State::Converting) {
            convert::removeLeftovers(QFileInfo(e.file).absolutePath());
            const std::optional<convert::Kind> wish = e.convertTo;
            backToOriginal(e);
            e.convertTo = wish;
            e.reason = QStringLiteral("转换未完成（程序退出时中止），可右键选择“重新转换”");
            save(e);
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
    reextractWhy_ = retried_.erase(id) > 0 ? ExtractionWhy::Retry : ExtractionWhy::Restore;
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
                         std::pair {&row->video.author, video.author}, std::pair {&row->video.cover, video.cover},
                         std::pair {&row->video.date, video.date}}) {
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
    const auto note = notes_.find(id);
    e->reason = note == notes_.end() ? QString() : note->second;
    if (item->progress.total >= 0)
        e->size = item->progress.total;
    // A download brought back paused has not read its part yet: what the history recorded
    // stays until it moves again (a cancelled one's part is gone).
    if (item->progress.done > 0 || item->state == DownloadQueue::State::Cancelled)
        e->done = item->progress.done;
    const bool over = item->state != DownloadQueue::State::Waiting && item->state != DownloadQueue::State::Running;
    if (item->state == DownloadQueue::State::Failed) {
        e->reason = downloadErrorText(item->error, item->httpStatus);
        notes_.erase(id);
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
    // Ended: another window may take it again (a paused row stays this window's to resume).
    if (item->state != DownloadQueue::State::Paused)
        store_.release(id);
    emit ended(id, item->error, item->httpStatus);
    batchSaved_ += item->state == DownloadQueue::State::Done ? 1 : 0;
    batchFailed_ += item->state == DownloadQueue::State::Failed ? 1 : 0;
    finishIfIdle();
    if (item->state == DownloadQueue::State::Done && !settings_.keepHistory() && !e->convertTo &&
        !settings_.flvToMp4()) {
        forgetRow(id);
        store_.remove(id);
        rows_->removed(id);
    } else if (item->state == DownloadQueue::State::Done) {
        convertSaved(id);
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

void DownloadList::addAddresses(const QStringList &addresses, const QString &subfolder)
{
    batch_->add(addresses, subfolder);
}

void DownloadList::writeSidecars(qint64 id, history::Entry &e)
{
    QString why;
    const QString info = sidecarPath(e.file, QStringLiteral(".info.json"));
    if (writeSidecar(info, videoInfoJson(e.video, e.avatar, e.finished, e.file), &why))
        e.sidecars << info;
    if (!fetch::isWebAddress(e.video.cover))
        return;
    // The cover as the server sent it, fetched as the window's pictures are (8 MiB, the stall
    // rule, the deadline), kept only when it is a picture and under its type's extension,
    // never replacing a file.
    fetch::getLater(e.video.cover, fetch::PictureLimit, this,
        [this, id, file = e.file](const fetch::Result &answer) { keepRowCover(id, file, answer); });
}

void DownloadList::keepRowCover(qint64 id, const QString &videoFile, const fetch::Result &answer)
{
    const QString extension = imageExtension(answer.body);
    const QString path = sidecarPath(videoFile, extension.isEmpty() ? QStringLiteral(".jpg") : extension);
    QString skipped;
    if (!keepCover(answer, path, &skipped)) {
        qInfo("cover skipped: %s", qUtf8Printable(skipped));
        return;
    }
    // Recorded with its row, so that 删除文件 removes it; a row gone meanwhile leaves it be.
    if (std::optional<history::Entry> e = row(id); e && e->file == videoFile) {
        e->sidecars << path;
        save(*e);
    }
}
