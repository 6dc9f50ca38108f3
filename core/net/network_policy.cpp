#include "net/network_policy.h"

#include "net/request_pace.h"

#include <QMutexLocker>
#include <algorithm>

namespace fetch {

namespace {

constexpr qint64 MinuteMs = qint64(60) * 1000;

// The token bucket's depth: a tenth of a second's worth (at least 16 KiB), so a burst after a
// pause stays small and the average holds over any second.
double bucketDepth(qint64 rate)
{
    return std::max(double(rate) / 10, 16384.0);
}

}  // namespace

NetworkPolicy::NetworkPolicy()
{
    clock_.start();
}

std::optional<QString> NetworkPolicy::proxyField(const QString &field)
{
    const QString text = field.trimmed();
    if (text.isEmpty())
        return std::nullopt;  // the environment's
    if (text == u"无" || text.compare(u"none", Qt::CaseInsensitive) == 0)
        return QString();
    return text;
}

NetworkPolicy &policy()
{
    static NetworkPolicy one;
    return one;
}

void NetworkPolicy::apply(const Choice &choice)
{
    const QMutexLocker lock(&mutex_);
    choice_.proxy = choice.proxy ? std::optional<QString>(choice.proxy->trimmed()) : std::nullopt;
    choice_.connectionsPerHost = std::clamp(choice.connectionsPerHost, 1, MostConnectionsPerHost);
    choice_.rateLimit = std::max<qint64>(0, choice.rateLimit);
    if (choice_.rateLimit != rate_.load()) {
        rate_.store(choice_.rateLimit);
        tokens_ = 0;
        bucketClock_.invalidate();
    }
}

NetworkPolicy::Choice NetworkPolicy::choice() const
{
    const QMutexLocker lock(&mutex_);
    return choice_;
}

void NetworkPolicy::setLimits(const Limits &limits)
{
    const QMutexLocker lock(&mutex_);
    const Limits defaults;
    limits_.stallMs = limits.stallMs > 0 ? limits.stallMs : defaults.stallMs;
    limits_.deadlineMs = limits.deadlineMs > 0 ? limits.deadlineMs : defaults.deadlineMs;
    limits_.lowSpeedBytes = limits.lowSpeedBytes > 0 ? limits.lowSpeedBytes : defaults.lowSpeedBytes;
    limits_.lowSpeedSeconds = limits.lowSpeedSeconds > 0 ? limits.lowSpeedSeconds : defaults.lowSpeedSeconds;
}

NetworkPolicy::Limits NetworkPolicy::limits() const
{
    const QMutexLocker lock(&mutex_);
    return limits_;
}

QNetworkProxy NetworkPolicy::proxyFor(const QUrl &url) const
{
    std::optional<QString> chosen;
    {
        const QMutexLocker lock(&mutex_);
        chosen = choice_.proxy;
    }
    return proxyUnder(chosen, url);
}

qint64 NetworkPolicy::takeBytes(qint64 want)
{
    const qint64 rate = rate_.load(std::memory_order_relaxed);
    if (rate <= 0 || want <= 0)
        return want;
    const QMutexLocker lock(&mutex_);
    if (!bucketClock_.isValid()) {
        bucketClock_.start();
        tokens_ = 0;
    } else {
        const qint64 ns = bucketClock_.nsecsElapsed();
        bucketClock_.restart();
        tokens_ = std::min(bucketDepth(rate), tokens_ + double(rate) * double(ns) / 1e9);
    }
    const qint64 granted = std::min(want, qint64(tokens_));
    tokens_ -= double(granted);
    return granted;
}

int NetworkPolicy::msUntilMoreBytes() const
{
    const qint64 rate = rate_.load(std::memory_order_relaxed);
    if (rate <= 0)
        return 1;
    const QMutexLocker lock(&mutex_);
    // Enough for a useful read (4 KiB or a fiftieth of a second), not a byte at a time.
    const double need = std::max(4096.0, double(rate) / 50) - tokens_;
    return std::clamp(int(need * 1000 / double(rate)) + 1, 1, 1000);
}

bool NetworkPolicy::takeHostSlot(const QString &host)
{
    const QMutexLocker lock(&mutex_);
    int &count = taken_[host];
    if (count >= choice_.connectionsPerHost)
        return false;
    ++count;
    return true;
}

void NetworkPolicy::giveHostSlot(const QString &host)
{
    const QMutexLocker lock(&mutex_);
    auto it = taken_.find(host);
    if (it == taken_.end())
        return;
    if (--it.value() <= 0)
        taken_.erase(it);
}

void NetworkPolicy::wantHostSlot(const QString &host, bool wanting)
{
    const QMutexLocker lock(&mutex_);
    int &count = wanted_[host];
    count = qMax(0, count + (wanting ? 1 : -1));
    if (count == 0)
        wanted_.remove(host);
}

bool NetworkPolicy::hostSlotWanted(const QString &host) const
{
    const QMutexLocker lock(&mutex_);
    return wanted_.value(host) > 0;
}

void NetworkPolicy::noteFruitlessRequest()
{
    const QMutexLocker lock(&mutex_);
    const qint64 now = clock_.elapsed();
    while (!fruitless_.empty() && now - fruitless_.front() >= MinuteMs)
        fruitless_.pop_front();
    fruitless_.push_back(now);
}

int NetworkPolicy::msUntilFruitlessAllowed()
{
    const QMutexLocker lock(&mutex_);
    const qint64 now = clock_.elapsed();
    while (!fruitless_.empty() && now - fruitless_.front() >= MinuteMs)
        fruitless_.pop_front();
    if (qsizetype(fruitless_.size()) < MostFruitlessPerMinute)
        return 0;
    return int(fruitless_[fruitless_.size() - MostFruitlessPerMinute] + MinuteMs - now) + 1;
}

void NetworkPolicy::forgetFruitlessRequests()
{
    const QMutexLocker lock(&mutex_);
    fruitless_.clear();
}

}  // namespace fetch

namespace fetch {

void NetworkPolicy::setRequestExtras(const RequestExtras &extras)
{
    const QMutexLocker lock(&mutex_);
    extras_ = extras;
}

QList<QPair<QByteArray, QByteArray>> NetworkPolicy::extraHeadersFor(const QUrl &url) const
{
    const QMutexLocker lock(&mutex_);
    return headersFor(extras_, url);
}

}  // namespace fetch
