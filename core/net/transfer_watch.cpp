#include "net/transfer_watch.h"

#include "net/fetch.h"

#include <QNetworkReply>

namespace fetch {

namespace {

int g_stallMs = DefaultStallMs;
int g_deadlineMs = DefaultDeadlineMs;
qint64 g_lowSpeedBytes = DefaultLowSpeedBytes;
int g_lowSpeedSeconds = DefaultLowSpeedSeconds;

}  // namespace

void setTimeout(int ms)
{
    g_stallMs = ms > 0 ? ms : DefaultStallMs;
}

int timeout()
{
    return g_stallMs;
}

void setDeadline(int ms)
{
    g_deadlineMs = ms > 0 ? ms : DefaultDeadlineMs;
}

int deadline()
{
    return g_deadlineMs;
}

void setLowSpeed(qint64 bytesPerSecond, int seconds)
{
    g_lowSpeedBytes = bytesPerSecond > 0 ? bytesPerSecond : DefaultLowSpeedBytes;
    g_lowSpeedSeconds = seconds > 0 ? seconds : DefaultLowSpeedSeconds;
}

qint64 lowSpeedBytes()
{
    return g_lowSpeedBytes;
}

int lowSpeedSeconds()
{
    return g_lowSpeedSeconds;
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
    stall_.start(g_stallMs);
    if (!speed_.isActive()) {
        clock_.start();
        windowStartMs_ = 0;
        windowBytes_ = bytes_ = 0;
        // A few looks per window: a slow transfer is ended soon after its window closes.
        speed_.start(qBound(50, g_lowSpeedSeconds * 250, 1000));
    }
}

void TransferWatch::activity(qint64 bytes)
{
    bytes_ = bytes;
    stall_.start(g_stallMs);
}

void TransferWatch::stop()
{
    stall_.stop();
    speed_.stop();
}

void TransferWatch::sample()
{
    const qint64 now = clock_.elapsed();
    const qint64 span = qint64(g_lowSpeedSeconds) * 1000;
    if (now - windowStartMs_ < span)
        return;
    if (bytes_ - windowBytes_ < g_lowSpeedBytes * g_lowSpeedSeconds) {
        stop();
        onStop_(StoppedSlow);
        return;
    }
    windowStartMs_ = now;
    windowBytes_ = bytes_;
}

}  // namespace fetch
