#include "net/host_slots.h"

#include "net/network_policy.h"

namespace fetch {

void wantHostSlot(const QString &host, bool wanting)
{
    policy().wantHostSlot(host, wanting);
}

bool hostSlotWanted(const QString &host)
{
    return policy().hostSlotWanted(host);
}

void setConnectionsPerHost(int connections)
{
    NetworkPolicy::Choice choice = policy().choice();
    choice.connectionsPerHost = connections;
    policy().apply(choice);
}

int connectionsPerHost()
{
    return policy().choice().connectionsPerHost;
}

QString hostKey(const QUrl &url)
{
    return url.host().toLower() + u':' + QString::number(url.port(url.scheme() == u"https" ? 443 : 80));
}

bool takeHostSlot(const QString &host)
{
    return policy().takeHostSlot(host);
}

void giveHostSlot(const QString &host)
{
    policy().giveHostSlot(host);
}

}  // namespace fetch
