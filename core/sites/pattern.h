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
#include <vector>

namespace re2 {
class RE2;
}
class WorkBudget;

class Pattern {
public:
    // The compiled pattern and its replacement, or no value with why (RE2's reason, the
    // replacement's fault, or the patterns alive together passing their memory budget).
    static std::optional<Pattern> compile(const QString &pattern, const QString &replacement, QString *why);

    // value with every match replaced. No value when the result would pass maxUnits 16-bit
    // units (checked before each piece is added, never after) or when budget runs out (each
    // search adds the text from where it starts to the end); value itself when it is not
    // valid UTF-16 (a lone surrogate).
    std::optional<QString> replaceAll(const QString &value, qsizetype maxUnits, WorkBudget *budget = nullptr) const;

    // True when the pattern matches an empty text somewhere in a few short texts.
    bool matchesEmpty() const;

    // The memory the compiled patterns alive now may use together, in bytes.
    static qint64 memoryInUse();

    // While one lives, the patterns compiled on its thread are the program's own (the
    // built-in descriptions'): they take nothing from the budget.
    class BuiltIn {
    public:
        BuiltIn();
        ~BuiltIn();
        BuiltIn(const BuiltIn &) = delete;
        BuiltIn &operator=(const BuiltIn &) = delete;

    private:
        bool was_;
    };

private:
    std::shared_ptr<const re2::RE2> re_;
    std::string rewrite_;
    size_t rewriteLiteralBytes_ = 0;  // the replacement's own text
    std::vector<int> rewriteGroups_;  // the groups it copies, \0 to \9, in order
};

// Replaces every match of the pattern patrn in value_ by str, ignoring letter case. An invalid
// pattern or replacement yields no value.
std::optional<QString> preg(const QString &value_, const QString &patrn, const QString &str);
