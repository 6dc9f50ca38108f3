#include "works_model.h"

#include "download/output_template.h"

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <algorithm>

namespace {

QDate dayOf(const QString &date)
{
    return QDate::fromString(outtmpl::uploadDate(date), QStringLiteral("yyyyMMdd"));
}

// The description as one line of plain text, for the row and the screen reader.
QString shownDescription(const QString &description)
{
    QString text = description.simplified();
    if (text.size() > 200)
        text = text.left(200) + QStringLiteral("…");
    return text.isEmpty() ? QStringLiteral("(无描述)") : text;
}

QPixmap placeholder()
{
    static const QPixmap empty = [] {
        QPixmap p(WorksModel::CoverSize, WorksModel::CoverSize);
        p.fill(QColor(0xdd, 0xdd, 0xdd));
        return p;
    }();
    return empty;
}

}  // namespace

WorksModel::WorksModel(QObject *parent) : QAbstractListModel(parent) {}

int WorksModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

QVariant WorksModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size())
        return {};
    const Row &r = rows_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return QString(shownDescription(r.work.description) + u'\n' + r.work.date +
            (r.saved ? QStringLiteral("    已下载") : QString()));
    case Qt::ToolTipRole: return r.work.description.left(1000);
    case Qt::CheckStateRole: return r.chosen ? Qt::Checked : Qt::Unchecked;
    case Qt::DecorationRole:
        if (!r.cover.isNull())
            return QPixmap::fromImage(r.cover);
        // The cover's room kept while it loads: every row is as tall as one with its cover.
        return placeholder();
    case Qt::AccessibleTextRole: return spoken(index.row());
    default: return {};
    }
}

bool WorksModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || role != Qt::CheckStateRole)
        return false;
    setChosen(index.row(), value.toInt() == Qt::Checked);
    emit chosenChanged(chosen_);
    return true;
}

Qt::ItemFlags WorksModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable : Qt::NoItemFlags;
}

void WorksModel::append(const QList<ListedWork> &works, const std::function<bool(const QString &id)> &saved)
{
    if (works.isEmpty())
        return;
    beginInsertRows(QModelIndex(), int(rows_.size()), int(rows_.size() + works.size() - 1));
    for (const ListedWork &w : works) {
        Row r;
        r.work = w;
        r.day = dayOf(w.date);
        r.saved = saved && saved(w.id);
        r.chosen = !r.saved;
        chosen_ += r.chosen ? 1 : 0;
        rows_.append(r);
    }
    endInsertRows();
    emit chosenChanged(chosen_);
}

void WorksModel::clear()
{
    beginResetModel();
    rows_.clear();
    chosen_ = 0;
    covers_ = 0;
    endResetModel();
    emit chosenChanged(0);
}

QList<int> WorksModel::coversToAsk(int first, int last, int n)
{
    QList<int> out;
    for (int row = qMax(0, first); row <= last && row < rows_.size() && out.size() < n; ++row) {
        Row &r = rows_[row];
        if (r.asked || r.work.cover.isEmpty())
            continue;
        r.asked = true;
        out.append(row);
    }
    return out;
}

void WorksModel::setCover(int row, const QImage &cover, int first, int last)
{
    if (row < 0 || row >= rows_.size() || cover.isNull())
        return;
    Row &r = rows_[row];
    if (r.cover.isNull())
        ++covers_;
    r.cover = cover.scaled(CoverSize, CoverSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    const QModelIndex at = index(row);
    emit dataChanged(at, at, {Qt::DecorationRole});
    // Past the bound, the covers farthest from the view are let go; asked again when near.
    for (int distance = int(rows_.size()); covers_ > MostCovers && distance > 0; --distance) {
        for (int far : {first - distance, last + distance}) {
            if (far < 0 || far >= rows_.size() || rows_[far].cover.isNull() || covers_ <= MostCovers)
                continue;
            rows_[far].cover = QImage();
            rows_[far].asked = false;
            --covers_;
        }
    }
}

void WorksModel::setChosen(int row, bool chosen)
{
    Row &r = rows_[row];
    if (r.chosen == chosen)
        return;
    r.chosen = chosen;
    chosen_ += chosen ? 1 : -1;
    const QModelIndex at = index(row);
    emit dataChanged(at, at, {Qt::CheckStateRole});
}

void WorksModel::chooseAll(bool chosen)
{
    for (int row = 0; row < rows_.size(); ++row)
        setChosen(row, chosen);
    emit chosenChanged(chosen_);
}

void WorksModel::chooseNew()
{
    for (int row = 0; row < rows_.size(); ++row)
        setChosen(row, !rows_[row].saved);
    emit chosenChanged(chosen_);
}

void WorksModel::chooseDays(const QDate &from, const QDate &to)
{
    for (int row = 0; row < rows_.size(); ++row) {
        const QDate day = rows_[row].day;
        if (day.isValid())
            setChosen(row, (!from.isValid() || day >= from) && (!to.isValid() || day <= to));
    }
    emit chosenChanged(chosen_);
}

QList<ListedWork> WorksModel::chosenWorks() const
{
    QList<ListedWork> out;
    for (const Row &r : rows_) {
        if (r.chosen)
            out.append(r.work);
    }
    return out;
}

int WorksModel::newCount() const
{
    return int(std::count_if(rows_.cbegin(), rows_.cend(), [](const Row &r) { return !r.saved; }));
}

std::pair<QDate, QDate> WorksModel::dayRange() const
{
    QDate earliest;
    QDate latest;
    for (const Row &r : rows_) {
        if (!r.day.isValid())
            continue;
        if (!earliest.isValid() || r.day < earliest)
            earliest = r.day;
        if (!latest.isValid() || r.day > latest)
            latest = r.day;
    }
    return {earliest, latest};
}

QString WorksModel::spoken(int row) const
{
    const Row &r = rows_[row];
    QStringList parts {shownDescription(r.work.description)};
    if (!r.work.date.isEmpty())
        parts << r.work.date;
    if (r.saved)
        parts << QStringLiteral("已下载");
    return parts.join(QStringLiteral(", "));
}
