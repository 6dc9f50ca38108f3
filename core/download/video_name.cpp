#include "download/video_name.h"

#include "download/download.h"
#include "download/output_template.h"
#include "part_file.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
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

namespace {

bool isDirectionControl(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x200E || u == 0x200F || u == 0x061C;
}

}  // namespace

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
        // Direction controls (U+202E and its kin) would show a name other than it is: dropped.
        if (isDirectionControl(c))
            continue;
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
    // A file's name that starts with "-" would be read as an option by the commands given it.
    if (withExtension && name.startsWith(u'-'))
        name[0] = u'_';
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

namespace {

}  // namespace

QString numberedName(const QString &path, int n)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    return info.dir().filePath(
        info.completeBaseName() + QStringLiteral(" (%1)").arg(n) + (suffix.isEmpty() ? QString() : u'.' + suffix));
}

NameState nameStateOf(const QString &path, const QString &link, bool firstNameCarriesId)
{
    const partfile::Kind kind = partfile::kindOf(path);
    if (kind == partfile::Kind::Missing) {
        // A part of another link under this name belongs to another video's download, whether
        // one connection or several wrote it.
        const QString controlPath = Download::controlPath(path);
        if (const auto control = partfile::readControl(controlPath))
            return control->url != link ? NameState::Taken : NameState::Free;
        if (const auto ranges = partfile::readRangeControl(controlPath))
            return ranges->link != link ? NameState::Taken : NameState::Free;
        return NameState::Free;
    }
    if (kind != partfile::Kind::Regular)
        return NameState::Taken;
    const partfile::Origin origin = partfile::originOf(path);
    if (origin.url == link || (!origin.supported && firstNameCarriesId))
        return NameState::ThisVideo;
    return NameState::Taken;
}

bool holdsVideoFrom(const QString &path, const QString &link)
{
    return partfile::originOf(path).url == link;
}

SavePlace savePlace(const QString &first, const QStringList &links, bool firstNameCarriesId)
{
    // A folder of a thousand taken names is not searched further: the last is tried, and
    // the download's own refusal to replace a file says why.
    constexpr int MostTried = 1000;
    for (int n = 1;; ++n) {
        const QString name = n == 1 ? first : numberedName(first, n);
        bool free = false;
        for (const QString &link : links) {
            if (link.isEmpty())
                continue;
            const NameState state = nameStateOf(name, link, n == 1 && firstNameCarriesId);
            if (state == NameState::ThisVideo)
                return {name, true};
            free = free || state == NameState::Free;
        }
        if (free || n == MostTried)
            return {name, false};
    }
}

std::optional<QString> templateProblem(const QString &nameTemplate)
{
    if (QDir::isAbsolutePath(nameTemplate))
        return QStringLiteral("the template names a path below the folder, not an absolute one");
    if (nameTemplate.split(u'/').contains(QStringLiteral("..")))
        return QStringLiteral("the template may not climb out of the folder with ..");
    if (nameTemplate.endsWith(u'/'))
        return QStringLiteral("the template names a folder, not a file");
    if (std::optional<QString> why = outtmpl::syntaxProblem(nameTemplate))
        return QStringLiteral("the template cannot be read ") + *why;
    return std::nullopt;
}

QStringList unknownTemplateFields(const QString &text)
{
    return outtmpl::unknownFields(text);
}

QString expandTemplate(const QString &nameTemplate, const VideoFields &video, const QString &extension, bool forFile)
{
    return expandTemplate(nameTemplate, outtmpl::Fields {video, extension, {}}, forFile);
}

QString expandTemplate(const QString &nameTemplate, const outtmpl::Fields &fields, bool forFile)
{
    QString out = outtmpl::expand(nameTemplate, fields, forFile);
    if (!forFile)
        return out;
    // Every part of the path within a file name's length, the extension kept on the last.
    QStringList parts = out.split(u'/');
    for (qsizetype i = 0; i < parts.size(); ++i)
        parts[i] = safeFileName(parts[i], i + 1 == parts.size());
    return parts.join(u'/');
}

QString videoName(const VideoFields &video, const QString &nameTemplate, const QHash<QString, QVariant> &more)
{
    const QString extension = linkVideoExtension(video.link);
    if (video.site.isEmpty())
        return suggestedFileName(video.link, video.author, video.date);
    return nameTemplate.isEmpty() ? videoFileName(video.author, video.description, video.site, video.id, extension)
                                  : expandTemplate(nameTemplate, outtmpl::Fields {video, extension, more});
}

QString firstCharacters(const QString &text, qsizetype n)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype i = 0; i < n && end >= 0 && end < text.size(); ++i)
        end = finder.toNextBoundary();
    return end < 0 ? text : text.left(end);
}
