// Turning a page's bytes into text by the charset it declares, or guessing when it declares
// none.
#include "net/decode.h"

#include <QStringDecoder>

namespace fetch {

namespace {

QByteArray charsetOf(const QByteArray &contentType)
{
    const QByteArray lower = contentType.toLower();
    const qsizetype at = lower.indexOf("charset=");
    if (at < 0)
        return {};
    QByteArray name = contentType.mid(at + 8);
    const qsizetype end = name.indexOf(';');
    if (end >= 0)
        name.truncate(end);
    return name.trimmed().replace('"', "").replace('\'', "");
}

QByteArray metaCharset(const QByteArray &body)
{
    // Only the head of the page is searched, as browsers do.
    const QByteArray head = body.left(4096).toLower();
    qsizetype from = 0;
    while (true) {
        const qsizetype meta = head.indexOf("<meta", from);
        if (meta < 0)
            return {};
        const qsizetype close = head.indexOf('>', meta);
        const QByteArray tag = head.mid(meta, close < 0 ? -1 : close - meta);
        const qsizetype at = tag.indexOf("charset=");
        if (at >= 0) {
            qsizetype pos = at + 8;
            while (pos < tag.size() && (tag[pos] == '"' || tag[pos] == '\'' || tag[pos] == ' '))
                ++pos;
            qsizetype end = pos;
            while (end < tag.size() &&
                (isalnum(static_cast<unsigned char>(tag[end])) || tag[end] == '-' || tag[end] == '_'))
                ++end;
            if (end > pos)
                return tag.mid(pos, end - pos);
        }
        from = meta + 5;
    }
}

QString decodeAs(const QByteArray &body, const QByteArray &charset)
{
    QStringDecoder decoder(charset.constData());
    if (!decoder.isValid())
        return QString::fromUtf8(body);
    return decoder.decode(body);
}

}  // namespace

QString decode(const QByteArray &body, const QByteArray &contentType)
{
    const QByteArray declared = charsetOf(contentType);
    if (!declared.isEmpty())
        return decodeAs(body, declared);
    if (body.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(body.mid(3));
    if (body.startsWith("\xFF\xFE"))
        return decodeAs(body.mid(2), "UTF-16LE");
    if (body.startsWith("\xFE\xFF"))
        return decodeAs(body.mid(2), "UTF-16BE");
    const QByteArray meta = metaCharset(body);
    if (!meta.isEmpty())
        return decodeAs(body, meta);
    // Undeclared Chinese pages are GBK/GB18030; a page that is valid UTF-8 is UTF-8.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    return decodeAs(body, "GB18030");
}

}  // namespace fetch
