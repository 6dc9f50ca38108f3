// The rows of an author's works window: each work as the listing told it, whether the history
// holds it as saved, whether it is chosen, and its cover while its row is near the view.
#pragma once

#include "extract/author_listing.h"

#include <QAbstractListModel>
#include <QDate>
#include <QImage>
#include <functional>

class WorksModel : public QAbstractListModel {
    Q_OBJECT
public:
    // At most this many covers are kept: those of the rows farthest from the view go first.
    static constexpr int MostCovers = 240;
    static constexpr int CoverSize = 64;

    explicit WorksModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // New works at the end; saved tells whether the history holds one as saved. A new work
    // is chosen unless saved.
    void append(const QList<ListedWork> &works, const std::function<bool(const QString &id)> &saved);
    void clear();
    const ListedWork &work(int row) const { return rows_[row].work; }
    bool saved(int row) const { return rows_[row].saved; }

    // The rows among first..last (the view's) whose covers are neither there nor asked for,
    // at most n; each is marked asked.
    QList<int> coversToAsk(int first, int last, int n);
    // A cover arrived (scaled here); the covers farthest from first..last are let go past MostCovers.
    void setCover(int row, const QImage &cover, int first, int last);
    int coversHeld() const { return covers_; }

    void chooseAll(bool chosen);
    void chooseNew();
    // The works of the days from..to (both included; an invalid day: no bound there); a work
    // whose day is not known is left as it is.
    void chooseDays(const QDate &from, const QDate &to);
    int chosenCount() const { return chosen_; }
    QList<ListedWork> chosenWorks() const;
    int newCount() const;
    // The days of the works listed (earliest, latest); invalid when none is known.
    std::pair<QDate, QDate> dayRange() const;

    // What a screen reader says of a row: "描述, 日期, 已下载".
    QString spoken(int row) const;

signals:
    void chosenChanged(int count);

private:
    struct Row {
        ListedWork work;
        QDate day;
        bool saved = false;
        bool chosen = false;
        bool asked = false;
        QImage cover;
    };
    void setChosen(int row, bool chosen);
    QList<Row> rows_;
    int chosen_ = 0;
    int covers_ = 0;
};
