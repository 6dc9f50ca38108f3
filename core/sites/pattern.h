// The patterns of the description language, on RE2: matching takes time linear in the text
// and never backtracks, whoever wrote the pattern. Case is ignored; "." does not match a
// line break; "$" matches only at the very end of the text (not before a final line break);
// an empty match is replaced where it occurs, and the search goes on one character later.
// In a replacement, \0 is the whole match and \1 to \9 its groups; \\ is a backslash.
#pragma once

#include <QString>
#include <memory>
#include <optional>
#include <string>

namespace re2 {
class RE2;
}

class Pattern {
public:
    // The compiled pattern and its replacement, or no value with why (RE2's reason, or the
    // replacement's fault).
    static std::optional<Pattern> compile(const QString &pattern, const QString &replacement, QString *why);

    // value with every match replaced. No value when the result would pass maxUnits 16-bit
    // units (checked while it is built, never after); value itself when it is not valid
    // UTF-16 (a lone surrogate).
    std::optional<QString> replaceAll(const QString &value, qsizetype maxUnits) const;

    // True when the pattern matches an empty text somewhere in a few short texts.
    bool matchesEmpty() const;

private:
    std::shared_ptr<const re2::RE2> re_;
    std::string rewrite_;
};

// Replaces every match of the pattern patrn in value_ by str, ignoring letter case. An invalid
// pattern or replacement yields no value.
std::optional<QString> preg(const QString &value_, const QString &patrn, const QString &str);
