// JSON text written straight to an output as it is produced, so that a record never exists
// twice in memory: each string is escaped piece by piece (RFC 8259).
#pragma once

#include <QByteArray>
#include <QStringView>
#include <cstdio>

namespace json {

// Appends the JSON escaping of s (without the surrounding quotes) to out: quote, backslash
// and control characters escaped, everything else as UTF-8, lone surrogates as \uXXXX.
void appendEscaped(QByteArray &out, QStringView s);

// The quoted JSON string of s.
QByteArray quoted(QStringView s);

class Writer {
public:
    explicit Writer(std::FILE *out) : out_(out) {}
    void raw(const char *text);
    void raw(const QByteArray &text);
    void string(QStringView s);  // quoted and escaped, written in bounded pieces
    void flush();

private:
    std::FILE *out_;
    QByteArray chunk_;
};

}  // namespace json
