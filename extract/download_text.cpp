#include "download_text.h"

#include <QFileInfo>
#include <QTextBoundaryFinder>
#include <QUrl>

namespace {

const QStringList VideoExtensions = {QStringLiteral("mp4"), QStringLiteral("flv"), QStringLiteral("m4v"),
    QStringLiteral("mov"), QStringLiteral("webm"), QStringLiteral("ts"), QStringLiteral("3gp")};

QString cleaned(QString name)
{
    QString out;
    for (const QChar c : name) {
        if (c == u'/' || c == u'\\' || c.category() == QChar::Other_Control || c == QChar(0x7f))
            continue;
        out += c;
    }
    out = out.trimmed();
    // Names made only of dots would mean this folder or the one above it.
    while (out.startsWith(u'.'))
        out.remove(0, 1);
    return out;
}

// The longest start of text that takes at most maxBytes in UTF-8, cut between two
// user-perceived characters (never inside a surrogate pair or an emoji sequence).
QString cutToBytes(QString text, qsizetype maxBytes)
{
    // Every UTF-16 unit takes at least one byte, so what lies past maxBytes units never fits;
    // the cut below stops before reaching the (possibly split) end of what is kept here.
    text.truncate(maxBytes + 1);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype cut = 0;
    qsizetype bytes = 0;
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary()) {
        bytes += QStringView(text).mid(cut, at - cut).toUtf8().size();
        if (bytes > maxBytes)
            break;
        cut = at;
    }
    return text.left(cut).trimmed();
}

QString extensionForType(const QString &contentType)
{
    const QString type = contentType.section(u';', 0, 0).trimmed().toLower();
    if (type == u"video/x-flv" || type == u"video/flv")
        return QStringLiteral("flv");
    return QStringLiteral("mp4");
}

}  // namespace

QString suggestedFileName(const QString &link, const QString &author, const QString &date, const QString &contentType)
{
    const QString path = QUrl(link).path(QUrl::FullyDecoded);
    const QString last = path.section(u'/', -1);
    QString base = cleaned(QFileInfo(last).completeBaseName());
    QString extension = QFileInfo(last).suffix().toLower();
    if (!VideoExtensions.contains(extension))
        extension = extensionForType(contentType);
    if (base.isEmpty())
        base = cleaned(author + (date.isEmpty() || author.isEmpty() ? QString() : QStringLiteral(" ")) + date)
                   .replace(u':', u'-');
    if (base.isEmpty())
        base = QStringLiteral("视频");
    return cutToBytes(base, MaxNameBytes - 1 - extension.size()) + u'.' + extension;
}

bool hasVideoExtension(const QString &link)
{
    const QString last = QUrl(link).path(QUrl::FullyDecoded).section(u'/', -1);
    return VideoExtensions.contains(QFileInfo(last).suffix().toLower());
}

bool fileHasVideoExtension(const QString &path)
{
    return VideoExtensions.contains(QFileInfo(path).suffix().toLower());
}

QString withTypeExtension(const QString &path, const QString &contentType)
{
    const QFileInfo info(path);
    const QString typed = info.completeBaseName() + u'.' + extensionForType(contentType);
    return info.path() == u"." && !path.startsWith(u"./") ? typed : info.path() + u'/' + typed;
}

QString byteSize(qint64 bytes)
{
    if (bytes < 1024)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes < qint64(1024) * 1024)
        return QStringLiteral("%1 KB").arg(bytes / 1024.0, 0, 'f', 1);
    if (bytes < 1024LL * 1024 * 1024)
        return QStringLiteral("%1 MB").arg(bytes / (1024.0 * 1024), 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(bytes / (1024.0 * 1024 * 1024), 0, 'f', 2);
}

QString timeLeftText(qint64 seconds)
{
    if (seconds < 0)
        return QStringLiteral("--:--");
    const QString minutes =
        QStringLiteral("%1:%2").arg(seconds / 60 % 60, 2, 10, QChar(u'0')).arg(seconds % 60, 2, 10, QChar(u'0'));
    return seconds >= 3600 ? QString::number(seconds / 3600) + u':' + minutes : minutes;
}

QString progressText(const DownloadProgress &p)
{
    QString rate = byteSize(qint64(p.bytesPerSecond)) + QStringLiteral("/s");
    if (p.total > 0 && p.secondsLeft >= 0)
        rate += QStringLiteral(", 剩余 %1").arg(timeLeftText(p.secondsLeft));
    if (p.total > 0) {
        const int percent = int(p.done * 100 / p.total);
        return QStringLiteral("正在下载视频.. %1% (%2/%3, %4)")
            .arg(percent)
            .arg(byteSize(p.done), byteSize(p.total), rate);
    }
    return QStringLiteral("正在下载视频.. %1 (%2)").arg(byteSize(p.done), rate);
}
