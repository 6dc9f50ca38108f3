#include "downloads/download_rows.h"

#include <QFileInfo>
#include <QSet>

#include "download/download_text.h"

DownloadRow::DownloadRow(const history::Entry &e, const DownloadProgress &p, bool other)
    : entry(e), progress(p), elsewhere(other)
{
    checkFile();
}

void DownloadRow::checkFile()
{
    fileGone = entry.state == history::State::Done && !entry.file.isEmpty() && !QFileInfo::exists(entry.file);
}

DownloadRows::DownloadRows(history::Store &store, QObject *parent) : QAbstractListModel(parent), store_(store) {}

int DownloadRows::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

QVariant DownloadRows::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(rows_.size()))
        return QVariant();
    const DownloadRow &r = rows_[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole: return QString(rowTitle(r) + u' ' + stateText(r));
    case Qt::ToolTipRole: {
        // The files the row holds, each by its name: the video and what was made from it.
        QStringList names;
        for (const QString &path : rowMediaFiles(r))
            names << QFileInfo(path).fileName();
        const QString files =
            names.isEmpty() ? QString() : QStringLiteral("\n文件: ") + names.join(QStringLiteral("、"));
        return QString(rowTitle(r) + u'\n' + stateText(r) + files);
    }
    case Qt::AccessibleTextRole: return accessibleText(r);
    default: return QVariant();
    }
}

bool DownloadRows::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && !allRead_ && int(rows_.size()) < shownAtMost_;
}

void DownloadRows::fetchMore(const QModelIndex &parent)
{
    if (!canFetchMore(parent))
        return;
    const int want = qMin(PageRows, shownAtMost_ - int(rows_.size()));
    const QList<history::Entry> page = store_.recent(want, int(rows_.size()));
    allRead_ = page.size() < want;
    if (page.isEmpty())
        return;
    beginInsertRows(QModelIndex(), int(rows_.size()), int(rows_.size()) + int(page.size()) - 1);
    for (const history::Entry &e : page)
        rows_.push_back({e, {}, store_.heldElsewhere(e.id)});
    endInsertRows();
}

void DownloadRows::reload()
{
    beginResetModel();
    rows_.clear();
    allRead_ = false;
    endResetModel();
    fetchMore(QModelIndex());
}

void DownloadRows::refresh()
{
    // The rows from the oldest loaded on (a page when none is), newest first.
    qint64 oldest = 0;
    int loaded = 0;
    for (const DownloadRow &r : rows_) {
        if (r.entry.id > 0) {
            oldest = oldest == 0 ? r.entry.id : qMin(oldest, r.entry.id);
            ++loaded;
        }
    }
    QList<history::Entry> fresh = store_.recent(qMin(shownAtMost_, qMax(loaded + PageRows, PageRows)));
    if (loaded > 0 && !allRead_)
        fresh.removeIf([oldest](const history::Entry &e) { return e.id < oldest; });
    QSet<qint64> ids;
    for (const history::Entry &e : fresh)
        ids.insert(e.id);
    for (int i = int(rows_.size()) - 1; i >= 0; --i) {
        if (rows_[size_t(i)].entry.id > 0 && !ids.contains(rows_[size_t(i)].entry.id)) {
            beginRemoveRows(QModelIndex(), i, i);
            rows_.erase(rows_.begin() + i);
            endRemoveRows();
        }
    }
    for (const history::Entry &e : fresh) {
        const bool unfinished = e.state == history::State::Waiting || e.state == history::State::Running ||
            e.state == history::State::Paused || e.state == history::State::Converting;
        const bool elsewhere = unfinished && store_.heldElsewhere(e.id);
        if (const int i = indexOf(e.id); i >= 0) {
            rows_[size_t(i)] = DownloadRow(e, rows_[size_t(i)].progress, elsewhere);
            continue;
        }
        // Newest first: before the first recorded row older than it.
        int at = int(rows_.size());
        for (size_t j = 0; j < rows_.size(); ++j) {
            if (rows_[j].entry.id > 0 && rows_[j].entry.id < e.id) {
                at = int(j);
                break;
            }
        }
        beginInsertRows(QModelIndex(), at, at);
        rows_.insert(rows_.begin() + at, {e, {}, elsewhere});
        endInsertRows();
    }
    if (!rows_.empty())
        emit dataChanged(index(0), index(int(rows_.size()) - 1));
}

void DownloadRows::refreshElsewhere()
{
    for (size_t i = 0; i < rows_.size(); ++i) {
        DownloadRow &r = rows_[i];
        if (!r.elsewhere || store_.heldElsewhere(r.entry.id))
            continue;
        r.elsewhere = false;
        if (const std::optional<history::Entry> e = store_.get(r.entry.id))
            r = DownloadRow(*e);
        emit dataChanged(index(int(i)), index(int(i)));
    }
}

int DownloadRows::indexOf(qint64 id) const
{
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].entry.id == id)
            return int(i);
    }
    return -1;
}

const DownloadRow *DownloadRows::row(qint64 id) const
{
    const int i = indexOf(id);
    return i < 0 ? nullptr : &rows_[size_t(i)];
}

void DownloadRows::added(const history::Entry &entry)
{
    beginInsertRows(QModelIndex(), 0, 0);
    rows_.insert(rows_.begin(), {entry, {}, false});
    endInsertRows();
}

void DownloadRows::changed(const history::Entry &entry)
{
    const int i = indexOf(entry.id);
    if (i < 0)
        return;
    rows_[size_t(i)].entry = entry;
    rows_[size_t(i)].checkFile();
    emit dataChanged(index(i), index(i));
}

