#include "toml_ascii.h"

std::optional<LoadError> AsciiOnly::run()
{
    for (i_ = text_.startsWith(QChar(0xFEFF)) ? 1 : 0; i_ < text_.size(); ++i_) {
        const QChar c = text_[i_];
        if (c == u'\n')
            ++line_;
        if (state_ != Plain)
            inside(c);
        else if (!plain(c))
            return LoadError {line_, QStringLiteral("a character beyond ASCII outside a string or comment")};
    }
    return std::nullopt;
}

bool AsciiOnly::opens(const char *three) const
{
    return QStringView(text_).mid(i_, 3) == QLatin1StringView(three);
}

bool AsciiOnly::plain(QChar c)
{
    if (c.unicode() >= 0x80)
        return false;
    const bool multi = opens("\"\"\"") || opens("'''");
    state_ = c == u'#' ? Comment
        : multi        ? (c == u'"' ? MultiBasic : MultiLiteral)
        : c == u'"'    ? Basic
        : c == u'\''   ? Literal
                       : Plain;
    // Literal strings are written as basic strings, so that they can hold escapes.
    out_ += state_ == Literal ? "\"" : state_ == MultiLiteral ? "\"\"\"" : QByteArray(1, char(c.unicode()));
    if (multi) {
        out_ += state_ == MultiBasic ? "\"\"" : "";
        i_ += 2;
    }
    return true;
}

void AsciiOnly::inside(QChar c)
{
    const bool literal = state_ == Literal || state_ == MultiLiteral;
    const bool multi = state_ == MultiBasic || state_ == MultiLiteral;
    if (c == u'\n' && !multi) {
        state_ = Plain;  // an open string or a comment ends with its line
        out_ += '\n';
    } else if (state_ == Comment) {
        out_ += c.unicode() < 0x80 ? char(c.unicode()) : ' ';  // a quote in a comment opens nothing
    } else if (multi ? opens(literal ? "'''" : "\"\"\"") : c == (literal ? u'\'' : u'"')) {
        out_ += multi ? "\"\"\"" : "\"";
        i_ += multi ? 2 : 0;
        state_ = Plain;
    } else if (!literal && c == u'\\' && i_ + 1 < text_.size() && text_[i_ + 1].unicode() < 0x80) {
        out_ += '\\';  // an escape of a basic string, kept as written
        out_ += char(text_[++i_].unicode());
        line_ += text_[i_] == u'\n' ? 1 : 0;
    } else if (literal && (c == u'\\' || c == u'"')) {
        out_ += '\\';
        out_ += char(c.unicode());
    } else if (c.unicode() < 0x80) {
        out_ += char(c.unicode());
    } else {
        escape(c);
    }
}

void AsciiOnly::escape(QChar c)
{
    char32_t code = c.unicode();
    if (c.isHighSurrogate() && i_ + 1 < text_.size() && text_[i_ + 1].isLowSurrogate())
        code = QChar::surrogateToUcs4(c, text_[++i_]);
    out_ += code > 0xFFFF ? "\\U" + QByteArray::number(uint(code), 16).rightJustified(8, '0')
                          : "\\u" + QByteArray::number(uint(code), 16).rightJustified(4, '0');
}
