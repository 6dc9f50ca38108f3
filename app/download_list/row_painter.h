// Paints one row of the download list: the cover thumbnail, the description (or the file
// name), author and service, size, and the state; a progress bar with rate and time left
// while it runs. Page texts are drawn as plain text, elided to the row.
#pragma once

#include <QCache>
#include <QPixmap>
#include <QStyledItemDelegate>

class DownloadRows;
class Thumbnails;
class QSortFilterProxyModel;

class RowPainter : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int RowHeight = 64;
    // rows: the model under the filter the view shows.
    RowPainter(const DownloadRows *rows, const Thumbnails *covers, const QSortFilterProxyModel *filter, QObject *parent)
        : QStyledItemDelegate(parent), rows_(rows), covers_(covers), filter_(filter)
    {
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QPixmap thumbnail(qint64 id) const;

    const DownloadRows *rows_;
    const Thumbnails *covers_;
    const QSortFilterProxyModel *filter_;
    mutable QCache<qint64, QPixmap> thumbnails_ {200};
};
