#include "net/host_slots.h"

#include <QHash>
#include <algorithm>

namespace fetch {

namespace {

int perHost = DefaultConnectionsPerHost;

QHash<QString, int> &taken()
{
    static QHash<QString, int> counts;  // used on the thread that downloads
    return counts;
}

QHash<QString, int> &wanted()
{
    static QHash<QString, int> counts;
    return counts;
}

}  // namespace

void wantHostSlot(const QString &host, bool wanting)
{
    int &count = wanted()[host];
    count = qMax(0, count + (wanting ? 1 : -1));
    if (count == 0)
        wanted().remove(host);
}

bool hostSlotWanted(const QString &host)
{
    return wanted().value(host) > 0;
}

void setConnectionsPerHost(int connections)
{
    perHost = std::clamp(connections, 1, MostConnectionsPerHost);
}

int connectionsPerHost()
{
    return perHost;
}

QString hostKey(const QUrl &url)
{
    return url.host().toLower() + u':' + QString::number(url.port(url.scheme() == u"https" ? 443 : 80));
}

bool takeHostSlot(const QString &host)
{
    int &count = taken()[host];
    if (count >= perHost)
        return false;
    ++count;
    return true;
}

void giveHostSlot(const QString &host)
{
    auto it = taken().find(host);
    if (it == taken().end())
        return;
    if (--it.value() <= 0)
        taken().erase(it);
}

int hostSlotsTaken(const QString &host)
{
    return taken().value(host);
}

}  // namespace fetch
