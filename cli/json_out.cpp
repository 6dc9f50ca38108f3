#include "json_out.h"

namespace json {

namespace {

constexpr qsizetype PieceUnits = qsizetype(16) * 1024;

char hexDigit(unsigned v)
{
    return char(v < 10 ? '0' + v : 'a' + (v - 10));
}

void appendUnitEscape(QByteArray &out, char16_t u)
{
    out += "\\u";
    out += hexDigit((u >> 12) & 0xf);
    out += hexDigit((u >> 8) & 0xf);
    out += hexDigit((u >> 4) & 0xf);
    out += hexDigit(u & 0xf);
}

}  // namespace

void appendEscaped(QByteArray &out, QStringView s)
{
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = s[i].unicode();
        if (u < 0x80) {
            switch (u) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20)
                    appendUnitEscape(out, u);
                else
                    out += char(u);
            }
        } else if (u < 0x800) {
            out += char(0xc0 | (u >> 6));
            out += char(0x80 | (u & 0x3f));
        } else if (QChar::isHighSurrogate(u) && i + 1 < n && QChar::isLowSurrogate(s[i + 1].unicode())) {
            const char32_t c = QChar::surrogateToUcs4(u, s[i + 1].unicode());
            ++i;
            out += char(0xf0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3f));
            out += char(0x80 | ((c >> 6) & 0x3f));
            out += char(0x80 | (c & 0x3f));
        } else if (QChar::isSurrogate(u)) {
            appendUnitEscape(out, u);  // a lone half of a pair has no UTF-8 form
        } else {
            out += char(0xe0 | (u >> 12));
            out += char(0x80 | ((u >> 6) & 0x3f));
            out += char(0x80 | (u & 0x3f));
        }
    }
}

QByteArray quoted(QStringView s)
{
    QByteArray out;
    out.reserve(s.size() + 2);
    out += '"';
    appendEscaped(out, s);
    out += '"';
    return out;
}

void Writer::raw(const char *text)
{
    std::fputs(text, out_);
}

void Writer::raw(const QByteArray &text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), out_);
}

void Writer::string(QStringView s)
{
    std::fputc('"', out_);
    for (qsizetype at = 0; at < s.size();) {
        qsizetype len = qMin(PieceUnits, s.size() - at);
        // Keep a surrogate pair in one piece.
        if (at + len < s.size() && s[at + len - 1].isHighSurrogate())
            ++len;
        chunk_.resize(0);  // keeps its capacity for the next piece
        appendEscaped(chunk_, s.mid(at, len));
        raw(chunk_);
        at += len;
    }
    std::fputc('"', out_);
}

void Writer::separate(const char *separator)
{
    if (!empty_.empty() && !empty_.back())
        raw(separator);
    if (!empty_.empty())
        empty_.back() = false;
}

void Writer::beginObject()
{
    raw("{");
    empty_.push_back(true);
}

void Writer::endObject()
{
    raw("}");
    empty_.pop_back();
}

void Writer::beginArray()
{
    raw("[");
    empty_.push_back(true);
}

void Writer::endArray()
{
    raw("]");
    empty_.pop_back();
}

void Writer::key(const char *name)
{
    separate(", ");
    std::fputc('"', out_);
    raw(name);
    raw("\": ");
}

void Writer::member(const char *name, QStringView value)
{
    key(name);
    string(value);
}

void Writer::member(const char *name, bool value)
{
    key(name);
    raw(value ? "true" : "false");
}

void Writer::member(const char *name, qint64 value)
{
    key(name);
    raw(QByteArray::number(value).constData());
}

void Writer::member(const char *name, double value)
{
    key(name);
    raw(QByteArray::number(value, 'f', 3).constData());
}

void Writer::nullMember(const char *name)
{
    key(name);
    raw("null");
}

void Writer::element(QStringView value)
{
    separate(",");
    string(value);
}

void Writer::flush()
{
    std::fflush(out_);
}

}  // namespace json
