#include "net/rate_limit.h"

#include "net/network_policy.h"

#include <QRegularExpression>
#include <QTimer>
#include <algorithm>

namespace fetch {

void setRateLimit(qint64 bytesPerSecond)
{
    NetworkPolicy::Choice choice = policy().choice();
    choice.rateLimit = bytesPerSecond;
    policy().apply(choice);
}

qint64 rateLimit()
{
    return policy().choice().rateLimit;
}

qint64 takeBytes(qint64 want)
{
    return policy().takeBytes(want);
}

int msUntilMoreBytes()
{
    return policy().msUntilMoreBytes();
}

qint64 takeBytesOrWait(qint64 want, QTimer &wait)
{
    return takeBytesOrWait(policy(), want, wait);
}

qint64 takeBytesOrWait(NetworkPolicy &policy, qint64 want, QTimer &wait)
{
    const qint64 allowed = policy.takeBytes(want);
    if (allowed <= 0 && !wait.isActive())
        wait.start(policy.msUntilMoreBytes());
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
