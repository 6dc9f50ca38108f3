#include "download_text.h"

#include <QFileInfo>
#include <QRegularExpression>
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

// The first n user-perceived characters of text (an emoji sequence counts as one).
QString firstCharacters(const QString &text, qsizetype n)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype i = 0; i < n && end >= 0 && end < text.size(); ++i)
        end = finder.toNextBoundary();
    return end < 0 ? text : text.left(end);
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
    return safeFileName(cutToBytes(base, MaxNameBytes - 1 - extension.size()) + u'.' + extension, true);
}

QString fileNamePart(const QString &value)
{
    QString out;
    bool space = false;
    for (const QChar c : value) {
        if (c.isSpace()) {
            space = !out.isEmpty();
            continue;
        }
        if (space)
            out += u' ';
        space = false;
        const bool refused =
            QStringView(u"/\\:*?\"<>|").contains(c) || c.category() == QChar::Other_Control || c == QChar(0x7f);
        out += refused ? QChar(u'_') : c;
    }
    while (out.startsWith(u'.'))
        out.remove(0, 1);
    return out;
}

namespace {

QString withoutEdgeDotsAndSpaces(QString name)
{
    const auto edge = [](QChar c) { return c == u'.' || c.isSpace(); };
    qsizetype start = 0;
    while (start < name.size() && edge(name.at(start)))
        ++start;
    qsizetype end = name.size();
    while (end > start && edge(name.at(end - 1)))
        --end;
    return name.mid(start, end - start);
}

}  // namespace

