// The result area as the extraction's view: the author, description and date captions, the
// badges, the cover and the avatar, and the video they show. It is the live view of the
// window's own runs; the run's last status and the extract button wait until the display
// step's pictures are shown, so the window never says 视频提取完毕 over an empty cover.
#pragma once

#include "extract/extraction_queue.h"
#include "record/video_fields.h"

#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <functional>
#include <optional>

class AlphaImage;
class QLabel;
class QPushButton;

class ResultPanel : public QObject, public ExtractionView {
    Q_OBJECT
public:
    struct Controls {
        QLabel *author, *description, *date;  // Label1, Label2, Label3
        QLabel *cover, *avatar;               // Image1, Image2
        AlphaImage *face;                     // aicAlphaImage3: the round avatar
        AlphaImage *weishiBadge, *miaopaiBadge;
        QPushButton *extract;  // Command1
    };
    // What the last run's display step showed of its video.
    struct Shown {
        QString cover;         // the cover address it loaded
        QString avatar;        // the avatar address, for the video's information file
        QString name;          // the file name the video is offered under
        VideoFields video;     // the video's fields
        QPixmap coverPicture;  // the cover as shown, again when the preview stops
    };

    // facePath: where 快手's avatar file is kept.
    ResultPanel(const Controls &controls, QString facePath, QObject *parent);

    // The window's status line, and the rest of its start-up look (the preview's).
    std::function<void(const QString &)> showStatus;
    std::function<void()> resetRest;

    const Shown &shown() const { return shown_; }
    // The display step waits for its pictures.
    bool waitingForPictures() const { return pictures_; }
    // A new run of the window's started: pictures of an earlier one still loading are not shown.
    void runStarted();
    // The run ended: the video it gives is the one the panel shows.
    void runFinished(const ExtractionRequest &request, const ExtractedVideo &video);

    // ExtractionView
    void hideBadges() override;
    void setStatus(const QString &text) override;
    void setExtractEnabled(bool enabled) override;
    void resetForExtraction() override;
    void applyDisplay(const DisplayPlan &plan) override;

signals:
    // The display step's pictures are shown, and the run's last status with them.
    void displayShown();

private:
    void showDisplay(const DisplayPlan &plan, const QList<QImage> &pictures);

    Controls c_;
    QString facePath_;
    Shown shown_;
    quint64 display_ = 0;  // counts display steps: a late picture of an earlier one is dropped
    bool pictures_ = false;
    std::optional<QString> heldStatus_;
    std::optional<bool> heldEnabled_;
};
