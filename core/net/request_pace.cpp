#include "net/request_pace.h"

#include <QElapsedTimer>
#include <QMutex>
#include <deque>

namespace fetch {

namespace {

constexpr qint64 MinuteMs = 60 * 1000;

struct Noted {
    QMutex mutex;
    QElapsedTimer clock;
    std::deque<qint64> times;  // when each fruitless request of the last minute ended

    void forgetOld(qint64 now)
    {
        while (!times.empty() && now - times.front() >= MinuteMs)
            times.pop_front();
    }
};

Noted &noted()
{
    static Noted n;
    if (!n.clock.isValid())
        n.clock.start();
    return n;
}

}  // namespace

int fruitlessPauseMs(int inRow)
{
    return 1000 << qBound(0, inRow - 1, 6);
}

void noteFruitlessRequest()
{
    Noted &n = noted();
    const QMutexLocker lock(&n.mutex);
    const qint64 now = n.clock.elapsed();
    n.forgetOld(now);
    n.times.push_back(now);
}

int msUntilFruitlessAllowed()
{
    Noted &n = noted();
    const QMutexLocker lock(&n.mutex);
    const qint64 now = n.clock.elapsed();
    n.forgetOld(now);
    if (qsizetype(n.times.size()) < MostFruitlessPerMinute)
        return 0;
    return int(n.times[n.times.size() - MostFruitlessPerMinute] + MinuteMs - now) + 1;
}

void forgetFruitlessRequests()
{
    Noted &n = noted();
    const QMutexLocker lock(&n.mutex);
    n.times.clear();
}

}  // namespace fetch
