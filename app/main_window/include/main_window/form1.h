// The one window of the program: every control, the shared record and every handler.
#pragma once

#include "record/convert_kinds.h"
#include "download/download.h"
#include "extract/driver.h"
#include "extract/extraction_queue.h"
#include "downloads/session.h"
#include "record/result.h"
#include "desktop/seams.h"
#include "download/video_name.h"
#include "main_window/download_follow.h"
#include "settings/settings.h"
#include "sites/sites.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QRegion>
#include <QWidget>
#include <array>

class AddressBox;
class BatchRun;
class DownloadList;
class WorksWindow;
class FollowedWindow;
class ListWindow;
class AlphaImage;
class MediaPlayerWidget;
class PlayerControl;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QPushButton;
class QRadioButton;
class QSlider;
class QTimer;

class ResultPanel;
class VersionCheck;

class Form1 : public QWidget {
    Q_OBJECT
public:
    static constexpr int DesignWidth = 777;
    static constexpr int DesignHeight = 571;
    static inline const QString Title = QStringLiteral("QuorvinAPP视频助手 V1.0");
    static inline const QString AppVersion = QStringLiteral("V1.0");
    static inline const QString WelcomeText = QStringLiteral("欢迎使用Quorvin系列软件 ..");
    // How long an address handed in at start waits for the description-set check.
    static constexpr int SetWaitMs = 5000;
    static inline const QString HintText = QStringLiteral("请在此粘贴您要获取的微视视频页面地址");
    static inline const QString StartAuthorText = QStringLiteral("用户名");
    static inline const QString StartDateText = QStringLiteral("日期");
    static inline const QString StartDescriptionText = QStringLiteral("描述");

    // session: the program's queue and downloads, made before the window; none: the window
    // makes one of its own (a window alone, as tests make it).
    explicit Form1(const Seams &seams = Seams::system(), QWidget *parent = nullptr, Session *session = nullptr);
    ~Form1() override;

    // Controls, by their names.
    QGroupBox *Frame1, *Frame2;
    std::array<QLabel *, 2> Labe1;
    std::array<QRadioButton *, SiteCount> Option1;
    QLineEdit *Text1;
    QPushButton *Command1, *Command2, *Command3, *Command4, *Command5;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label10;
    QLabel *Image1, *Image2, *Image8, *Image9, *Image10;
    AlphaImage *aicAlphaImage1, *aicAlphaImage2, *aicAlphaImage3, *aicAlphaImage4, *aicAlphaImage5, *aicAlphaImage8;
    QWidget *Picture1;
    QFrame *Line2, *Line3;
    QSlider *Slider1;
    MediaPlayerWidget *W1;
    QTimer *Timer1;

    // The shared record of every extraction.
    ExtractionResult Result;
    Seams seams;

    // The player the window drives: W1, or a stand-in installed by a test.
    PlayerControl *player() const { return player_; }
    void setPlayer(PlayerControl *player);

    QRegion outlineRegion() const { return chrome_.outline; }
    QString faceFilePath() const;

    // Every extraction's queue: the window's presses and the downloads' batch, restore, 重试.
    ExtractionQueue *extractions() const { return extractions_; }
    // The window's extraction is waiting, running or showing its pictures.
    bool extracting() const;
    // The version check at start was answered (or could not be).
    bool versionChecked() const;

    // 下载列表, made when first opened.
    ListWindow *downloadListWindow();
    // The list's window when it was made already, else null.
    ListWindow *listWindowIfMade() const;
    void openDownloadList();
    // The download 下载视频 started last: the one the status line follows.
    qint64 lastDownload() const { return downloads_.follow.followed(); }
    // Every download of 下载视频, in the list and its history: set up once the window was
    // first shown, or when first asked for.
    DownloadList *downloads();

    // An author's works in their window (made when first asked), listed from address.
    WorksWindow *openWorks(int site, const QString &address);
    // 关注的作者, made when first asked (hidden while a check at start runs).
    FollowedWindow *followedWindow();
    void openFollowed();
    // "查看作者全部作品": shown under the author when the video's page links its author.
    QPushButton *authorLink() const { return authorLink_; }

    // An address handed to the program (its command line): put in the box with its service
    // selected, and extracted as soon as the window is usable.
    void handInAddress(const QString &address);

    // Handlers.
    void Option1_Click(int index);
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Timer1_Timer();
    void Slider1_Scroll();
    void aicAlphaImage1_MouseMove();
    void aicAlphaImage2_MouseLeave();
    void aicAlphaImage2_MouseUp();
    void W1_PlayStateChange(int NewState);
    void tzstop();

    // Chrome (the self-drawn frame and caption buttons).
    void DrawMinimise(int row);
    void DrawClose(int row);
    int minimiseRow() const { return chrome_.minimiseRow; }
    int closeRow() const { return chrome_.closeRow; }
    int dragRequests() const { return chrome_.dragRequests; }  // presses that asked the system to move

