// Output templates as script writers copy them from the common downloader's documentation:
// %(FIELD[,FIELD...][>DATE FORMAT][&REPLACEMENT][|DEFAULT])[FLAGS][WIDTH][.PRECISION]TYPE,
// "%%" for a percent sign. TYPE is s (text), d or i (a whole number), f (a number), q (text
// quoted for a POSIX shell) or j (JSON; "+" keeps characters outside ASCII);
// PRECISION cuts text to that many characters (never splitting one), WIDTH pads it (0 pads
// numbers with zeros, - pads on the right). The first of several fields that has a value is
// taken; ">" reads the value as a date (YYYYMMDD, "2015-07-08 18:00" or seconds since 1970)
// and writes it with strftime's format; "&" stands for the value when there is one ("{}" in it
// is the value); "|" for it when there is none; else it is "NA".
#pragma once

#include "record/video_fields.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace outtmpl {

// What a template is filled from: the video, its file's extension, and what is only known
// later or elsewhere (the measured duration, width, height, filesize, vcodec, acodec; the
// run's autonumber and epoch; the saved file's filepath and filename), absent when not known.
struct Fields {
    VideoFields video;
    QString extension;
    QHash<QString, QVariant> more;
};

// The service's name as the common downloader's extractor_key writes it ("Meipai").
QString extractorKey(const QString &site);

// The date as YYYYMMDD when it can be read ("2015-07-08 18:00", "2015.07.08"), else empty.
QString uploadDate(const QString &date);
// Seconds since 1970 of a date with its time (read as China's time, UTC+8); none without a time.
std::optional<qint64> timestamp(const QString &date);

// Every field a template may name.
const QStringList &knownFields();

// Why text cannot be read as a template, naming the place ("at character 7: ..."); no value
// when it can.
std::optional<QString> syntaxProblem(const QString &text);

// The fields text names, in order; those not written with the q conversion (shell-quoted).
QStringList namedFields(const QString &text);
QStringList unquotedFields(const QString &text);

// The fields text names that no video has (each is filled with NA).
QStringList unknownFields(const QString &text);

// text filled in. For a file name (forFile) each value is made one file name of its own.
// shellWord: text becomes one argument of a program with no shell reading it, so q gives
// the value as it stands. A template with a syntax problem is returned as it stands (the
// callers refuse it first).
QString expand(const QString &text, const Fields &fields, bool forFile, bool shellWord = false);

}  // namespace outtmpl
