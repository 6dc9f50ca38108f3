#include "download/output_template.h"

#include "download/video_name.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>
#include <ctime>

namespace outtmpl {

namespace {

// One %(...) conversion, read.
struct Placeholder {
    QStringList fields;  // alternatives, in order
    QString dateFormat;  // after ">"
    std::optional<QString> replacement;
    std::optional<QString> fallback;
    QString flags;
    int width = 0;
    int precision = -1;
    QChar type;
    qsizetype end = 0;  // just past the conversion
};

const QRegularExpression &tail()
{
    // Flags, width, precision, an optional length letter and the type.
    static const QRegularExpression pattern(QStringLiteral("\\G([#0\\- +]*)([0-9]*)(?:\\.([0-9]+))?[hlL]?([sdif])?"));
    return pattern;
}

// Reads the conversion at text[at] == '%', text[at + 1] == '('; no value (with why) when it
// is not one.
std::optional<Placeholder> readPlaceholder(const QString &text, qsizetype at, QString *why)
{
    const qsizetype close = text.indexOf(u')', at + 2);
    if (close < 0) {
        *why = QStringLiteral("at character %1: \"%(\" without its \")\"").arg(at + 1);
        return std::nullopt;
    }
    Placeholder form;
    QString inner = text.mid(at + 2, close - at - 2);
    if (const qsizetype bar = inner.indexOf(u'|'); bar >= 0) {
        form.fallback = inner.mid(bar + 1);
        inner.truncate(bar);
    }
    if (const qsizetype amp = inner.indexOf(u'&'); amp >= 0) {
        form.replacement = inner.mid(amp + 1);
        inner.truncate(amp);
    }
    if (const qsizetype gt = inner.indexOf(u'>'); gt >= 0) {
        form.dateFormat = inner.mid(gt + 1);
        inner.truncate(gt);
    }
    static const QRegularExpression name(QStringLiteral("^[a-z_][a-z0-9_]*$"));
    form.fields = inner.split(u',');
    for (const QString &field : std::as_const(form.fields)) {
        if (!name.match(field).hasMatch()) {
            *why = QStringLiteral("at character %1: \"%2\" is no field name").arg(at + 3).arg(field);
            return std::nullopt;
        }
    }
    const QRegularExpressionMatch m = tail().match(text, close + 1);
    if (m.captured(4).isEmpty()) {
        *why = QStringLiteral("at character %1: the field needs its type after \")\": s, d or f").arg(close + 2);
        return std::nullopt;
    }
    form.flags = m.captured(1);
    form.width = qMin(m.captured(2).toInt(), 1000);
    form.precision = m.captured(3).isEmpty() ? -1 : qMin(m.captured(3).toInt(), 100000);
    form.type = m.captured(4).at(0);
    form.end = m.capturedEnd();
    return form;
}

// A field's value; no value for a field no video has, empty when this one has none.
std::optional<QString> fieldValue(const QString &field, const Fields &f)
{
    static const QHash<QString, QString VideoFields::*> plain = {{QStringLiteral("id"), &VideoFields::id},
        {QStringLiteral("site"), &VideoFields::site}, {QStringLiteral("extractor"), &VideoFields::site},
        {QStringLiteral("extractor_key"), &VideoFields::site}, {QStringLiteral("author"), &VideoFields::author},
        {QStringLiteral("uploader"), &VideoFields::author}, {QStringLiteral("description"), &VideoFields::description},
        {QStringLiteral("title"), &VideoFields::description}, {QStringLiteral("date"), &VideoFields::date},
        {QStringLiteral("webpage_url"), &VideoFields::address}, {QStringLiteral("url"), &VideoFields::link},
        {QStringLiteral("thumbnail"), &VideoFields::cover}};
    if (field == u"ext")
        return f.extension;
    if (field == u"upload_date")
        return uploadDate(f.video.date);
    if (const auto it = plain.constFind(field); it != plain.cend())
        return f.video.*(*it);
    if (!knownFields().contains(field))
        return std::nullopt;
    const QVariant value = f.more.value(field);
    return value.isValid() ? value.toString() : QString();
}

// The value as a date written with format: YYYYMMDD, a date and time as pages write them,
// or seconds since 1970; empty when it is none of them.
QString asDate(const QString &value, const QString &format)
{
    QDateTime when;
    bool number = false;
    const qint64 seconds = value.toLongLong(&number);
    if (number && value.size() != 8) {
        when = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    } else {
        static const QRegularExpression full(
            QStringLiteral("(\\d{4})\\D?(\\d{1,2})\\D?(\\d{1,2})(?:\\D+(\\d{1,2}):(\\d{2})(?::(\\d{2}))?)?"));
        const QRegularExpressionMatch m = full.match(value);
        if (!m.hasMatch())
            return QString();
        when = QDateTime(QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()),
            QTime(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt()), Qt::UTC);
    }
    if (!when.isValid())
        return QString();
    std::tm tm {};
    tm.tm_year = when.date().year() - 1900;
    tm.tm_mon = when.date().month() - 1;
    tm.tm_mday = when.date().day();
    tm.tm_hour = when.time().hour();
    tm.tm_min = when.time().minute();
    tm.tm_sec = when.time().second();
    tm.tm_wday = when.date().dayOfWeek() % 7;
    tm.tm_yday = when.date().dayOfYear() - 1;
    char out[256];
    const size_t n = std::strftime(out, sizeof out, format.toUtf8().constData(), &tm);
    return QString::fromUtf8(out, qsizetype(n));
}

QString pad(QString text, const Placeholder &form, QChar fill)
{
    if (text.size() >= form.width)
        return text;
    return form.flags.contains(u'-') ? text.leftJustified(form.width, u' ') : text.rightJustified(form.width, fill);
}

// The conversion's text for value (empty: none).
QString formatted(const Placeholder &form, QString value)
{
    if (!value.isEmpty() && !form.dateFormat.isEmpty())
        value = asDate(value, form.dateFormat);
    if (!value.isEmpty() && form.replacement)
        value = QString(*form.replacement).replace(QStringLiteral("{}"), value);
    else if (value.isEmpty())
        value = form.fallback.value_or(QStringLiteral("NA"));
    if (form.type == u's')
        return pad(form.precision >= 0 ? firstCharacters(value, form.precision) : value, form, u' ');
    bool number = false;
    const double n = value.toDouble(&number);
    if (!number)
        return pad(value, form, u' ');
    const QChar fill = form.flags.contains(u'0') && !form.flags.contains(u'-') ? u'0' : u' ';
    QString text = form.type == u'f' ? QString::number(n, 'f', form.precision >= 0 ? form.precision : 6)
                                     : QString::number(qint64(n));
    if (fill == u'0' && text.startsWith(u'-'))
        return u'-' +
            pad(text.mid(1), Placeholder {{}, {}, {}, {}, form.flags, form.width - 1, -1, form.type, 0}, fill);
    return pad(text, form, fill);
}

}  // namespace