    // Colours of the feedback label.
    static inline const QColor FeedbackRest = QColor(231, 231, 231);
    static inline const QColor FeedbackHover = QColor(255, 255, 255);
    static inline const QColor FeedbackPressed = QColor(255, 0, 0);

signals:
    // 复制地址 put the video link on the clipboard.
    void linkCopied(const QString &link);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    bool feedbackLabelEvent(QEvent *event);

private:
    void buildControls();
    void bindControls();
    void setFirstLook();
    void connectControls();
    void setupKeyboardAndDrops();
    // Selects the service when it is not selected yet, as a click on its button does.
    void selectSite(int site);
    void Form_Load();
    void launch(const QString &address);
    int ask(const QString &text, BoxIcon icon, BoxButtons buttons);
    void refuseWithoutVideo();
    // The extracted video link, or nothing before an extraction and after one that failed.
    QString videoLink() const;
    // Saves the video at link; convertTo (a sound-only kind): only its sound is kept.
    void saveVideo(const QString &link, std::optional<convert::Kind> convertTo = std::nullopt);
    // 下载视频, or its menu's "仅保存音频": the checks, then saveVideo.
    void downloadAs(std::optional<convert::Kind> convertTo);
    void extractHandedInAddress();
    // The rest of a current version's start: controls enabled, the clipboard, the description
    // set update and an address handed in.
    void becomeUsable();
    // The version file's text arrived (empty when it could not be fetched).
    void versionAnswered(const QString &answer);
    // The status line's word on refused description files and what is used instead; empty
    // when none was refused.
    static QString refusalText();
    void downloadProgress(qint64 id, const DownloadProgress &progress);
    void downloadFinished(qint64 id, DownloadError error, int httpStatus);
    void batchFinished(int saved, int failed);
    // The window's request came back from the extraction queue: its record becomes the window's.
    void pressFinished(const ExtractionRequest &request, const ExtractedVideo &video);
    void setupDownloadList();
    // Several share addresses at once: asked whether all go to the list; 否 pastes the first.
    void offerAddresses(const QStringList &addresses, const QString &text);
    void takeDroppedOnList(const QMimeData *mime);
    // "监视剪贴板": a copied share address, now that the box is free, put in it and extracted.
    void watchClipboard();
    void takeCopiedAddress(const QString &address);
    // 下载视频 for a video the history holds as saved: true when the user wants it again.
    bool downloadAgain();
    // The unfinished downloads of an earlier run, once the version check let the window on.
    void restoreDownloads();
    void setLabel10Colour(const QColor &colour);
    // A hidden paint source's picture, decoded the first time the frame is drawn.
    static QPixmap sourcePicture(QLabel *source);
    void setStatus(const QString &text);
    // A download's or a batch's text: a click on the status line opens the list.
    void setDownloadStatus(const QString &text);

    int selectedSite() const;  // the first selected service button, -1 if none

    // The rest of the start-up look of a new run's result: the record emptied, the preview's
    // play symbol and cover back, the player unloaded.
    void resetPreview();

    // The ways to an author's works: the link under the author, a click on the avatar or name.
    void setupWorks();
    void showAuthorLink();
    void openShownAuthor();

    PlayerControl *player_;
    AddressBox *addressBox_ = nullptr;  // what Text1 does
    QPushButton *authorLink_ = nullptr;

    // The self-drawn frame: its outline, the caption buttons' looks, the moves asked for.
    struct Chrome {
        QRegion outline;
        int minimiseRow = 0;
        int closeRow = 0;
        int dragRequests = 0;
        bool painted = false;  // the window was drawn once: the downloads may be set up
    } chrome_;
    // The result area, the view of the window's runs and of the video they gave.
    ResultPanel *result_ = nullptr;
    // The version check at start.
    VersionCheck *versionCheck_ = nullptr;
    // The window's extraction: its request in the queue, shared with the downloads' batch,
    // restore and 重试, which run one at a time.
    Session *session_;
    ExtractionQueue *extractions_;
    struct Run {
        quint64 press = 0;       // the window's request waiting or running; 0: none
        QPointer<QWidget> back;  // where the focus goes when the run ends
    } run_;
    // Where the window is in its life.
    struct Phase {
        bool updateCheckDone = false;
        bool quitQuestionOpen = false;
        bool extractWhenUsable = false;  // an address handed in on the command line
        bool downloadsRestored = false;
    } phase_;
    // The window's downloads: their list, made once the window was drawn, and the status
    // line's follow of the download it started last.
    struct Downloads {
        DownloadList *list = nullptr;
        DownloadFollow follow;
    } downloads_;
};

// Sets a label's text as plain text and sizes the label to it; a label with ReadAsProperty
// ("作者") is named for a screen reader with its value ("作者: 美拍小达人").
inline constexpr char ReadAsProperty[] = "quorvinReadAs";
// The resource path of a hidden paint source's picture (Image8 to Image10).
inline constexpr char SourcePictureProperty[] = "quorvinSourcePicture";
void setCaption(QLabel *label, const QString &text);