void DownloadRows::progressed(qint64 id, const DownloadProgress &progress)
{
    const int i = indexOf(id);
    if (i < 0)
        return;
    rows_[size_t(i)].progress = progress;
    emit dataChanged(index(i), index(i));
}

void DownloadRows::removed(qint64 id)
{
    const int i = indexOf(id);
    if (i < 0)
        return;
    beginRemoveRows(QModelIndex(), i, i);
    rows_.erase(rows_.begin() + i);
    endRemoveRows();
}

void DownloadRows::checkFiles()
{
    for (DownloadRow &r : rows_)
        r.checkFile();
    if (!rows_.empty())
        emit dataChanged(index(0), index(int(rows_.size()) - 1));
}

void DownloadRows::setElsewhere(qint64 id, bool elsewhere)
{
    const int i = indexOf(id);
    if (i < 0)
        return;
    rows_[size_t(i)].elsewhere = elsewhere;
    emit dataChanged(index(i), index(i));
}

void DownloadFilter::setText(const QString &text)
{
    text_ = text.trimmed();
    invalidateFilter();
}

void DownloadFilter::setOnlyFailed(bool on)
{
    onlyFailed_ = on;
    invalidateFilter();
}

bool DownloadFilter::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    Q_UNUSED(sourceParent);
    const DownloadRow *r = static_cast<const DownloadRows *>(sourceModel())->at(sourceRow);
    if (!r)
        return false;
    if (onlyFailed_ && r->entry.state != history::State::Failed)
        return false;
    if (text_.isEmpty())
        return true;
    for (const QString &field : {r->entry.video.description, r->entry.video.author, QFileInfo(r->entry.file).fileName(),
             r->entry.video.address, r->entry.video.link}) {
        if (field.contains(text_, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString rowTitle(const DownloadRow &row)
{
    const history::Entry &e = row.entry;
    if (!e.video.description.isEmpty())
        return e.video.description.simplified();
    return e.file.isEmpty() ? e.video.address : QFileInfo(e.file).fileName();
}

// What a screen reader reads for a row: its title, its state and, while it runs, how far.
QString accessibleText(const DownloadRow &row)
{
    QString text = rowTitle(row) + QStringLiteral(", ") + stateText(row);
    if (row.entry.state == history::State::Running && row.progress.total > 0)
        text += QStringLiteral(", %1%").arg(row.progress.done * 100 / row.progress.total);
    return text;
}

bool isMediaFile(const QString &path)
{
    static const QStringList media = {QStringLiteral("mp4"), QStringLiteral("flv"), QStringLiteral("mp3"),
        QStringLiteral("m4a"), QStringLiteral("m4v"), QStringLiteral("mov"), QStringLiteral("webm"),
        QStringLiteral("ts"), QStringLiteral("3gp")};
    return media.contains(QFileInfo(path).suffix().toLower());
}

QString formatBadge(const DownloadRow &row)
{
    if (row.entry.state != history::State::Done || row.fileGone || !isMediaFile(row.entry.file))
        return QString();
    return QFileInfo(row.entry.file).suffix().toUpper();
}

QStringList rowMediaFiles(const DownloadRow &row)
{
    QStringList files;
    if (row.entry.state == history::State::Done && !row.entry.file.isEmpty() && QFileInfo(row.entry.file).isFile())
        files << row.entry.file;
    for (const QString &path : row.entry.sidecars) {
        if (isMediaFile(path) && QFileInfo(path).isFile() && !files.contains(path))
            files << path;
    }
    return files;
}

QString stateText(const DownloadRow &row)
{
    if (row.elsewhere && row.entry.state == history::State::Converting) {
        // How far, as the converting window wrote it in the history.
        bool known = false;
        const int percent = row.entry.reason.toInt(&known);
        return known ? QStringLiteral("在另一个窗口中转换 %1%").arg(percent) : QStringLiteral("在另一个窗口中转换");
    }
    if (row.elsewhere)
        return QStringLiteral("在另一个窗口中下载");
    // What the row says beside its state ("(文件已存在)", the name it was saved under).
    const QString note = row.entry.reason.isEmpty() ? QString() : u' ' + row.entry.reason;
    switch (row.entry.state) {
    case history::State::Waiting: return QStringLiteral("等待中") + note;
    case history::State::Running: return QStringLiteral("下载中") + note;
    case history::State::Paused: {
        // How far it got, also after a restart (the history keeps the bytes on disk).
        const qint64 total = row.progress.total > 0 ? row.progress.total : row.entry.size;
        const qint64 done = qMax(row.progress.done, row.entry.done);
        if (total <= 0)
            return QStringLiteral("已暂停") + note;
        return QStringLiteral("已暂停 %1% · %2/%3")
                   .arg(qMin<qint64>(100, done * 100 / total))
                   .arg(byteSize(done), byteSize(total)) +
            note;
    }
    case history::State::Done:
        // A conversion that failed says so; the original stays the row's file.
        if (row.entry.reason.startsWith(QStringLiteral("转换失败")))
            return row.entry.reason;
        return (row.fileGone ? QStringLiteral("文件已不在") : QStringLiteral("已完成")) + note;
    case history::State::Converting:
        return QStringLiteral("转换中 %1%").arg(row.progress.total == 100 ? row.progress.done : 0);
    case history::State::Failed:
        return row.entry.reason.isEmpty() ? QStringLiteral("失败") : QStringLiteral("失败: ") + row.entry.reason;
    case history::State::Cancelled: return QStringLiteral("已取消") + note;
    }
    return QString();
}