QString uploadDate(const QString &date)
{
    static const QRegularExpression ymd(QStringLiteral("(\\d{4})\\D(\\d{1,2})\\D(\\d{1,2})"));
    const QRegularExpressionMatch m = ymd.match(date);
    if (!m.hasMatch())
        return QString();
    return m.captured(1) + m.captured(2).rightJustified(2, u'0') + m.captured(3).rightJustified(2, u'0');
}

std::optional<qint64> timestamp(const QString &date)
{
    // Pages give their dates in China's time, UTC+8.
    static const QRegularExpression full(
        QStringLiteral("^(\\d{4})\\D(\\d{1,2})\\D(\\d{1,2})\\D+(\\d{1,2}):(\\d{2})(?::(\\d{2}))?"));
    const QRegularExpressionMatch m = full.match(date.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const QDateTime when(QDate(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()),
        QTime(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt()), QTimeZone(8 * 3600));
    return when.isValid() ? std::optional(when.toSecsSinceEpoch()) : std::nullopt;
}

const QStringList &knownFields()
{
    static const QStringList fields = {QStringLiteral("id"), QStringLiteral("site"), QStringLiteral("extractor"),
        QStringLiteral("extractor_key"), QStringLiteral("author"), QStringLiteral("uploader"),
        QStringLiteral("description"), QStringLiteral("title"), QStringLiteral("date"), QStringLiteral("upload_date"),
        QStringLiteral("webpage_url"), QStringLiteral("url"), QStringLiteral("thumbnail"), QStringLiteral("ext"),
        QStringLiteral("duration"), QStringLiteral("width"), QStringLiteral("height"), QStringLiteral("filesize"),
        QStringLiteral("vcodec"), QStringLiteral("acodec"), QStringLiteral("autonumber"), QStringLiteral("epoch")};
    return fields;
}

std::optional<QString> syntaxProblem(const QString &text)
{
    QString why;
    for (qsizetype at = text.indexOf(u'%'); at >= 0 && at + 1 < text.size(); at = text.indexOf(u'%', at)) {
        if (text.at(at + 1) == u'(') {
            const std::optional<Placeholder> form = readPlaceholder(text, at, &why);
            if (!form)
                return why;
            at = form->end;
        } else {
            at += text.at(at + 1) == u'%' ? 2 : 1;
        }
    }
    return std::nullopt;
}

QStringList unknownFields(const QString &text)
{
    QStringList unknown;
    QString why;
    for (qsizetype at = text.indexOf(QStringLiteral("%(")); at >= 0; at = text.indexOf(QStringLiteral("%("), at + 1)) {
        if (at > 0 && text.at(at - 1) == u'%')
            continue;
        const std::optional<Placeholder> form = readPlaceholder(text, at, &why);
        for (const QString &field : form ? form->fields : QStringList()) {
            const QString written = QStringLiteral("%(") + field + QStringLiteral(")s");
            if (!knownFields().contains(field) && !unknown.contains(written))
                unknown << written;
        }
    }
    return unknown;
}

QString expand(const QString &text, const Fields &fields, bool forFile)
{
    if (syntaxProblem(text))
        return text;
    QString out;
    QString why;
    qsizetype at = 0;
    while (at < text.size()) {
        const qsizetype percent = text.indexOf(u'%', at);
        if (percent < 0 || percent + 1 >= text.size()) {
            out += text.mid(at);
            break;
        }
        out += text.mid(at, percent - at);
        if (text.at(percent + 1) != u'(') {
            out += u'%';
            at = percent + (text.at(percent + 1) == u'%' ? 2 : 1);
            continue;
        }
        const Placeholder form = *readPlaceholder(text, percent, &why);
        QString value;
        for (const QString &field : form.fields) {
            value = fieldValue(field, fields).value_or(QString());
            if (!value.trimmed().isEmpty())
                break;
        }
        if (value.trimmed().isEmpty())
            value.clear();
        // autonumber counts from 1 with five digits unless the template says otherwise.
        Placeholder applied = form;
        if (form.fields.first() == u"autonumber" && form.type == u's' && form.width == 0)
            applied = Placeholder {form.fields, {}, {}, {}, QStringLiteral("0"), 5, -1, u'd', form.end};
        const QString filled = formatted(applied, value);
        // Each value is one file name of its own: a page's "..", "/" or "CON" never names a
        // folder or a device.
        out += forFile ? safeFileName(filled) : filled;
        at = form.end;
    }
    return out;
}

}  // namespace outtmpl
