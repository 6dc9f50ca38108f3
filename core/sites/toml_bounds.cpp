#include "toml_bounds.h"

#include "site_limits.h"

#include <QList>

namespace {

std::optional<LoadError> longLine(const QString &text)
{
    int line = 1;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != u'\n')
            continue;
        if (i - start > sitelimits::MaxLineLength)
            return LoadError {line, QStringLiteral("a line longer than %1 characters").arg(sitelimits::MaxLineLength)};
        ++line;
        start = i + 1;
    }
    return std::nullopt;
}

// Walks the ASCII text as TOML's grammar places keys: at the start of a line, in a table
// header, and after "{" or "," in an inline table. A dot there joins one more key part; each
// open bracket is one more level.
class Depth {
public:
    explicit Depth(const QByteArray &ascii) : s_(ascii) {}

    std::optional<LoadError> run()
    {
        for (i_ = 0; i_ < s_.size(); ++i_) {
            const char c = s_[i_];
            if (c == '\n') {
                ++line_;
                if (open_.isEmpty() || open_.back() == '{')
                    keyParts_ = 0;
                key_ = open_.isEmpty() || header_;
                header_ = false;
            } else if (c == '#') {
                skipComment();
            } else if (c == '"') {
                skipString();
            } else if (!step(c)) {
                return LoadError {
                    line_, QStringLiteral("keys and brackets nested deeper than %1").arg(sitelimits::MaxKeyDepth)};
            }
        }
        return std::nullopt;
    }

private:
    bool step(char c)
    {
        if (c == '[' || c == '{') {
            if (c == '[' && open_.isEmpty() && key_)
                header_ = true;  // a table header: what follows up to "]" is a key
            open_.append(c);
            key_ = c == '{' || header_;
            keyParts_ = 0;
        } else if ((c == ']' || c == '}') && !open_.isEmpty()) {
            open_.removeLast();
            key_ = false;
        } else if (c == '=') {
            key_ = false;
            keyParts_ = 0;
        } else if (c == ',') {
            key_ = !open_.isEmpty() && open_.back() == '{';
            keyParts_ = 0;
        } else if (c == '.' && key_) {
            ++keyParts_;
        }
        return open_.size() + keyParts_ <= sitelimits::MaxKeyDepth;
    }

    void skipComment()
    {
        while (i_ + 1 < s_.size() && s_[i_ + 1] != '\n')
            ++i_;
    }

    // A basic string, one line or three quotes long; escapes keep the next character.
    void skipString()
    {
        const bool multi = s_.mid(i_, 3) == "\"\"\"";
        i_ += multi ? 3 : 1;
        for (; i_ < s_.size(); ++i_) {
            if (s_[i_] == '\\') {
                line_ += i_ + 1 < s_.size() && s_[i_ + 1] == '\n' ? 1 : 0;
                ++i_;
            } else if (s_[i_] == '\n') {
                ++line_;
                if (!multi)
                    return;  // an unclosed string: the reader refuses it
            } else if (multi ? s_.mid(i_, 3) == "\"\"\"" : s_[i_] == '"') {
                i_ += multi ? 2 : 0;
                return;
            }
        }
    }

    const QByteArray &s_;
    qsizetype i_ = 0;
    int line_ = 1;
    QList<char> open_;  // the brackets open now
    int keyParts_ = 0;  // dots of the key being read
    bool key_ = true;   // a key may be read here
    bool header_ = false;
};

}  // namespace

std::optional<LoadError> tomlOutOfBounds(const QString &text, const QByteArray &ascii)
{
    if (std::optional<LoadError> refused = longLine(text))
        return refused;
    return Depth(ascii).run();
}

int firstBadUtf8Line(const QByteArray &bytes)
{
    // A line break is ASCII, so no sequence spans two lines: each line is checked alone.
    int line = 1;
    for (qsizetype start = 0; start <= bytes.size(); ++line) {
        qsizetype end = bytes.indexOf('\n', start);
        end = end < 0 ? bytes.size() : end;
        if (!QByteArrayView(bytes).sliced(start, end - start).isValidUtf8())
            return line;
        start = end + 1;
    }
    return 0;
}
