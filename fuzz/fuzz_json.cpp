// The JSON writer on any sequence of 16-bit units (lone surrogates included): the output is
// always valid JSON that reads back as the same text, up to unpaired surrogates.
#include "json_out.h"

#include <QJsonArray>
#include <QJsonDocument>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text(reinterpret_cast<const QChar *>(data), qsizetype(size / 2));
    const QByteArray quoted = json::quoted(text);
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson("[" + quoted + "]", &error);
    if (error.error != QJsonParseError::NoError)
        __builtin_trap();
    const QByteArray qt = QJsonDocument(QJsonArray {text}).toJson(QJsonDocument::Compact);
    if (qt.mid(1, qt.size() - 2) != quoted)
        __builtin_trap();
    return 0;
}
