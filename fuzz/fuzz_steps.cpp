// Descriptions that load, built from the language itself: steps drawn from every input and
// operation, with fuzzed markers, patterns and templates, run on a fuzzed page under the caps.
// Whatever they do, an extraction ends within the time and memory limits the run is given
// (-timeout=10 -rss_limit_mb=512 in scripts/checks.sh).
#include "fuzz_run.h"
#include "net/transfer_watch.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// A TOML basic string holding text exactly: every character outside printable ASCII, the
// quote and the backslash as a \u escape.
QByteArray quoted(const std::string &text)
{
    QByteArray out = "\"";
    for (const QChar c : QString::fromStdString(text)) {
        const ushort u = c.unicode();
        if (u >= 0x20 && u < 0x7f && u != '"' && u != '\\' && !c.isSurrogate())
            out += char(u);
        else if (!c.isSurrogate())
            out += "\\u" + QByteArray::number(u, 16).rightJustified(4, '0');
    }
    return out + "\"";
}

// A template: literal pieces and placeholders the language knows.
QByteArray templateText(FuzzedDataProvider &in)
{
    std::string out;
    const int parts = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < parts; ++i) {
        switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0: out += "{" + std::to_string(in.ConsumeIntegralInRange(0, 50)) + "}"; break;
        case 1: out += "{prefix:page}"; break;
        case 2: out += "{prefix:api}"; break;
        case 3: out += "{v}"; break;
        default: {
            std::string literal = in.ConsumeRandomLengthString(12);
            for (char &c : literal)
                c = (c == '{' || c == '}') ? '_' : c;
            out += literal;
        }
        }
    }
    return quoted(out);
}

QByteArray operation(FuzzedDataProvider &in)
{
    static const char *const names[] = {"piece", "from_marker", "cut", "upto", "remove", "prepend", "append"};
    switch (in.ConsumeIntegralInRange(0, 9)) {
    case 0: return "{ trim = true }";
    case 1: return "{ replace = [" + templateText(in) + ", " + quoted(in.ConsumeRandomLengthString(8)) + "] }";
    case 2:
        return "{ preg = [" + quoted(in.ConsumeRandomLengthString(16)) + ", " +
            quoted(in.ConsumeRandomLengthString(8)) + "] }";
    default: return QByteArray("{ ") + names[in.ConsumeIntegralInRange(0, 6)] + " = " + templateText(in) + " }";
    }
}

QByteArray step(FuzzedDataProvider &in)
{
    const bool named = in.ConsumeBool();
    QByteArray out =
        "[[step]]\nto = " + (named ? QByteArray("\"v\"") : QByteArray::number(in.ConsumeIntegralInRange(1, 50)));
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: out += "\nfrom = " + QByteArray::number(in.ConsumeIntegralInRange(0, 50)); break;
    case 1: out += "\nfrom = \"address\""; break;
    case 2: out += "\nfetch = \"{prefix:api}" + templateText(in).mid(1); break;
    default: out += "\ntext = " + templateText(in); break;
    }
    out += "\ndo = [";
    // Now and then a long chain: many patterns in one description, replace after replace.
    const int ops = in.ConsumeIntegralInRange(0, in.ConsumeIntegralInRange(0, 7) == 0 ? 100 : 5);
    for (int i = 0; i < ops; ++i)
        out += (i ? ", " : "") + operation(in);
    return out + "]\n";
}

// Keys and brackets nested as deep as the input says, in one of the ways TOML nests them: the
// reader refuses what passes the depth limit before its parser recurses.
QByteArray deepKeys(FuzzedDataProvider &in)
{
    const int depth = in.ConsumeIntegralInRange(0, 80);
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return "a" + QByteArray(".a").repeated(depth) + " = 1\n";
    case 1: return "[t" + QByteArray(".t").repeated(depth) + "]\n";
    case 2: return "x = " + QByteArray("[\n").repeated(depth) + QByteArray("]").repeated(depth) + "\n";
    default: return "y = " + QByteArray("{ a = ").repeated(depth) + "1" + QByteArray(" }").repeated(depth) + "\n";
    }
}

}  // namespace

// The run's memory limit is meant for the program's own values: AddressSanitizer keeps
// freed memory in a smaller quarantine and hands it back to the system soon.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=16:allocator_release_to_os_interval_ms=100";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    QByteArray text = "index = 1\ncaption = \"c\"\nname = \"fuzz\"\n[prefixes]\n"
                      "page = { host = \"MEIPAI_PAGE_HOST\", path = \"/media/\" }\n"
                      "api = { host = \"WEIPAI_API_HOST\", path = \"/api/\" }\n"
                      "[checks]\nempty = \"a\"\nwrong_prefix = \"b\"\nonly_prefix = \"c\"\n"
                      "[display]\nauthor = 8\nauthor_cut = 8\ndescription = 10\ndate = 12\ncover = 4\navatar = 6\n"
                      "[[step]]\nto = \"v\"\ntext = \"\"\n";
    if (in.ConsumeIntegralInRange(0, 7) == 0)
        text.prepend(deepKeys(in));
    const int steps = in.ConsumeIntegralInRange(1, 60);
    for (int i = 0; i < steps && in.remaining_bytes() > 0; ++i)
        text += step(in);
    LoadError error;
    const std::optional<SiteDescription> site = parseSiteDescription(text, QStringLiteral("fuzz.toml"), &error);
    if (!site)
        return 0;
    // The page deadline bounds a run's time as the work budget bounds its reading.
    static const bool deadline = (fetch::setDeadline(3000), true);
    Q_UNUSED(deadline);
    // The page: what is left of the input, repeated up to a few MiB to give the caps work.
    const std::string rest = in.ConsumeRemainingBytesAsString();
    QString page = QString::fromUtf8(rest.data(), qsizetype(rest.size()));
    if (!page.isEmpty())
        page = page.repeated(qMin<qsizetype>(4096, (qsizetype(4) << 20) / page.size() + 1));
    // Every fetch is answered with the page again: the largest answer a fetch can bring.
    runOnPage(*site, page, [](const QString &, const Slots &rs) { return std::optional<QString>(rs[SlotPage]); });
    return 0;
}
