#include "net/rate_limit.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>

namespace fetch {

namespace {

// A token bucket. Its depth is a tenth of a second's worth (at least 16 KiB), so a burst
// after a pause stays small and the average holds over any second.
struct Bucket {
    qint64 rate = 0;
    double tokens = 0;
    QElapsedTimer clock;

    double depth() const { return std::max(double(rate) / 10, 16384.0); }
    void refill()
    {
        if (!clock.isValid()) {
            clock.start();
            tokens = 0;
            return;
        }
        const qint64 ns = clock.nsecsElapsed();
        clock.restart();
        tokens = std::min(depth(), tokens + double(rate) * double(ns) / 1e9);
    }
};

Bucket &bucket()
{
    static Bucket b;  // read and changed on the thread that downloads
    return b;
}

}  // namespace

void setRateLimit(qint64 bytesPerSecond)
{
    Bucket &b = bucket();
    b.rate = std::max<qint64>(0, bytesPerSecond);
    b.tokens = 0;
    b.clock.invalidate();
}

qint64 rateLimit()
{
    return bucket().rate;
}

qint64 takeBytes(qint64 want)
{
    Bucket &b = bucket();
    if (b.rate <= 0 || want <= 0)
        return want;
    b.refill();
    const qint64 granted = std::min(want, qint64(b.tokens));
    b.tokens -= double(granted);
    return granted;
}

int msUntilMoreBytes()
{
    const Bucket &b = bucket();
    if (b.rate <= 0)
        return 1;
    // Enough for a useful read (4 KiB or a fiftieth of a second), not a byte at a time.
    const double need = std::max(4096.0, double(b.rate) / 50) - b.tokens;
    return std::clamp(int(need * 1000 / double(b.rate)) + 1, 1, 1000);
}

qint64 takeBytesOrWait(qint64 want, QTimer &wait)
{
    const qint64 allowed = takeBytes(want);
    if (allowed <= 0 && !wait.isActive())
        wait.start(msUntilMoreBytes());
    return allowed;
}

qint64 parseRate(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(R"(^\s*(\d+(?:\.\d+)?)\s*([kKmMgG]?)(?:[bB])?(?:/s)?\s*$)"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return -1;
    double value = m.captured(1).toDouble();
    const QChar unit = m.captured(2).isEmpty() ? QChar() : m.captured(2).at(0).toLower();
    if (unit == u'k')
        value *= 1024;
    else if (unit == u'm')
        value *= 1024.0 * 1024;
    else if (unit == u'g')
        value *= 1024.0 * 1024 * 1024;
    if (value < 1 || value > 1e15)
        return -1;
    return qint64(value);
}

}  // namespace fetch
