// JSON text written straight to an output as it is produced, so that a record never exists
// twice in memory: each string is escaped piece by piece (RFC 8259).
#pragma once

#include <QByteArray>
#include <QStringView>
#include <cstdio>
#include <vector>

namespace json {

// Appends the JSON escaping of s (without the surrounding quotes) to out: quote, backslash
// and control characters escaped, everything else as UTF-8, lone surrogates as \uXXXX.
void appendEscaped(QByteArray &out, QStringView s);

// The quoted JSON string of s.
QByteArray quoted(QStringView s);

// Writes one JSON text as it goes: {"a": "x", "b": true} and ["x","y"].
class Writer {
public:
    explicit Writer(std::FILE *out) : out_(out) {}
    void raw(const char *text);
    void raw(const QByteArray &text);
    void string(QStringView s);  // quoted and escaped, written in bounded pieces
    void flush();

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // A member's name in the open object, after ", " unless it is the first.
    void key(const char *name);
    void member(const char *name, QStringView value);
    void member(const char *name, bool value);
    void member(const char *name, qint64 value);
    void member(const char *name, int value) { member(name, qint64(value)); }
    void member(const char *name, double value);                // three decimals
    void member(const char *name, const char *value) = delete;  // a literal would pass as a boolean
    void nullMember(const char *name);
    // An element of the open array, after "," unless it is the first.
    void element(QStringView value);

private:
    void separate(const char *separator);

    std::FILE *out_;
    QByteArray chunk_;
    std::vector<bool> empty_;  // for each open object or array: nothing written in it yet
};

}  // namespace json
