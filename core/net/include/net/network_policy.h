// The program's one network policy: the proxy the user chose, the rate limit every download
// shares, the connections per host with the slots taken and wanted, the limits of a transfer
// (stall, deadline, low speed), and the requests that brought nothing new. It is the only
// state of the network room: made once, at the program's start (fetch::policy()), asked by
// every thread's network manager for each request's proxy and handed to every download for
// its bytes and connections. The settings change it through one call, apply(). One mutex
// guards it: the managers and downloads of several threads ask.
#pragma once

#include "net/host_slots.h"
#include "net/request_extras.h"
#include "net/transfer_watch.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QNetworkProxy>
#include <QString>
#include <QUrl>
#include <atomic>
#include <deque>
#include <optional>

namespace fetch {

class NetworkPolicy {
public:
    // What the user chooses (the window's list settings, the command line's options).
    struct Choice {
        std::optional<QString> proxy;  // no value: the environment's; an empty text: none
        qint64 rateLimit = 0;          // bytes a second for all downloads together; 0: none
        int connectionsPerHost = DefaultConnectionsPerHost;
    };
    // The limits of one transfer; 0 or less in a field puts back its default.
    using Limits = TransferLimits;

    // The proxy a settings field asks for: empty for the environment's (no value), "无" or
    // "none" for none (""), else the address as written.
    static std::optional<QString> proxyField(const QString &field);

    NetworkPolicy();
    NetworkPolicy(const NetworkPolicy &) = delete;
    NetworkPolicy &operator=(const NetworkPolicy &) = delete;

    // The one call that changes what the user chose; takes effect for the next connection and
    // the next read.
    void apply(const Choice &choice);
    Choice choice() const;
    void setLimits(const Limits &limits);
    Limits limits() const;

    // What every request carries beside its own headers (a script's User-Agent, Referer,
    // headers and cookies); the headers for one request address.
    void setRequestExtras(const RequestExtras &extras);
    QList<QPair<QByteArray, QByteArray>> extraHeadersFor(const QUrl &url) const;

    // The proxy for one request address under the choice; NoProxy when it goes direct.
    QNetworkProxy proxyFor(const QUrl &url) const;

    // The rate limit: how many of want bytes may be read now, and how long until more may.
    qint64 takeBytes(qint64 want);
    int msUntilMoreBytes() const;

    // A host's connection slots (hostKey): a download takes one for its first connection,
    // its ranges more while free; a download waiting for one says so.
    bool takeHostSlot(const QString &host);
    void giveHostSlot(const QString &host);
    void wantHostSlot(const QString &host, bool wanting);
    bool hostSlotWanted(const QString &host) const;

    // Requests that brought nothing new: at most MostFruitlessPerMinute in any minute.
    void noteFruitlessRequest();
    int msUntilFruitlessAllowed();
    void forgetFruitlessRequests();

private:
    mutable QMutex mutex_;
    Choice choice_;
    Limits limits_;
    RequestExtras extras_;
    std::atomic<qint64> rate_ {0};  // read without the lock: no limit costs nothing per read
    double tokens_ = 0;
    QElapsedTimer bucketClock_;
    QHash<QString, int> taken_;
    QHash<QString, int> wanted_;
    QElapsedTimer clock_;
    std::deque<qint64> fruitless_;  // when each fruitless request of the last minute ended
};

// The program's policy, made at its first use (the program's start).
NetworkPolicy &policy();

// The proxy for url under a choice: the rule of net/proxy.h.
QNetworkProxy proxyUnder(const std::optional<QString> &choice, const QUrl &url);

}  // namespace fetch
