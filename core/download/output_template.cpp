#include "download/output_template.h"

#include "download/video_name.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>
#include <ctime>
#include <functional>

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
    static const QRegularExpression pattern(QStringLiteral("\\G([#0\\- +]*)([0-9]*)(?:\\.([0-9]+))?[hlL]?([sdifqj])?"));
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
        *why = QStringLiteral("at character %1: the field needs its type after \")\": s, d, f, q or j").arg(close + 2);
        return std::nullopt;
    }
    form.flags = m.captured(1);
    form.width = qMin(m.captured(2).toInt(), 1000);
    form.precision = m.captured(3).isEmpty() ? -1 : qMin(m.captured(3).toInt(), 100000);
    form.type = m.captured(4).at(0);
    form.end = m.capturedEnd();
    return form;
}

// Seconds as the common downloader writes a duration: "8", "1:08", "1:01:08".
QString durationString(double seconds)
{
    const qint64 s = qint64(seconds);
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(s % 3600 / 60, 2, 10, QChar(u'0'))
            .arg(s % 60, 2, 10, QChar(u'0'));
    if (s >= 60)
        return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QChar(u'0'));
    return QString::number(s);
}

// The fields made from others: the date's seconds, the duration and size as people read them.
std::optional<QString> derivedValue(const QString &field, const Fields &f)
{
    if (field == u"uploader_id")
        return f.video.uploaderUrl.section(u'/', -1);
    if (field == u"playlist_index" && f.more.contains(field)) {
        // As wide as the playlist's count, so that names sort in the playlist's order.
        const int width = int(f.more.value(QStringLiteral("playlist_count")).toString().size());
        return QStringLiteral("%1").arg(f.more.value(field).toLongLong(), width, 10, QChar(u'0'));
    }
    if (field == u"ext")
        return f.extension;
    if (field == u"upload_date")
        return uploadDate(f.video.date);
    if (field == u"extractor_key")
        return extractorKey(f.video.site);
    if (field == u"timestamp") {
        const std::optional<qint64> seconds = timestamp(f.video.date);
        return seconds ? QString::number(*seconds) : QString();
    }
    if (field == u"duration_string") {
        const QVariant duration = f.more.value(QStringLiteral("duration"));
        return duration.isValid() ? durationString(duration.toDouble()) : QString();
    }
    if (field == u"resolution") {
        const int width = f.more.value(QStringLiteral("width")).toInt();
        const int height = f.more.value(QStringLiteral("height")).toInt();
        if (width > 0 && height > 0)
            return QStringLiteral("%1x%2").arg(width).arg(height);
        const bool soundOnly = f.more.value(QStringLiteral("vcodec")).toString().isEmpty() &&
            !f.more.value(QStringLiteral("acodec")).toString().isEmpty();
        return soundOnly ? QStringLiteral("audio only") : QString();
    }
    return std::nullopt;
}

// A field's value; no value for a field no video has, empty when this one has none.
std::optional<QString> fieldValue(const QString &field, const Fields &f)
{
    static const QHash<QString, QString VideoFields::*> plain = {{QStringLiteral("id"), &VideoFields::id},
        {QStringLiteral("site"), &VideoFields::site}, {QStringLiteral("extractor"), &VideoFields::site},
        {QStringLiteral("author"), &VideoFields::author}, {QStringLiteral("uploader"), &VideoFields::author},
        {QStringLiteral("description"), &VideoFields::description},
        {QStringLiteral("title"), &VideoFields::description}, {QStringLiteral("date"), &VideoFields::date},
        {QStringLiteral("webpage_url"), &VideoFields::address}, {QStringLiteral("url"), &VideoFields::link},
        {QStringLiteral("thumbnail"), &VideoFields::cover},
        {QStringLiteral("uploader_url"), &VideoFields::uploaderUrl}};
    if (std::optional<QString> derived = derivedValue(field, f))
        return derived;
    if (const auto it = plain.constFind(field); it != plain.cend())
        return f.video.*(*it);
    if (!knownFields().contains(field))
        return std::nullopt;
    const QVariant value = f.more.value(field);
    return value.isValid() ? value.toString() : QString();
}

