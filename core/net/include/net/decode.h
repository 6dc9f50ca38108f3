// Text from an answer's bytes, by the charset the answer declares.
#pragma once

#include <QByteArray>
#include <QString>

namespace fetch {

// Decodes a body by the charset the answer declares: the Content-Type header, else a
// byte-order mark, else the page's own meta declaration in its first 4 KB. With nothing
// declared, valid UTF-8 is UTF-8 and anything else GB18030 (undeclared Chinese pages).
QString decode(const QByteArray &body, const QByteArray &contentType);

}  // namespace fetch
