#include "playlist_options.h"

#include "option_table.h"

#include <QRegularExpression>
#include <QSet>

namespace {

std::optional<qsizetype> number(const QString &text, bool *ok)
{
    if (text.isEmpty())
        return std::nullopt;
    const qsizetype n = text.toLongLong(ok);
    return n;
}

}  // namespace

std::optional<QList<ItemRange>> parseItems(const QString &text)
{
    QList<ItemRange> out;
    for (const QString &raw : text.split(u',')) {
        const QString item = raw.trimmed();
        // START-STOP is the older form of START:STOP.
        static const QRegularExpression dashed(QStringLiteral("^(\\d+)-(\\d+)$"));
        const QRegularExpressionMatch d = dashed.match(item);
        const QStringList parts = d.hasMatch() ? QStringList {d.captured(1), d.captured(2)} : item.split(u':');
        if (item.isEmpty() || parts.size() > 3)
            return std::nullopt;
        bool ok = true;
        ItemRange r;
        r.start = number(parts[0], &ok);
        if (!ok)
            return std::nullopt;
        if (parts.size() == 1) {
            if (!r.start || *r.start == 0)
                return std::nullopt;
            r.stop = r.start;
        } else {
            r.stop = number(parts[1], &ok);
            if (!ok)
                return std::nullopt;
            if (parts.size() == 3 && !parts[2].isEmpty()) {
                r.step = parts[2].toLongLong(&ok);
                if (!ok || r.step == 0)
                    return std::nullopt;
            }
        }
        out.append(r);
    }
    return out;
}

QList<qsizetype> chooseItems(const QList<ItemRange> &items, qsizetype count)
{
    QList<qsizetype> out;
    if (items.isEmpty()) {
        for (qsizetype i = 1; i <= count; ++i)
            out.append(i);
        return out;
    }
    QSet<qsizetype> taken;
    // A negative place counts from the end: -1 is the last.
    const auto place = [count](qsizetype n) { return n < 0 ? count + 1 + n : n; };
    for (const ItemRange &r : items) {
        const bool back = r.step < 0;
        qsizetype from = r.start ? place(*r.start) : (back ? count : 1);
        qsizetype to = r.stop ? place(*r.stop) : (back ? 1 : count);
        // Places before the first or after the last are skipped in whole steps, not one by one.
        const qsizetype stride = back ? -r.step : r.step;
        if (!back && from < 1)
            from += (1 - from + stride - 1) / stride * stride;
        if (back && from > count)
            from -= (from - count + stride - 1) / stride * stride;
        for (qsizetype i = from; back ? i >= to : i <= to; i += r.step) {
            if (i >= 1 && i <= count && !taken.contains(i)) {
                taken.insert(i);
                out.append(i);
            }
            if ((back && i < 1) || (!back && i > count))
                break;
        }
    }
    return out;
}

std::optional<QDate> parseDay(const QString &text, const QDate &today)
{
    const QString t = text.trimmed().toLower();
    static const QRegularExpression plain(QStringLiteral("^(\\d{4})(\\d{2})(\\d{2})$"));
    if (const QRegularExpressionMatch m = plain.match(t); m.hasMatch()) {
        const QDate day(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        return day.isValid() ? std::optional(day) : std::nullopt;
    }
    static const QRegularExpression relative(
        QStringLiteral("^(now|today|yesterday)(?:([+-])(\\d+)\\s*(day|week|month|year)s?)?$"));
    const QRegularExpressionMatch m = relative.match(t);
    if (!m.hasMatch())
        return std::nullopt;
    QDate day = m.captured(1) == u"yesterday" ? today.addDays(-1) : today;
    if (m.capturedLength(2) == 0)
        return day;
    const int n = (m.captured(2) == u"-" ? -1 : 1) * m.captured(3).toInt();
    const QString unit = m.captured(4);
    if (unit == u"day")
        return day.addDays(n);
    if (unit == u"week")
        return day.addDays(qint64(7) * n);
    if (unit == u"month")
        return day.addMonths(n);
    return day.addYears(n);
}

bool inDateRange(const QString &uploadDate, const PlaylistOptions &o)
{
    // A work whose day the list does not tell is kept, as the common downloader keeps it.
    const QDate day = QDate::fromString(uploadDate, QStringLiteral("yyyyMMdd"));
    if (!day.isValid())
        return true;
    return (!o.after.isValid() || day >= o.after) && (!o.before.isValid() || day <= o.before);
}

QString readPlaylistOptions(const Args &args, PlaylistOptions &o)
{
    o.single = args.isSet(opt::SingleJson);
    o.flat = args.isSet(opt::FlatPlaylist);
    o.breakOnExisting = args.isSet(opt::BreakOnExisting);
    if (args.isSet(opt::PlaylistItems)) {
        const std::optional<QList<ItemRange>> items = parseItems(args.value(opt::PlaylistItems));
        if (!items)
            return QStringLiteral("-I needs places such as 1:10,15,-3::1, not %1").arg(args.value(opt::PlaylistItems));
        o.items = *items;
    }
    const auto positive = [&args](opt::Id id, qsizetype most, qsizetype &into) {
        if (!args.isSet(id))
            return true;
        bool ok = false;
        const qsizetype n = args.value(id).toLongLong(&ok);
        if (!ok || n < 1 || n > most)
            return false;
        into = n;
        return true;
    };
    qsizetype downloads = 0;
    qsizetype pages = o.maxPages;
    if (!positive(opt::MaxDownloads, 1000000000, downloads))
        return QStringLiteral("--max-downloads needs a number of 1 or more");
    o.maxDownloads = int(downloads);
    if (!positive(opt::ListingPages, 1000000, pages))
        return QStringLiteral("--max-listing-pages needs a number from 1 to 1000000");
    o.maxPages = int(pages);
    if (!positive(opt::ListingWorks, 100000000, o.maxWorks))
        return QStringLiteral("--max-listing-works needs a number from 1 to 100000000");
    for (const auto &[id, day] : {std::pair {opt::DateAfter, &o.after}, std::pair {opt::DateBefore, &o.before}}) {
        if (!args.isSet(id))
            continue;
        const std::optional<QDate> read = parseDay(args.value(id));
        if (!read)
            return QStringLiteral("--%1 needs a day such as 20160601 or today-2weeks, not %2")
                .arg(Args::name(id), args.value(id));
        *day = *read;
    }
    return QString();
}
