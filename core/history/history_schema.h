// The history's schema: each version's statements, and the columns of the downloads table
// and of the followed authors with how a row goes in and comes out. Used by the store only.
#pragma once

#include "history/history_store.h"

#include <QList>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

namespace history {

// Each schema version's statements, the first version first: a database of version n runs
// those after n, in one transaction.
const QList<QStringList> &migrations();

// The columns' names but the id, each followed by suffix, joined by commas ("site, video_id",
// "site = ?, video_id = ?").
QString columnList(const QString &suffix = QString());
// How many columns columnList names.
qsizetype columnCount();
// What a SELECT of whole entries asks for: the id, then columnList().
QString selectEntries();
// A row of selectEntries().
Entry entryOf(const QSqlQuery &q);
// Binds an entry's columns in columnList()'s order.
void bindEntry(QSqlQuery &q, const Entry &e);

// The followed authors' columns, in the order followedOf reads and bindFollowed binds them.
QString followedColumns();
FollowedAuthor followedOf(const QSqlQuery &q);
void bindFollowed(QSqlQuery &q, const FollowedAuthor &a);

}  // namespace history
