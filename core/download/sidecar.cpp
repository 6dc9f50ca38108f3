#include "download/sidecar.h"

#include "download/output_template.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QUrl>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The mode a new file gets from open(2): 0666 less the umask, as the videos get.
mode_t newFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

QString sidecarPath(const QString &videoPath, const QString &ext)
{
    const QFileInfo info(videoPath);
    const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(base + ext);
}

bool writeSidecar(const QString &path, const QByteArray &content, QString *why)
{
    QByteArray temp = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + done, size_t(content.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    const int writeError = errno;
    ::fchmod(fd, newFileMode());  // mkstemp makes it 0600
    const bool whole = done == content.size() && ::fsync(fd) == 0;
    ::close(fd);
    // A hard link puts the file in place only when the name is free; the temporary name goes.
    const bool placed = whole && ::link(temp.constData(), QFile::encodeName(path).constData()) == 0;
    const int linkError = errno;
    ::unlink(temp.constData());
    if (placed)
        return true;
    *why = !whole             ? QString::fromLocal8Bit(std::strerror(writeError ? writeError : ENOSPC))
        : linkError == EEXIST ? QStringLiteral("a file of that name exists")
                              : QString::fromLocal8Bit(std::strerror(linkError));
    return false;
}

QByteArray videoInfoJson(const VideoFields &v, const QString &avatar, const QDateTime &saved, const QString &file,
    const QVariantHash &measured)
{
    QJsonObject o {{QStringLiteral("site"), v.site}, {QStringLiteral("id"), v.id},
        {QStringLiteral("address"), v.address}, {QStringLiteral("video_url"), v.link},
        {QStringLiteral("author"), v.author}, {QStringLiteral("description"), v.description},
        {QStringLiteral("date"), v.date}, {QStringLiteral("cover_url"), v.cover},
        {QStringLiteral("avatar_url"), avatar}, {QStringLiteral("saved"), saved.toUTC().toString(Qt::ISODate)}};
    // The same again under the names other tools and media libraries read.
    const QFileInfo saveName(file);
    o.insert(QStringLiteral("title"), v.description.trimmed().isEmpty() ? saveName.completeBaseName() : v.description);
    o.insert(QStringLiteral("uploader"), v.author);
    if (!v.uploaderUrl.isEmpty()) {
        o.insert(QStringLiteral("uploader_url"), v.uploaderUrl);
        o.insert(QStringLiteral("uploader_id"), v.uploaderUrl.section(u'/', -1));
    }
    o.insert(QStringLiteral("upload_date"), outtmpl::uploadDate(v.date));
    if (const std::optional<qint64> seconds = outtmpl::timestamp(v.date))
        o.insert(QStringLiteral("timestamp"), *seconds);
    o.insert(QStringLiteral("webpage_url"), v.address);
    o.insert(QStringLiteral("url"), v.link);
    o.insert(QStringLiteral("ext"), file.isEmpty() ? linkVideoExtension(v.link) : saveName.suffix());
    o.insert(QStringLiteral("thumbnail"), v.cover);
    o.insert(QStringLiteral("extractor"), v.site);
    o.insert(QStringLiteral("extractor_key"), outtmpl::extractorKey(v.site));
    if (!file.isEmpty()) {
        o.insert(QStringLiteral("filename"), saveName.absoluteFilePath());
        o.insert(QStringLiteral("filepath"), saveName.absoluteFilePath());
    }
    // What the link serves, which may differ from the file on disk after a conversion (an MP3
    // beside an FLV's link): a tool that loads this file downloads the format and names it
    // by the format's own extension.
    QString served = linkVideoExtension(v.link);
    if (!hasVideoExtension(v.link) && hasVideoExtension(saveName.fileName()))
        served = saveName.suffix().toLower();
    o.insert(QStringLiteral("formats"),
        QJsonArray {QJsonObject {{QStringLiteral("format_id"), QStringLiteral("0")}, {QStringLiteral("url"), v.link},
            {QStringLiteral("ext"), served}, {QStringLiteral("protocol"), QStringLiteral("http")}}});
    for (auto it = measured.cbegin(); it != measured.cend(); ++it)
        o.insert(it.key(), QJsonValue::fromVariant(it.value()));
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QString coverExtension(const QString &cover)
{
    const QString ext = QFileInfo(QUrl(cover).path()).suffix().toLower();
    for (const char *known : {"jpg", "jpeg", "png", "webp", "gif"}) {
        if (ext == QLatin1String(known))
            return u'.' + ext;
    }
    return QStringLiteral(".jpg");
}

QString imageExtension(const QByteArray &bytes)
{
    if (bytes.startsWith("\xFF\xD8\xFF"))
        return QStringLiteral(".jpg");
    if (bytes.startsWith("\x89PNG\r\n\x1A\n"))
        return QStringLiteral(".png");
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a"))
        return QStringLiteral(".gif");
    if (bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP")
        return QStringLiteral(".webp");
    return QString();
}

bool isImageData(const QByteArray &bytes)
{
    return !imageExtension(bytes).isEmpty();
}

bool keepCover(const fetch::Result &answer, const QString &path, QString *why)
{
    if (!answer.ok) {
        *why = answer.failure == fetch::Failure::TooLarge ? QStringLiteral("larger than 8 MiB") : answer.error;
        return false;
    }
    if (answer.status != 200) {
        *why = QStringLiteral("the server answered %1").arg(answer.status);
        return false;
    }
    if (!isImageData(answer.body)) {
        *why = QStringLiteral("not a picture");
        return false;
    }
    return writeSidecar(path, answer.body, why);
}
