#include "preg.h"

#include <QRegularExpression>

std::optional<QString> preg(const QString &value_, const QString &patrn, const QString &str)
{
    const QRegularExpression pattern(patrn, QRegularExpression::CaseInsensitiveOption);
    if (!pattern.isValid())
        return std::nullopt;
    QString result = value_;
    result.replace(pattern, str);
    return result;
}
