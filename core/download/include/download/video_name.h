// How a video's file is named, the same in the window and on the command line: the default
// name, a -o template's, the name offered for a bare link, the " (n)" variants, and whether a
// name already holds this very video.
#pragma once

#include <QHash>
#include <QString>
#include <QVariant>
#include <QStringList>
#include <optional>

#include "download/output_template.h"
#include "record/video_fields.h"

// The name a video is saved under, below the chosen folder: the template's when nameTemplate
// is not empty (expandTemplate), else the default (videoFileName). A link shown without an
// extraction (no service) is named after the link itself (suggestedFileName). The extension
// is the link's (linkVideoExtension); a download sets the answer's type when the link names
// none.
// more: what a template may name beyond the video (the run's autonumber).
QString videoName(
    const VideoFields &video, const QString &nameTemplate = QString(), const QHash<QString, QVariant> &more = {});

// "name (n).ext" beside path: the n-th name tried when the first is taken.
QString numberedName(const QString &path, int n);

// What stands at a candidate name for the video at link: nothing (or a part of this link), this
// very video (the file records link as its origin; where the file system keeps no attributes,
// a file under a name that carries the video's id, firstNameCarriesId), or something else.
enum class NameState { Free, ThisVideo, Taken };
NameState nameStateOf(const QString &path, const QString &link, bool firstNameCarriesId);

// True when path is a file that records link as its origin.
bool holdsVideoFrom(const QString &path, const QString &link);

// Where a video is saved when first is its name: first when it is free, else the first free
// " (n)" variant; thisVideo when one of them already holds this very video. links: the
// video's link and the links it had before (a link expires; a part or a file may name an
// earlier one).
struct SavePlace {
    QString file;
    bool thisVideo = false;
};
SavePlace savePlace(const QString &first, const QStringList &links, bool firstNameCarriesId);

// A file name for the video at link: the link's own file name, or author and date when the
// link has none; the extension from the link when it names a video type, else from the
// answer's type (contentType, may be empty), else ".mp4". Path separators and control
// characters are taken out, so the name always stays inside the chosen folder. The name takes
// at most MaxNameBytes in UTF-8 (room is left for ".part.meta" within the system's 255),
// shortened between characters.
inline constexpr qsizetype MaxNameBytes = 240;
QString suggestedFileName(
    const QString &link, const QString &author, const QString &date, const QString &contentType = QString());

// The name a video is saved under by default, the same in the window and on the command
// line, readable and never shared by two videos: "author - description [site-id].ext", the
// description cut to DescriptionInName characters, the whole within MaxNameBytes; characters
// that file systems refuse (/ \ : * ? " < > | and controls) are replaced by "_".
inline constexpr qsizetype DescriptionInName = 40;
QString videoFileName(const QString &author, const QString &description, const QString &site, const QString &id,
    const QString &extension);

// A value made safe as one part of a file name: refused characters replaced by "_", white
// space runs as one space, no leading dots.
QString fileNamePart(const QString &value);

// A text made one file name, whatever a page put in it, and one that copies onto any file
// system as it is: "/", "\", NUL, control characters and what Windows refuses (< > : " | ? *)
// replaced by "_", white space runs as one space, leading and trailing dots and spaces removed
// after everything else, a name of nothing (".", "..", "") as "_", a device name Windows keeps
// (CON, NUL, COM1...) with "_" before it, and the whole cut to MaxNameBytes of UTF-8 between
// two characters; withExtension (a file's whole name): the extension kept, and a leading "-"
// made "_" so that no command reads the name as an option.
QString safeFileName(const QString &value, bool withExtension = false);

// The first n user-perceived characters of text: a cut never splits one (an emoji sequence
// counts as one).
QString firstCharacters(const QString &text, qsizetype n);

// The extension a video from link is saved with before its answer's type is known.
QString linkVideoExtension(const QString &link);

// True when the link's file name ends in a video type's extension.
bool hasVideoExtension(const QString &link);

// True when a local file name ends in a video type's extension ("海边 2015.07.08" does not).
bool fileHasVideoExtension(const QString &path);

// path with its extension set by the answer's type (.flv for FLV, else .mp4).
QString withTypeExtension(const QString &path, const QString &contentType);

// Why a -o template cannot be used (absolute, "..", a folder) or no value when it can.
std::optional<QString> templateProblem(const QString &nameTemplate);

// The fields of a template that no video has ("%(views)s"): each is filled with "NA".
QStringList unknownTemplateFields(const QString &text);

// The template with its fields filled in: %(id)s, %(site)s, %(extractor)s and
// %(extractor_key)s (the service), %(author)s and %(uploader)s, %(description)s and
// %(title)s, %(date)s, %(upload_date)s (YYYYMMDD when the date can be read), %(webpage_url)s
// (the share address), %(url)s (the video link), %(thumbnail)s (the cover), %(ext)s; "%%" is
// a percent sign; an empty or unknown field is "NA". For a file name (forFile) each value is
// made one file name, and so is every part of the filled path.
// The full grammar is output_template.h's.
QString expandTemplate(
    const QString &nameTemplate, const VideoFields &video, const QString &extension, bool forFile = true);
QString expandTemplate(const QString &nameTemplate, const outtmpl::Fields &fields, bool forFile = true);
