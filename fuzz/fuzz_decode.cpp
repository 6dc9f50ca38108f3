// Decoding a body by a fuzzed Content-Type, byte-order mark or meta declaration.
#include "net/decode.h"
#include "net/fetch.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QList<QByteArray> parts = splitInput(data, size, 2);
    (void)fetch::decode(parts[1], parts[0]);
    (void)fetch::isWebAddress(QString::fromUtf8(parts[0]));
    return 0;
}
