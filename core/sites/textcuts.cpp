#include "textcuts.h"

#include <vector>

namespace cuts {

// Knuth-Morris-Pratt: time linear in the text whatever the marker. Qt's own search skips
// ahead by a table that a long marker of repeated characters defeats (time text x marker).
qsizetype find(QStringView s, QStringView m, qsizetype from)
{
    if (m.isEmpty() || from < 0 || from > s.size())
        return -1;
    if (m.size() <= 16)
        return s.indexOf(m, from);
    std::vector<qsizetype> border(size_t(m.size()), 0);
    for (qsizetype i = 1, k = 0; i < m.size(); ++i) {
        while (k > 0 && m[i] != m[k])
            k = border[size_t(k - 1)];
        if (m[i] == m[k])
            ++k;
        border[size_t(i)] = k;
    }
    for (qsizetype i = from, k = 0; i < s.size(); ++i) {
        while (k > 0 && s[i] != m[k])
            k = border[size_t(k - 1)];
        if (s[i] == m[k])
            ++k;
        if (k == m.size())
            return i - k + 1;
    }
    return -1;
}

QString replaceAll(const QString &s, const QString &what, const QString &by)
{
    qsizetype at = find(s, what, 0);
    if (at < 0)
        return s;
    QString out;
    qsizetype from = 0;
    for (; at >= 0; at = find(s, what, from)) {
        out += QStringView(s).mid(from, at - from);
        out += by;
        from = at + what.size();
    }
    out += QStringView(s).mid(from);
    return out;
}

qsizetype countOf(const QString &s, const QString &what)
{
    qsizetype n = 0;
    for (qsizetype at = find(s, what, 0); at >= 0; at = find(s, what, at + what.size()))
        ++n;
    return n;
}

std::optional<QString> piece1(const QString &t, const QString &marker)
{
    if (t.isEmpty() || marker.isEmpty())
        return std::nullopt;
    const qsizetype first = find(t, marker, 0);
    if (first < 0)
        return std::nullopt;
    const qsizetype start = first + marker.size();
    const qsizetype second = find(t, marker, start);
    if (second < 0)
        return t.mid(start);
    return t.mid(start, second - start);
}

QString cutAt(const QString &s, const QString &stop)
{
    const qsizetype at = find(s, stop, 0);
    return at < 0 ? QString() : s.left(at);
}

std::optional<QString> restFrom(const QString &s, const QString &c)
{
    const qsizetype at = find(s, c, 0);
    if (at < 0)
        return std::nullopt;
    return s.mid(at);
}

QString upToPosition(const QString &s, const QString &c)
{
    const qsizetype at = find(s, c, 0);
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
    return what.isEmpty() ? s : replaceAll(s, what, QString());
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
