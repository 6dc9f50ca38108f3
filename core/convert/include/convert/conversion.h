// A saved video made into another file beside it (MP4 from FLV, or the sound alone as M4A or
// MP3, tags and cover inside), by the converter's own process: started, watched against a
// deadline and ended when cancelled; its output put in place under the download naming rules.
#pragma once

#include "record/convert_kinds.h"
#include "record/video_fields.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <functional>
#include <optional>

namespace convert {

// "mp4", "m4a", "mp3": the file's extension and the name scripts use.
QString kindName(Kind kind);
QString kindCaption(Kind kind);  // the menu's text: "仅保存音频 (MP3)"
std::optional<Kind> kindNamed(const QString &name);
// True for a file whose extension names a kind that keeps only the sound (NAME.mp3, NAME.m4a).
bool isSoundFileName(const QString &path);

struct Request {
    QString source;  // the saved video
    Kind kind = Kind::Mp4;
    int mp3Quality = 2;      // VBR quality 0-9 when mp3Bitrate is 0
    int mp3Bitrate = 0;      // kbit/s
    bool embedTags = false;  // title, artist, date and the share address inside
    QByteArray cover;        // a picture put inside as the cover; empty: none
    VideoFields video;       // the tags, and the link recorded as the output's origin
    // The output takes the source's place (an MP4 with its tags and cover written in, by a
    // stream copy checked as every conversion is) instead of a name of its own beside it.
    bool replaceSource = false;
    // The name the output takes first; empty: the source's with the kind's extension.
    QString target;
};

struct Result {
    QString file;          // the new file (or the earlier one of this video)
    bool existed = false;  // it was there already: nothing was converted
    QString code;          // empty when it worked: "unfit_codec", "timeout", "crashed"...
    QString error;         // a short English reason
    double seconds = 0;    // how long the conversion took
    bool ok() const { return code.isEmpty(); }
    QString text() const;  // the reason in Chinese, for people
};

// The name the converted file of source takes first: source with the kind's extension.
QString convertedName(const QString &source, Kind kind);

// "仅保存音频": the video is fetched under a hidden name of its own beside the sound file the
// user chose (never a video of theirs), and removed once the sound is made from it.
// soundSourcePath gives that name for the chosen sound file; soundTargetOf the chosen sound
// file back from it, empty for any other name.
QString soundSourcePath(const QString &soundFile, const QString &videoExtension);
QString soundTargetOf(const QString &videoFile);

// What a media file holds, measured by the converter's process.
struct MediaFacts {
    double duration = -1;
    int width = 0;
    int height = 0;
    QString vcodec;
    QString acodec;
    QString container;
};

// Removes the hidden output names (".quorvin-converting-PID-...") that conversions of
// programs no longer running left in folder: where the file system cannot make a file without
// a name, a killed program leaves its output's name behind. Another running program's stay.
void removeLeftovers(const QString &folder);

// The converter's process: QUORVIN_MEDIA_HELPER when set, else beside the program or in the
// package's private folder.
QString helperProgram();

// How long a conversion of a file of bytes may take: 60 s and 1 s per 10 MB.
int deadlineMs(qint64 bytes);

// One conversion in the converter's process. progress: percent of the input read.
class Conversion : public QObject {
    Q_OBJECT
public:
    explicit Conversion(QObject *parent = nullptr);
    ~Conversion() override;
    // One conversion a Conversion: start once.
    void start(const Request &request);
    // Ends the process (or what has not started yet); finished() follows with "cancelled".
    void cancel();
    bool isRunning() const;

signals:
    void progress(int percent);
    void finished(const convert::Result &result);

private:
    void onOutput();
    void onEnded();
    void end(Result result);
    void closeOutput();

    Request request_;
    QProcess process_;
    int output_ = -1;    // the output's file, open; -1 when none
    QString temporary_;  // its hidden name where the file system cannot make one without
    QString lastLine_;
    QByteArray pending_;
    qint64 startedAt_ = 0;
    bool cancelled_ = false;
    bool started_ = false;
    bool ended_ = false;
    bool timedOut_ = false;
    int timer_ = 0;
    void timerEvent(QTimerEvent *event) override;
};

// The facts of a file, or no value when it cannot be read as media.
std::optional<MediaFacts> probeFile(const QString &path);

}  // namespace convert

Q_DECLARE_METATYPE(convert::Result)
