#include "textcuts.h"

namespace cuts {

std::optional<QString> piece1(const QString &t, const QString &marker)
{
    if (t.isEmpty() || marker.isEmpty())
        return std::nullopt;
    const qsizetype first = t.indexOf(marker);
    if (first < 0)
        return std::nullopt;
    const qsizetype start = first + marker.size();
    const qsizetype second = t.indexOf(marker, start);
    if (second < 0)
        return t.mid(start);
    return t.mid(start, second - start);
}

QString cutAt(const QString &s, const QString &stop)
{
    const qsizetype at = stop.isEmpty() ? -1 : s.indexOf(stop);
    return at < 0 ? QString() : s.left(at);
}

std::optional<QString> restFrom(const QString &s, const QString &c)
{
    const qsizetype at = c.isEmpty() ? -1 : s.indexOf(c);
    if (at < 0)
        return std::nullopt;
    return s.mid(at);
}

QString upToPosition(const QString &s, const QString &c)
{
    const qsizetype at = c.isEmpty() ? -1 : s.indexOf(c);
    return at < 0 ? QString() : s.left(at + 1);
}

QString trimmedSpaces(const QString &s)
{
    qsizetype begin = 0;
    qsizetype end = s.size();
    while (begin < end && s.at(begin) == u' ')
        ++begin;
    while (end > begin && s.at(end - 1) == u' ')
        --end;
    return s.mid(begin, end - begin);
}

QString removeAll(QString s, const QString &what)
{
    if (!what.isEmpty())
        s.remove(what, Qt::CaseSensitive);
    return s;
}

QString leftUnits(const QString &s, int n)
{
    if (n <= 0)
        return QString();
    if (s.size() <= n)
        return s;
    qsizetype cut = n;
    if (s.at(cut - 1).isHighSurrogate() && s.at(cut).isLowSurrogate())
        --cut;
    return s.left(cut);
}

QString displayCut(const QString &s, int n)
{
    if (s.size() <= n)
        return s;
    return leftUnits(s, n) + QStringLiteral("..");
}

}  // namespace cuts
