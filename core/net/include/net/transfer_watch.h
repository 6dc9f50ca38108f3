// What page fetches and video downloads share: the limits, the request, the redirect step
// and the watch that ends a transfer that stalls or crawls.
#pragma once

#include <QElapsedTimer>
#include <QNetworkRequest>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <functional>

class QNetworkReply;

namespace fetch {

inline constexpr int MaxRedirects = 10;
inline constexpr int DefaultStallMs = 30000;
inline constexpr int DefaultDeadlineMs = 90000;
// A transfer that brings fewer than LowSpeedBytes a second, averaged over LowSpeedSeconds,
// is given up (a server feeding one byte every few seconds never trips the stall timeout).
inline constexpr qint64 DefaultLowSpeedBytes = 1024;
inline constexpr int DefaultLowSpeedSeconds = 60;

// The limits of one transfer, as the network policy holds them (net/network_policy.h).
struct TransferLimits {
    int stallMs = DefaultStallMs;
    int deadlineMs = DefaultDeadlineMs;
    qint64 lowSpeedBytes = DefaultLowSpeedBytes;
    int lowSpeedSeconds = DefaultLowSpeedSeconds;
};

// Wait for connecting and for a stalled transfer, in milliseconds (default 30 s).
void setTimeout(int ms);
int timeout();

// Longest time one page fetch may take in all, redirects included (default 90 s). Downloads
// have no deadline: a large video takes as long as it takes, the low-speed limit bounds it.
void setDeadline(int ms);
int deadline();

// The low-speed limit; values <= 0 restore the defaults.
void setLowSpeed(qint64 bytesPerSecond, int seconds);
qint64 lowSpeedBytes();
int lowSpeedSeconds();

enum class RequestKind {
    Page,  // pages, interface answers, pictures: "If-Modified-Since: 0", any content coding
    File,  // videos: stored as they come, so no content coding is asked for
};

// The one request builder: the headers for kind, redirects followed by hand (each hop is
// checked before it is taken) and HTTP/1.1 only.
QNetworkRequest makeRequest(const QUrl &url, RequestKind kind);

bool isRedirect(int status);

// The redirect step for an answer that ended: where to go next, or why not.
struct Hop {
    enum Kind { None, Follow, TooMany, NotWeb } kind = None;
    QUrl next;
};
// None when the answer is not a redirect with a Location; counts the hop in redirects.
Hop redirectHop(const QNetworkReply *reply, int &redirects);

// Watches one transfer: call activity() whenever bytes or headers arrive. Calls onStop with
// StoppedStalled when nothing arrived for timeout(), with StoppedSlow when fewer bytes than
// the low-speed limit arrived over its time span.
class TransferWatch : public QObject {
public:
    enum Reason { StoppedStalled, StoppedSlow };
    explicit TransferWatch(std::function<void(Reason)> onStop);

    void start();                 // a new hop: the stall wait begins
    void activity(qint64 bytes);  // bytes: all bytes received so far in this transfer
    void stop();

private:
    void sample();

    std::function<void(Reason)> onStop_;
    QTimer stall_;
    QTimer speed_;
    QElapsedTimer clock_;
    qint64 bytes_ = 0;
    TransferLimits limits_;
    qint64 windowBytes_ = 0;  // bytes at the start of the current low-speed window
    qint64 windowStartMs_ = 0;
};

}  // namespace fetch
