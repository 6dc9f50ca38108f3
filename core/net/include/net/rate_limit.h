// One budget of bytes a second shared by every download of the program (kept by the network
// policy, net/network_policy.h): all connections of
// all downloads together stay under it on average. Readers take what they may read now and,
// when nothing is left, wait the time it takes to come back; an answer not read stays in the
// connection's small buffer, so the server's sending slows down with our reading.
#pragma once

#include <QString>

class QTimer;

namespace fetch {

// Bytes a second; 0 or less for no limit.
void setRateLimit(qint64 bytesPerSecond);
qint64 rateLimit();

// How many of want bytes may be read now (all of them when there is no limit).
qint64 takeBytes(qint64 want);
// How long until some bytes may be read again, in milliseconds (at least 1).
int msUntilMoreBytes();
// takeBytes, and when nothing may be read now, wait started (unless it runs) for the time
// until more may: its timeout is the reader's cue to read on.
qint64 takeBytesOrWait(qint64 want, QTimer &wait);
class NetworkPolicy;
// The same under a given policy.
qint64 takeBytesOrWait(NetworkPolicy &policy, qint64 want, QTimer &wait);

// A rate as people write it: "500K", "2M", "1.5m", "300000" (bytes); K and M are 1024 and
// 1024², a trailing "B" or "/s" is allowed. -1 when it is not a rate.
qint64 parseRate(const QString &text);

}  // namespace fetch
