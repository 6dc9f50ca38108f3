#include "net/transfer_watch.h"

#include "net/fetch.h"
#include "net/network_policy.h"

#include <QNetworkReply>

namespace fetch {

void setTimeout(int ms)
{
    NetworkPolicy::Limits limits = policy().limits();
    limits.stallMs = ms;
    policy().setLimits(limits);
}

int timeout()
{
    return policy().limits().stallMs;
}

void setDeadline(int ms)
{
    NetworkPolicy::Limits limits = policy().limits();
    limits.deadlineMs = ms;
    policy().setLimits(limits);
}

int deadline()
{
    return policy().limits().deadlineMs;
}

void setLowSpeed(qint64 bytesPerSecond, int seconds)
{
    NetworkPolicy::Limits limits = policy().limits();
    limits.lowSpeedBytes = bytesPerSecond;
    limits.lowSpeedSeconds = seconds;
    policy().setLimits(limits);
}

qint64 lowSpeedBytes()
{
    return policy().limits().lowSpeedBytes;
}

int lowSpeedSeconds()
{
    return policy().limits().lowSpeedSeconds;
}

QNetworkRequest makeRequest(const QUrl &url, RequestKind kind)
{
    QNetworkRequest request(url);
    // Every hop is checked (web addresses only, at most MaxRedirects) before it is taken.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // HTTP/1.1 only. The completeness checks rest on HTTP/1.1 framing (Content-Length against
    // the bytes received, a connection closed before the end); Qt would take HTTP/2 only over
    // TLS, where none of that can be tried on loopback, so one framing is the one we test.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    if (kind == RequestKind::Page)
        request.setRawHeader("If-Modified-Since", "0");
    else
        request.setRawHeader("Accept-Encoding", "identity");
    for (const auto &[name, value] : policy().extraHeadersFor(url))
        request.setRawHeader(name, value);
    return request;
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

Hop redirectHop(const QNetworkReply *reply, int &redirects)
{
    Hop hop;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray location = reply->rawHeader("Location");
    if (!isRedirect(status) || location.isEmpty())
        return hop;
    hop.next = reply->url().resolved(QUrl::fromEncoded(location));
    if (++redirects > MaxRedirects)
        hop.kind = Hop::TooMany;
    else if (!isWebUrl(hop.next))
        hop.kind = Hop::NotWeb;
    else
        hop.kind = Hop::Follow;
    return hop;
}

TransferWatch::TransferWatch(std::function<void(Reason)> onStop) : onStop_(std::move(onStop))
{
    stall_.setSingleShot(true);
    connect(&stall_, &QTimer::timeout, this, [this] {
        stop();
        onStop_(StoppedStalled);
    });
    connect(&speed_, &QTimer::timeout, this, &TransferWatch::sample);
}

void TransferWatch::start()
{
    // The limits as they are when the transfer starts, kept for its life.
    limits_ = policy().limits();
    stall_.start(limits_.stallMs);
    if (!speed_.isActive()) {
        clock_.start();
        windowStartMs_ = 0;
        windowBytes_ = bytes_ = 0;
        // A few looks per window: a slow transfer is ended soon after its window closes.
        speed_.start(qBound(50, limits_.lowSpeedSeconds * 250, 1000));
    }
}

void TransferWatch::activity(qint64 bytes)
{
    bytes_ = bytes;
    stall_.start(limits_.stallMs);
}

void TransferWatch::stop()
{
    stall_.stop();
    speed_.stop();
}

void TransferWatch::sample()
{
    const qint64 now = clock_.elapsed();
    const qint64 span = qint64(limits_.lowSpeedSeconds) * 1000;
    if (now - windowStartMs_ < span)
        return;
    if (bytes_ - windowBytes_ < limits_.lowSpeedBytes * limits_.lowSpeedSeconds) {
        stop();
        onStop_(StoppedSlow);
        return;
    }
    windowStartMs_ = now;
    windowBytes_ = bytes_;
}

}  // namespace fetch