// True for the fields whose values are numbers (written bare by the j and r conversions).
bool numericField(const QString &field)
{
    static const QStringList numbers = {QStringLiteral("duration"), QStringLiteral("width"), QStringLiteral("height"),
        QStringLiteral("filesize"), QStringLiteral("autonumber"), QStringLiteral("epoch"), QStringLiteral("timestamp")};
    return numbers.contains(field);
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

// text as a POSIX shell reads it back as one word: left bare when made only of characters no
// shell treats specially, else in single quotes.
QString shellQuoted(const QString &text)
{
    static const QRegularExpression safe(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
    if (safe.match(text).hasMatch())
        return text;
    return u'\'' + QString(text).replace(u'\'', QStringLiteral("'\"'\"'")) + u'\'';
}

// A value as JSON writes it: a number bare, text in quotes with every character outside ASCII
// escaped unless ascii is false.
QString jsonValue(const QString &value, bool numeric, bool ascii)
{
    bool number = false;
    value.toDouble(&number);
    if (numeric && number)
        return value;
    QString out = QStringLiteral("\"");
    for (const QChar c : value) {
        if (c == u'"' || c == u'\\')
            out += u'\\' + QString(c);
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\b')
            out += QStringLiteral("\\b");
        else if (c == u'\f')
            out += QStringLiteral("\\f");
        else if (c.unicode() < 0x20 || (ascii && c.unicode() > 0x7e))
            out += QStringLiteral("\\u%1").arg(int(c.unicode()), 4, 16, QChar(u'0'));
        else
            out += c;
    }
    return out + u'"';
}

// The conversion's text for value (empty: none); numeric when the field holds a number,
// shellWord when the text becomes one word for a program without a shell reading it.
QString formatted(const Placeholder &form, QString value, bool numeric, bool shellWord)
{
    if (!value.isEmpty() && !form.dateFormat.isEmpty())
        value = asDate(value, form.dateFormat);
    const bool given = !value.isEmpty();
    if (!value.isEmpty() && form.replacement)
        value = QString(*form.replacement).replace(QStringLiteral("{}"), value);
    else if (value.isEmpty())
        value = form.fallback.value_or(QStringLiteral("NA"));
    if (form.type == u'q' || form.type == u'j') {
        // A field without a value is converted as its default is ("NA" in JSON is text).
        const bool number = given && numeric && !form.replacement;
        if (form.type == u'q' && !shellWord)
            value = shellQuoted(value);
        else if (form.type == u'j')
            value = jsonValue(value, number, !form.flags.contains(u'+'));
        return pad(value, form, u' ');
    }
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

QString extractorKey(const QString &site)
{
    QString key = site;
    if (!key.isEmpty())
        key[0] = key[0].toUpper();
    return key;
}

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
        QStringLiteral("vcodec"), QStringLiteral("acodec"), QStringLiteral("autonumber"), QStringLiteral("epoch"),
        QStringLiteral("timestamp"), QStringLiteral("duration_string"), QStringLiteral("resolution"),
        QStringLiteral("filepath"), QStringLiteral("filename"), QStringLiteral("uploader_url"),
        QStringLiteral("uploader_id"), QStringLiteral("playlist"), QStringLiteral("playlist_id"),
        QStringLiteral("playlist_title"), QStringLiteral("playlist_index"), QStringLiteral("playlist_count"),
        QStringLiteral("playlist_uploader"), QStringLiteral("playlist_uploader_id"), QStringLiteral("n_entries")};
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

namespace {

// The fields text names, each conversion's only when keep says so.
QStringList fieldsWhere(const QString &text, const std::function<bool(const Placeholder &)> &keep)
{
    QStringList named;
    QString why;
    for (qsizetype at = text.indexOf(QStringLiteral("%(")); at >= 0; at = text.indexOf(QStringLiteral("%("), at + 1)) {
        if (at > 0 && text.at(at - 1) == u'%')
            continue;
        if (const std::optional<Placeholder> form = readPlaceholder(text, at, &why); form && keep(*form))
            named += form->fields;
    }
    return named;
}

}  // namespace

QStringList namedFields(const QString &text)
{
    return fieldsWhere(text, [](const Placeholder &) { return true; });
}

QStringList unquotedFields(const QString &text)
{
    return fieldsWhere(text, [](const Placeholder &form) { return form.type != u'q'; });
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

QString expand(const QString &text, const Fields &fields, bool forFile, bool shellWord)
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
        bool numeric = false;
        for (const QString &field : form.fields) {
            value = fieldValue(field, fields).value_or(QString());
            numeric = numericField(field);
            if (!value.trimmed().isEmpty())
                break;
        }
        if (value.trimmed().isEmpty())
            value.clear();
        // autonumber counts from 1 with five digits unless the template says otherwise.
        Placeholder applied = form;
        if (form.fields.first() == u"autonumber" && form.type == u's' && form.width == 0)
            applied = Placeholder {form.fields, {}, {}, {}, QStringLiteral("0"), 5, -1, u'd', form.end};
        const QString filled = formatted(applied, value, numeric, shellWord);
        // Each value is one file name of its own: a page's "..", "/" or "CON" never names a
        // folder or a device.
        out += forFile ? safeFileName(filled) : filled;
        at = form.end;
    }
    return out;
}

}  // namespace outtmpl
