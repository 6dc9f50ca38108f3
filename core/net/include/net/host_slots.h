// How many connections of ours one host may have open at once, across all downloads of the
// program (the download list's queue included). A download holds a slot for each of its
// connections: the first one waits for a free slot (tried again on a timer), further ones are
// opened only while slots are free.
#pragma once

#include <QString>
#include <QUrl>

namespace fetch {

inline constexpr int MostConnectionsPerHost = 6;  // Qt runs at most six requests per host and port
inline constexpr int DefaultConnectionsPerHost = 4;

// 1..MostConnectionsPerHost; values outside are brought inside.
void setConnectionsPerHost(int connections);
int connectionsPerHost();

// The slot key of an address: its host and port.
QString hostKey(const QUrl &url);

// Takes a slot of host when one is free.
bool takeHostSlot(const QString &host);
void giveHostSlot(const QString &host);

// A download waiting for a slot of host says so; one that holds several of its slots gives
// one back, so that a batch of videos from one host does not wait behind one large file.
void wantHostSlot(const QString &host, bool wanting);
bool hostSlotWanted(const QString &host);

}  // namespace fetch
