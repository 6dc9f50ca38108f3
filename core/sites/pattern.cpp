#include "pattern.h"

#include <re2/re2.h>

#include <algorithm>
#include <limits>

namespace {

constexpr int MaxGroups = 10;  // \0 to \9

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
    RE2::Options options;
    options.set_case_sensitive(false);
    options.set_log_errors(false);
    const QByteArray source = pattern.toUtf8();
    auto re = std::make_shared<const RE2>(re2::StringPiece(source.constData(), size_t(source.size())), options);
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
    p.re_ = std::move(re);
    return p;
}

std::optional<QString> Pattern::replaceAll(const QString &value, qsizetype maxUnits) const
{
    if (!validUtf16(value))
        return value;
    const std::string text = value.toStdString();
    const re2::StringPiece whole(text);
    const int groups = std::min(MaxGroups, 1 + re_->NumberOfCapturingGroups());
    re2::StringPiece match[MaxGroups];
    // Each 16-bit unit takes at most 3 bytes of UTF-8: a result within maxUnits never needs
    // more than 3 bytes for each, so building stops there at the latest.
    const size_t maxBytes = size_t(maxUnits) * 3;
    std::string out;
    size_t at = 0;
    while (at <= text.size() && re_->Match(whole, at, text.size(), RE2::UNANCHORED, match, groups)) {
        const size_t start = size_t(match[0].data() - text.data());
        const size_t end = start + match[0].size();
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
    if (at < text.size())
        out.append(text, at, std::string::npos);
    if (out.size() > maxBytes)
        return std::nullopt;
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
