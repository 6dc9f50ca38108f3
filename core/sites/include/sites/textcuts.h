// The text cutting operations of the extractors. Positions and lengths count 16-bit units,
// comparisons are exact and case-sensitive. A cut that can fail returns an empty optional,
// so that a step writes its slot only when it has a value.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <optional>

namespace cuts {

// Searches for one marker in one text, again and again, each time from a later place; in time
// linear in the text however long and repetitive the marker. Both must outlive the Finder.
class Finder {
public:
    Finder(QStringView s, QStringView marker);
    // Where the marker first occurs at or after from; -1 when it does not (or is empty).
    qsizetype next(qsizetype from);

private:
    static constexpr qsizetype ShortMarker = 16;
    QStringView s_, m_;
    bool bytes_ = false;  // searched as UTF-8
    QByteArray hay_, needle_;
    qsizetype unit_ = 0, byte_ = 0;  // a place in s and the same place in hay_
};

// Where marker first occurs in s at or after from, -1 when it does not (or is empty).
qsizetype find(QStringView s, QStringView marker, qsizetype from);

// s with every occurrence of what (not empty) replaced by by, left to right.
QString replaceAll(const QString &s, const QString &what, const QString &by);

// How many times what (not empty) occurs in s without overlapping.
qsizetype countOf(const QString &s, const QString &what);

// The text between the first and second occurrence of the marker, or everything after the
// first occurrence when it occurs once. Fails when the marker does not occur or t is empty.
std::optional<QString> piece1(const QString &t, const QString &marker);

// The text of s before the first occurrence of stop; empty when stop does not occur.
QString cutAt(const QString &s, const QString &stop);

// s from the first occurrence of c to the end, c included; fails when c does not occur.
std::optional<QString> restFrom(const QString &s, const QString &c);

// s up to and including the first character of the first occurrence of c (the first P
// units, P being the 1-based position of c); empty when c does not occur.
QString upToPosition(const QString &s, const QString &c);

// s read as the inside of a JSON string: each escape (\" \\ \/ \b \f \n \r \t \uXXXX, a
// surrogate pair as its one character) as the character it stands for; an escape that is
// none of these stays as written. Never longer than s.
QString jsonUnescaped(const QString &s);

// s with the spaces (U+0020 only) at both ends removed.
QString trimmedSpaces(const QString &s);

// s with every occurrence of what removed.
QString removeAll(QString s, const QString &what);

// The first n units of s, moved back by one when the cut would split a surrogate pair.
QString leftUnits(const QString &s, int n);

// s itself when it has at most n units, otherwise its first n units followed by "..".
QString displayCut(const QString &s, int n);

}  // namespace cuts
