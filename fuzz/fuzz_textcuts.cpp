// The text cuts and the pattern replace on fuzzed texts, markers and patterns.
#include "fuzz_input.h"
#include "pattern.h"
#include "sites/textcuts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = splitInput(data, size, 3);
    const QString text = QString::fromUtf8(parts[0]);
    const QString marker = QString::fromUtf8(parts[1]);
    const int n = int(parts[2].size() % 64);
    (void)cuts::piece1(text, marker);
    (void)cuts::cutAt(text, marker);
    (void)cuts::restFrom(text, marker);
    (void)cuts::upToPosition(text, marker);
    (void)cuts::trimmedSpaces(text);
    (void)cuts::removeAll(text, marker);
    const QString left = cuts::leftUnits(text, n);
    if (!left.isEmpty() && left.back().isHighSurrogate() && text.size() > left.size() &&
        text[left.size()].isLowSurrogate())
        __builtin_trap();  // a cut never splits a surrogate pair
    (void)cuts::displayCut(text, n);
    (void)preg(text, QStringLiteral("</?a[^<>]*>"), QString());
    if (parts[1].size() < 64)  // patterns from the input, kept short so a run stays fast
        (void)preg(text.left(4096), marker, QString::fromUtf8(parts[2]));
    return 0;
}
