#include "sites/textcuts.h"

#include <algorithm>

#include <cstring>
#include <string.h>
#include <vector>

namespace cuts {

namespace {

// Knuth-Morris-Pratt, for the rare text that is not valid UTF-16 (a lone surrogate).
qsizetype findByTable(QStringView s, QStringView m, qsizetype from)
{
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

}  // namespace

// A short marker goes to Qt's own search (time text x marker at worst, a small factor). A
// long one could make that text x marker in earnest (a long run of one character), so both
// are searched as UTF-8 with the C library's memmem, whose two-way search is linear in the
// text whatever the marker; UTF-8 is self-synchronising, so a match never starts inside a
// character. The text is converted once for all the searches of one Finder.
Finder::Finder(QStringView s, QStringView marker) : s_(s), m_(marker)
{
    bytes_ = m_.size() > ShortMarker && s_.isValidUtf16() && m_.isValidUtf16();
    if (bytes_) {
        hay_ = s_.toUtf8();
        needle_ = m_.toUtf8();
    }
}

qsizetype Finder::next(qsizetype from)
{
    if (m_.isEmpty() || from < 0 || from > s_.size())
        return -1;
    if (m_.size() <= ShortMarker)
        return s_.indexOf(m_, from);
    if (!bytes_)
        return findByTable(s_, m_, from);
    if (from < unit_) {
        unit_ = 0;
        byte_ = 0;
    }
    byte_ += s_.mid(unit_, from - unit_).toUtf8().size();
    unit_ = from;
    const void *hit =
        ::memmem(hay_.constData() + byte_, size_t(hay_.size() - byte_), needle_.constData(), size_t(needle_.size()));
    if (!hit)
        return -1;
    const qsizetype at = static_cast<const char *>(hit) - hay_.constData();
    unit_ += QString::fromUtf8(hay_.constData() + byte_, at - byte_).size();
    byte_ = at;
    return unit_;
}

qsizetype find(QStringView s, QStringView m, qsizetype from)
{
    return Finder(s, m).next(from);
}

QString replaceAll(const QString &s, const QString &what, const QString &by)
{
    Finder finder(s, what);
    qsizetype at = finder.next(0);
    if (at < 0)
        return s;
    QString out;
    if (by.size() <= what.size())
        out.reserve(s.size());  // never larger than s: no copy while it grows
    qsizetype from = 0;
    for (; at >= 0; at = finder.next(from)) {
        out += QStringView(s).mid(from, at - from);
        out += by;
        from = at + what.size();
    }
    out += QStringView(s).mid(from);
    return out;
}

qsizetype countOf(const QString &s, const QString &what)
{
    Finder finder(s, what);
    qsizetype n = 0;
    for (qsizetype at = finder.next(0); at >= 0; at = finder.next(at + what.size()))
        ++n;
    return n;
}

std::optional<QString> piece1(const QString &t, const QString &marker)
{
    if (t.isEmpty() || marker.isEmpty())
        return std::nullopt;
    Finder finder(t, marker);
    const qsizetype first = finder.next(0);
    if (first < 0)
        return std::nullopt;
    const qsizetype start = first + marker.size();
    const qsizetype second = finder.next(start);
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

QString jsonUnescaped(const QString &s)
{
    if (!s.contains(u'\\'))
        return s;
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != u'\\' || i + 1 >= s.size()) {
            out += s[i];
            continue;
        }
        const QChar c = s[i + 1];
        static const QString from = QStringLiteral("\"\\/bfnrt");
        static const QString to = QStringLiteral("\"\\/\b\f\n\r\t");
        if (const qsizetype k = from.indexOf(c); k >= 0) {
            out += to[k];
            ++i;
            continue;
        }
        const bool hex = c == u'u' && i + 6 <= s.size() &&
            std::all_of(s.begin() + i + 2, s.begin() + i + 6,
                [](QChar d) { return (d >= u'0' && d <= u'9') || (d.toLower() >= u'a' && d.toLower() <= u'f'); });
        if (!hex) {
            out += s[i];  // not an escape: kept as written
            continue;
        }
        const ushort unit = s.mid(i + 2, 4).toUShort(nullptr, 16);
        out += QChar(unit);
        i += 5;
    }
    return out;
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
