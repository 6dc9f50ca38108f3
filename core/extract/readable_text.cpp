#include "extract/readable_text.h"

#include <QHash>
#include <QRegularExpression>

namespace {

// The named references pages use; HTML has more, seldom seen in a caption.
const QHash<QString, char32_t> &namedReferences()
{
    static const QHash<QString, char32_t> names = {{QStringLiteral("amp"), U'&'}, {QStringLiteral("lt"), U'<'},
        {QStringLiteral("gt"), U'>'}, {QStringLiteral("quot"), U'"'}, {QStringLiteral("apos"), U'\''},
        {QStringLiteral("nbsp"), U'\u00a0'}, {QStringLiteral("middot"), U'\u00b7'},
        {QStringLiteral("hellip"), U'\u2026'}, {QStringLiteral("mdash"), U'\u2014'},
        {QStringLiteral("ndash"), U'\u2013'}, {QStringLiteral("ldquo"), U'\u201c'},
        {QStringLiteral("rdquo"), U'\u201d'}, {QStringLiteral("lsquo"), U'\u2018'},
        {QStringLiteral("rsquo"), U'\u2019'}, {QStringLiteral("copy"), U'\u00a9'}, {QStringLiteral("reg"), U'\u00ae'},
        {QStringLiteral("times"), U'\u00d7'}};
    return names;
}

// The character a reference ("amp", "#39", "#x4e2d") stands for; 0 when it stands for none
// that is shown.
char32_t referenced(const QString &name)
{
    if (!name.startsWith(u'#'))
        return namedReferences().value(name, 0);
    bool ok = false;
    const bool hex = name.size() > 1 && (name[1] == u'x' || name[1] == u'X');
    const uint code = name.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
    if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return QChar::category(char32_t(code)) == QChar::Other_Control ? 0 : char32_t(code);
}

}  // namespace

QString readableText(const QString &raw)
{
    static const QRegularExpression lineBreak(QStringLiteral("(?:\\s*(?:<br\\s*/?>|(?<![A-Za-z0-9])br\\s*/>)\\s*)+"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression reference(QStringLiteral("&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[A-Za-z]{2,8});"));
    QString text = raw;
    if (text.contains(QStringLiteral("br"), Qt::CaseInsensitive))
        text.replace(lineBreak, QStringLiteral(" "));
    if (!text.contains(u'&'))
        return text;
    QString out;
    qsizetype at = 0;
    for (auto it = reference.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const char32_t c = referenced(m.captured(1));
        out += QStringView(text).mid(at, m.capturedStart() - at);
        out += c ? QString::fromUcs4(&c, 1) : m.captured();
        at = m.capturedEnd();
    }
    return out + QStringView(text).mid(at);
}
