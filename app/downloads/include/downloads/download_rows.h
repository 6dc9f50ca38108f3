// The rows of the download list: the history, newest first, read from the database a page at
// a time as the view scrolls (never all 10,000 rows at once), with each running download's
// progress beside it; and the filter above the list (a text, only the failed rows).
#pragma once

#include "download/download.h"
#include "history/history_store.h"

#include <QAbstractListModel>
#include <QSortFilterProxyModel>
#include <vector>

struct DownloadRow {
    history::Entry entry;
    DownloadProgress progress;
    bool elsewhere = false;  // another window runs it
    bool fileGone = false;   // finished, but its file was deleted or moved outside the program

    DownloadRow(const history::Entry &e = {}, const DownloadProgress &p = {}, bool other = false);
    // Looks again whether the finished row's file is there.
    void checkFile();
};

class DownloadRows : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int PageRows = 200;

    DownloadRows(history::Store &store, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool canFetchMore(const QModelIndex &parent) const override;
    void fetchMore(const QModelIndex &parent) override;

    // At most this many rows of history are read (the setting).
    void setShownAtMost(int rows) { shownAtMost_ = rows; }
    // Reads the history again from its start.
    void reload();
    // Follows the history as another window changed it: the rows loaded are read again and
    // matched by id (gone ones leave, new ones come in their place, changed ones change),
    // the rows the history does not keep stay, and the view keeps its place.
    void refresh();
    // The rows another window ran, asked again: those it let go (it quit) are read again.
    void refreshElsewhere();
    // A row added to the history: shown at the top.
    void added(const history::Entry &entry);
    // A row's entry changed in the history (state, file, size...).
    void changed(const history::Entry &entry);
    void progressed(qint64 id, const DownloadProgress &progress);
    void removed(qint64 id);
    void setElsewhere(qint64 id, bool elsewhere);
    // Looks again whether the finished rows' files are there (a file deleted or moved
    // outside the program).
    void checkFiles();
    const DownloadRow *row(qint64 id) const;
    // The place of a row in this model, -1 when it is not loaded.
    int rowOf(qint64 id) const { return indexOf(id); }
    // The row at a place of this model (not of a filter over it).
    const DownloadRow *at(int row) const { return row >= 0 && row < int(rows_.size()) ? &rows_[size_t(row)] : nullptr; }

private:
    int indexOf(qint64 id) const;

    history::Store &store_;
    std::vector<DownloadRow> rows_;
    int shownAtMost_ = 10000;
    bool allRead_ = false;
};

// The filter box and "只看失败": rows whose description, author, file name, share address or
// video link holds the text.
class DownloadFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    void setText(const QString &text);
    void setOnlyFailed(bool on);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QString text_;
    bool onlyFailed_ = false;
};

// The state in the list's words: 等待中, 下载中, 已暂停 (with how far it got), 已完成 (or
// 文件已不在), 失败: reason, 已取消.
QString stateText(const DownloadRow &row);

// What a row is called: its description, else its file's name, else its share address (an
// address that could not be extracted).
QString rowTitle(const DownloadRow &row);

// What a screen reader reads for a row: title, state and, while it runs, how far.
QString accessibleText(const DownloadRow &row);

// The format of a finished row's file as a badge ("MP4", "FLV", "MP3", "M4A"); empty otherwise.
QString formatBadge(const DownloadRow &row);

// The media files a row holds: its file, then the files it was made from and kept (a
// conversion's original), those still there.
QStringList rowMediaFiles(const DownloadRow &row);

// True for a file name a video or its sound is saved under.
bool isMediaFile(const QString &path);
