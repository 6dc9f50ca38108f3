#include "script_options.h"

#include "download/video_name.h"
#include "net/fetch.h"
#include "option_table.h"
#include "options.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <fcntl.h>
#include <sys/stat.h>

QString readScriptOptions(const Args &args, CliOptions &o)
{
    o.abortOnError = args.isSet(opt::AbortOnError) && !args.isSet(opt::NoAbortOnError);
    o.mtime = args.isSet(opt::Mtime) && !args.isSet(opt::NoMtime);
    o.save.restrictNames = args.isSet(opt::RestrictFilenames);
    if (args.isSet(opt::TrimFilenames)) {
        bool ok = false;
        o.save.trimNames = args.value(opt::TrimFilenames).toInt(&ok);
        if (!ok || o.save.trimNames < 1)
            return QStringLiteral("--trim-filenames needs a number of characters");
    }
    fetch::RequestExtras &extras = o.requestExtras;
    if (args.isSet(opt::UserAgent))
        extras.headers.append({"User-Agent", args.value(opt::UserAgent).toUtf8()});
    if (args.isSet(opt::Referer))
        extras.headers.append({"Referer", args.value(opt::Referer).toUtf8()});
    static const QRegularExpression field(QStringLiteral("^[!#$%&'*+.^_`|~0-9A-Za-z-]+$"));
    for (const QString &header : args.values(opt::AddHeader)) {
        const QString name = header.section(u':', 0, 0).trimmed();
        const QString value = header.section(u':', 1).trimmed();
        if (!header.contains(u':') || !field.match(name).hasMatch() || value.contains(u'\n') || value.contains(u'\r'))
            return QStringLiteral("--add-header needs FIELD:VALUE, not %1").arg(header);
        extras.headers.append({name.toLatin1(), value.toUtf8()});
    }
    if (args.isSet(opt::Cookies)) {
        QString why;
        const std::optional<QList<fetch::Cookie>> cookies = fetch::readCookieFile(args.value(opt::Cookies), &why);
        if (!cookies)
            return QStringLiteral("--cookies: ") + why;
        extras.cookies = *cookies;
    }
    return QString();
}

namespace {

// One part of a path as --restrict-filenames keeps it: a run of other characters is one "_",
// so a value of Chinese alone stays "_" and never leaves a name empty, hidden or an option.
QString restricted(const QString &part)
{
    QString out;
    for (const QChar c : part) {
        const bool kept = c.unicode() < 128 && (c.isLetterOrNumber() || QStringLiteral("-_.[]()").contains(c));
        const QChar next = kept ? c : u'_';
        if (!(next == u'_' && out.endsWith(u'_')))
            out += next;
    }
    // A leading "_" goes only before a letter or digit ("_abc" is "abc"; "_.mp4" stays).
    while (out.size() > 1 && out.startsWith(u'_') && out.at(1).isLetterOrNumber())
        out.remove(0, 1);
    return out;
}

QString trimmed(const QString &part, int characters, bool withExtension)
{
    const QFileInfo info(part);
    const QString ext = withExtension && !info.suffix().isEmpty() ? u'.' + info.suffix() : QString();
    return firstCharacters(part.chopped(ext.size()), characters) + ext;
}

}  // namespace

QString scriptFileName(QString relative, const SaveOptions &options)
{
    if (!options.restrictNames && options.trimNames <= 0)
        return relative;
    QStringList parts = relative.split(u'/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (options.restrictNames)
            parts[i] = restricted(parts[i]);
        if (options.trimNames > 0)
            parts[i] = trimmed(parts[i], options.trimNames, i + 1 == parts.size());
        parts[i] = safeFileName(parts[i], i + 1 == parts.size());
    }
    return parts.join(u'/');
}

void setFileTime(const QString &path, const QByteArray &lastModified)
{
    // The server's own time for the file, as the common downloader takes it; without one the
    // file keeps the time it was written.
    const QDateTime when = fetch::httpDate(lastModified);
    if (!when.isValid())
        return;
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(when.toSecsSinceEpoch()), 0}};
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW);
}
