#include "pattern.h"

#include "site_limits.h"
#include "work_budget.h"

#include <re2/re2.h>

#include <algorithm>
#include <atomic>
#include <limits>

namespace {

constexpr int MaxGroups = 10;  // \0 to \9

// The RE2 memory handed out to the compiled patterns alive now.
std::atomic<qint64> g_patternMemory {0};
thread_local bool g_builtIn = false;

bool validUtf16(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return false;
    }
    return true;
}

// Bytes of the UTF-8 sequence that starts with lead.
int sequenceLength(unsigned char lead)
{
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

}  // namespace

std::optional<Pattern> Pattern::compile(const QString &pattern, const QString &replacement, QString *why)
{
    // The memory is taken from the budget before RE2 sees the pattern, and given back when
    // the last copy of the compiled pattern goes.
    const qint64 charge = g_builtIn ? 0 : sitelimits::PatternMaxMem;
    if (g_patternMemory.fetch_add(charge) + charge > sitelimits::MaxPatternMemory) {
        g_patternMemory -= charge;
        *why = QStringLiteral("the patterns of the descriptions in use would need more than %1 MiB")
                   .arg(sitelimits::MaxPatternMemory / (qint64(1024) * 1024));
        return std::nullopt;
    }
    RE2::Options options;
    options.set_case_sensitive(false);
    options.set_log_errors(false);
    options.set_max_mem(sitelimits::PatternMaxMem);
    const QByteArray source = pattern.toUtf8();
    std::shared_ptr<const RE2> re(
        new RE2(re2::StringPiece(source.constData(), size_t(source.size())), options), [charge](const RE2 *done) {
            delete done;
            g_patternMemory -= charge;
        });
    if (!re->ok()) {
        *why = QStringLiteral("bad pattern: ") + QString::fromStdString(re->error());
        return std::nullopt;
    }
    Pattern p;
    p.rewrite_ = replacement.toStdString();
    std::string error;
    if (!re->CheckRewriteString(p.rewrite_, &error)) {
        *why = QStringLiteral("bad replacement: ") + QString::fromStdString(error);
        return std::nullopt;
    }
    // The replacement in pieces, so that the size of each rewrite is known before it is made.
    for (size_t i = 0; i < p.rewrite_.size(); ++i) {
        const char next = i + 1 < p.rewrite_.size() ? p.rewrite_[i + 1] : '\0';
        if (p.rewrite_[i] == '\\' && next >= '0' && next <= '9') {
            p.rewriteGroups_.push_back(next - '0');
            ++i;
        } else {
            i += p.rewrite_[i] == '\\' ? 1 : 0;  // "\\" is one backslash
            ++p.rewriteLiteralBytes_;
        }
    }
    p.re_ = std::move(re);
    return p;
}

qint64 Pattern::memoryInUse()
{
    return g_patternMemory;
}

Pattern::BuiltIn::BuiltIn() : was_(g_builtIn)
{
    g_builtIn = true;
}

Pattern::BuiltIn::~BuiltIn()
{
    g_builtIn = was_;
}

std::optional<QString> Pattern::replaceAll(const QString &value, qsizetype maxUnits, WorkBudget *budget) const
{
    if (!validUtf16(value))
        return value;
    if (budget && !budget->spend(value.size()))
        return std::nullopt;
    const std::string text = value.toStdString();
    const re2::StringPiece whole(text);
    const int groups = std::min(MaxGroups, 1 + re_->NumberOfCapturingGroups());
    re2::StringPiece match[MaxGroups];
    // Each 16-bit unit takes at most 3 bytes of UTF-8: a result within maxUnits never needs
    // more than 3 bytes for each, so building stops there at the latest.
    const size_t maxBytes = size_t(maxUnits) * 3;
    std::string out;
    size_t at = 0;
    // A search may read on to the end of the text before it settles on a match.
    while (at <= text.size() && (!budget || budget->spend(qint64(text.size() - at))) &&
        re_->Match(whole, at, text.size(), RE2::UNANCHORED, match, groups)) {
        const size_t start = size_t(match[0].data() - text.data());
        const size_t end = start + match[0].size();
        size_t rewritten = rewriteLiteralBytes_;
        for (const int group : rewriteGroups_)
            rewritten += match[group].size();
        if (out.size() + (start - at) + rewritten > maxBytes)
            return std::nullopt;
        out.append(text, at, start - at);
        re_->Rewrite(&out, rewrite_, match, groups);
        at = end;
        if (match[0].empty()) {
            // An empty match: the character after it stays, and the search goes on past it.
            if (end >= text.size())
                break;
            const size_t step =
                std::min(text.size() - end, size_t(sequenceLength(static_cast<unsigned char>(text[end]))));
            out.append(text, end, step);
            at = end + step;
        }
        if (out.size() > maxBytes)
            return std::nullopt;
    }
    if (budget && budget->end() != WorkBudget::Open)
        return std::nullopt;
    if (at < text.size()) {
        if (out.size() + (text.size() - at) > maxBytes)
            return std::nullopt;
        out.append(text, at, std::string::npos);
    }
    QString result = QString::fromStdString(out);
    if (result.size() > maxUnits)
        return std::nullopt;
    return result;
}

bool Pattern::matchesEmpty() const
{
    re2::StringPiece match;
    for (const char *sample : {"", "a", "ab\n", "<a href=\"x\">", "0 1", "\xe4\xb8\xad"}) {
        const re2::StringPiece text(sample);
        if (re_->Match(text, 0, text.size(), RE2::UNANCHORED, &match, 1) && match.empty())
            return true;
    }
    return false;
}

std::optional<QString> preg(const QString &value_, const QString &patrn, const QString &str)
{
    QString why;
    const std::optional<Pattern> pattern = Pattern::compile(patrn, str, &why);
    if (!pattern)
        return std::nullopt;
    return pattern->replaceAll(value_, std::numeric_limits<qsizetype>::max() / 4);
}
