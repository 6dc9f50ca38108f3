// Page text as people read it: what a page writes as markup for a character or a line break
// shown as that character or a space. The record keeps the raw cuts; what is shown, given in
// the named JSON fields and used in file names is this.
#pragma once

#include <QString>

// raw with every line break (<br>, <br/>, <br />, and a "br/>" whose "<" a cut took away),
// with the white space around it, as one space, then every character reference (&amp; &lt;
// &#39; &#x4e2d; &#20013; ...) as its character. A reference to nothing, to a control
// character or to a name not known stays as written; the result is never read again for
// references ("&amp;lt;" is "&lt;").
QString readableText(const QString &raw);