QString safeFileName(const QString &value, bool withExtension)
{
    QString name = withoutEdgeDotsAndSpaces(fileNamePart(value));
    if (name.toUtf8().size() > MaxNameBytes) {
        const qsizetype dot = withExtension ? name.lastIndexOf(u'.') : -1;
        const QString extension = dot > 0 && name.size() - dot <= 16 ? name.mid(dot) : QString();
        name = withoutEdgeDotsAndSpaces(
                   cutToBytes(name.left(name.size() - extension.size()), MaxNameBytes - extension.toUtf8().size())) +
            extension;
    }
    if (name.isEmpty())
        return QStringLiteral("_");
    // Windows keeps these names for devices, with any extension and in any case.
    static const QRegularExpression device(
        QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(\\..*)?$"), QRegularExpression::CaseInsensitiveOption);
    if (device.match(name).hasMatch())
        name.prepend(u'_');
    return name;
}

QString videoFileName(
    const QString &author, const QString &description, const QString &site, const QString &id, const QString &extension)
{
    QString text = fileNamePart(author);
    const QString said = firstCharacters(fileNamePart(description), DescriptionInName).trimmed();
    if (!said.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral(" - ")) + said.trimmed();
    const QString tag =
        QStringLiteral("[") + fileNamePart(site) + u'-' + fileNamePart(id) + QStringLiteral("].") + extension;
    const qsizetype room = MaxNameBytes - tag.toUtf8().size() - 1;
    if (room <= 0)
        return safeFileName(tag, true);
    text = cutToBytes(text, room);
    return safeFileName(text.isEmpty() ? tag : text + u' ' + tag, true);
}

QString linkVideoExtension(const QString &link)
{
    const QString extension = QFileInfo(QUrl(link).path(QUrl::FullyDecoded).section(u'/', -1)).suffix().toLower();
    return VideoExtensions.contains(extension) ? extension : QStringLiteral("mp4");
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

QString downloadErrorText(DownloadError error, int httpStatus)
{
    switch (error) {
    case DownloadError::None: return QString();
    case DownloadError::NotWeb: return QStringLiteral("该视频地址无法下载!");
    case DownloadError::ConnectFailed: return QStringLiteral("无法连接到服务器");
    case DownloadError::ConnectionLost: return QStringLiteral("网络连接中断");
    case DownloadError::TimedOut: return QStringLiteral("连接超时，服务器长时间没有响应");
    case DownloadError::TooSlow: return QStringLiteral("下载速度过慢");
    case DownloadError::Incomplete: return QStringLiteral("服务器发送的视频不完整");
    case DownloadError::HttpStatus: return QStringLiteral("服务器返回错误: %1").arg(httpStatus);
    case DownloadError::TooManyRedirects: return QStringLiteral("重定向次数过多");
    case DownloadError::DiskFull: return QStringLiteral("磁盘空间不足");
    case DownloadError::NoPermission: return QStringLiteral("没有写入权限");
    case DownloadError::WriteFailed: return QStringLiteral("无法写入文件");
    case DownloadError::NotRegularFile: return QStringLiteral("保存位置已有同名的链接、管道或文件夹");
    case DownloadError::Exists: return QStringLiteral("文件已存在");
    case DownloadError::Cancelled: return QStringLiteral("下载已取消");
    case DownloadError::Busy: return QStringLiteral("另一个下载正在写入这个文件");
    case DownloadError::Interrupted: return QStringLiteral("下载已中断,已下载的部分会在下次下载时继续");
    }
    return QString();
}

QString downloadErrorEnglish(DownloadError error, int httpStatus)
{
    switch (error) {
    case DownloadError::None: return QString();
    case DownloadError::NotWeb: return QStringLiteral("not an http address");
    case DownloadError::ConnectFailed: return QStringLiteral("cannot connect to the server");
    case DownloadError::ConnectionLost: return QStringLiteral("connection lost");
    case DownloadError::TimedOut: return QStringLiteral("timed out");
    case DownloadError::TooSlow: return QStringLiteral("too slow");
    case DownloadError::Incomplete: return QStringLiteral("the server sent an incomplete video");
    case DownloadError::HttpStatus: return QStringLiteral("HTTP status %1").arg(httpStatus);
    case DownloadError::TooManyRedirects: return QStringLiteral("too many redirects");
    case DownloadError::DiskFull: return QStringLiteral("disk full");
    case DownloadError::NoPermission: return QStringLiteral("no permission to write");
    case DownloadError::WriteFailed: return QStringLiteral("cannot write the file");
    case DownloadError::NotRegularFile: return QStringLiteral("a link, pipe or folder has the file's name");
    case DownloadError::Exists: return QStringLiteral("the file exists");
    case DownloadError::Cancelled: return QStringLiteral("cancelled");
    case DownloadError::Busy: return QStringLiteral("another download is writing this file");
    case DownloadError::Interrupted: return QStringLiteral("interrupted");
    }
    return QString();
}

QString downloadErrorCode(DownloadError error)
{
    switch (error) {
    case DownloadError::None: return QString();
    case DownloadError::NotWeb: return QStringLiteral("not_web");
    case DownloadError::ConnectFailed: return QStringLiteral("connect_failed");
    case DownloadError::ConnectionLost: return QStringLiteral("connection_lost");
    case DownloadError::TimedOut: return QStringLiteral("timed_out");
    case DownloadError::TooSlow: return QStringLiteral("too_slow");
    case DownloadError::Incomplete: return QStringLiteral("incomplete");
    case DownloadError::HttpStatus: return QStringLiteral("http_status");
    case DownloadError::TooManyRedirects: return QStringLiteral("too_many_redirects");
    case DownloadError::DiskFull: return QStringLiteral("disk_full");
    case DownloadError::NoPermission: return QStringLiteral("no_permission");
    case DownloadError::WriteFailed: return QStringLiteral("write_failed");
    case DownloadError::NotRegularFile: return QStringLiteral("not_regular_file");
    case DownloadError::Exists: return QStringLiteral("exists");
    case DownloadError::Cancelled: return QStringLiteral("cancelled");
    case DownloadError::Busy: return QStringLiteral("busy");
    case DownloadError::Interrupted: return QStringLiteral("interrupted");
    }
    return QString();
}
