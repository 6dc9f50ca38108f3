#include "main_window/form1.h"

#include "extract/author_listing.h"
#include "result_panel.h"

#include "address_box/address_box.h"

#include "downloads/batch_run.h"
#include "downloads/download_list.h"
#include "extract/address_check.h"
#include "extract/extract_video.h"
#include "controls/alpha_image.h"
#include "download/download_text.h"
#include "download/video_name.h"
#include "net/fetch.h"
#include "record/hosts.h"
#include "controls/media_player.h"
#include "picture/picture.h"
#include "sites/sites.h"
#include "desktop/skin.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QStandardPaths>

namespace {

void substituteFonts()
{
    // Chinese font families of the original look, drawn with an installed CJK font.
    static const bool done = [] {
        const QString cjk = QStringLiteral("WenQuanYi Micro Hei");
        for (const char *family : {"微软雅黑", "Microsoft YaHei", "宋体", "SimSun", "新宋体"})
            QFont::insertSubstitution(QString::fromUtf8(family), cjk);
        return true;
    }();
    Q_UNUSED(done);
}

}  // namespace

void setCaption(QLabel *label, const QString &text)
{
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->adjustSize();
    // A label that shows a value is read with what it is ("作者: 美拍小达人").
    if (const QString readAs = label->property(ReadAsProperty).toString(); !readAs.isEmpty())
        label->setAccessibleName(text.isEmpty() ? readAs : readAs + QStringLiteral(": ") + text);
}

Form1::Form1(const Seams &seams_, QWidget *parent, Session *session)
    : QWidget(parent), seams(seams_), session_(session ? session : new Session(this)),
      extractions_(session_->extractions())
{
    Q_INIT_RESOURCE(assets);
    substituteFonts();
    setObjectName(QStringLiteral("Form1"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowTitle(Title);
    setFixedSize(DesignWidth, DesignHeight);
    QFont base(QStringLiteral("宋体"));
    base.setPointSize(9);
    setFont(base);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    setMouseTracking(true);

    // The skin beside the program, shifted in colour, is the application's style sheet before
    // any control exists: each control is styled once, as it is made, and never restyled.
    SkinH_AttachEx(QCoreApplication::applicationDirPath() + QStringLiteral("/skinh.she"), QString());
    SkinH_AdjustHSV(-44, -40, 0);
    buildControls();
    setupKeyboardAndDrops();
    player_ = W1;
    W1->PlayStateChange = [this](int state) { W1_PlayStateChange(state); };
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    result_ = new ResultPanel(
        {Label1, Label2, Label3, Image1, Image2, aicAlphaImage3, aicAlphaImage8, aicAlphaImage4, Command1},
        faceFilePath(), this);
    result_->showStatus = [this](const QString &text) { setStatus(text); };
    result_->resetRest = [this] { resetPreview(); };
    connect(result_, &ResultPanel::displayShown, this, [this] {
        if (run_.back && run_.press == 0)
            run_.back->setFocus(Qt::OtherFocusReason);
    });
    connect(extractions_, &ExtractionQueue::started, this, [this](const ExtractionRequest &request) {
        if (request.why == ExtractionWhy::Press && request.number == run_.press)
            result_->runStarted();
    });
    connect(extractions_, &ExtractionQueue::finished, this, &Form1::pressFinished);
    setupWorks();
    Form_Load();
}

Form1::~Form1() = default;

void Form1::setPlayer(PlayerControl *player)
{
    player_ = player ? player : W1;
}

void Form1::Form_Load()
{
    // 1. No window icon.
    setWindowIcon(QIcon());
    // 2. The rounded outline, one pixel larger than the client area, 9 x 9 corners.
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(0, 0, width() + 1, height() + 1), 4.5, 4.5);
    chrome_.outline = QRegion(rounded.toFillPolygon().toPolygon());
    setMask(chrome_.outline);
    // 3. The player stays out of sight until something plays.
    W1->setPlayerVisible(false);
    // 4-5. The skin, shifted in colour, was set before the controls were made.
    // 6. The volume slider shows the player's volume.
    const QSignalBlocker quiet(Slider1);
    Slider1->setValue(player_->volume());
}

void Form1::Option1_Click(int)
{
    if (const int site = selectedSite(); site >= 0)
        setStatus(siteChosenText(site));
}

void Form1::setStatus(const QString &text)
{
    setCaption(Label5, text);
    downloads_.follow.setShowing(false);
}

void Form1::setDownloadStatus(const QString &text)
{
    setStatus(text);
    downloads_.follow.setShowing(true);
}

int Form1::ask(const QString &text, BoxIcon icon, BoxButtons buttons)
{
    return seams.messageBox ? seams.messageBox(this, {text, AppMessageTitle, icon, buttons}) : IDCANCEL;
}

void Form1::launch(const QString &address)
{
    if (seams.openUrl)
        seams.openUrl(address);
}

QString Form1::faceFilePath() const
{
    // The user's cache folder, never the program's: the file is the program's own scratch.
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    QDir().mkpath(cache);
    return cache + QStringLiteral("/face");
}

// ---- Extraction ----

void Form1::Command1_Click()
{
    // Back to where the hands are afterwards: 提取视频 when it was pressed from the keyboard
    // (a mouse click does not focus it), else the address box. Disabling the button during
    // the fetch would otherwise leave the focus on the next control, the volume.
    run_.back = Command1->hasFocus() ? static_cast<QWidget *>(Command1) : Text1;
    phase_.extractWhenUsable = false;  // a handed-in address waiting for the set check: this is it
    // A typed share message is taken as a pasted one would be; a text that holds no address
    // stays as typed, for the checks to answer.
    const QString typed = Text1->text();
    const QString address = shareAddressIn(typed, hosts());
    if (!address.isEmpty() && address != typed)
        addressBox_->paste(typed);
    // An author's page opens the author's works instead.
    if (const int lister = listingSiteFor(Text1->text().trimmed(), -1, hosts()); lister >= 0) {
        openWorks(lister, Text1->text().trimmed());
        return;
    }
    // The service and address of this press, for its whole run. A press while another
    // extraction runs (the window's or a batch's) waits in the queue behind it; of several
    // such presses the last one is taken.
    extractions_->dropWaiting(ExtractionWhy::Press);
    ExtractionRequest request;
    request.site = selectedSite();
    request.address = Text1->text();
    request.why = ExtractionWhy::Press;
    request.view = result_;
    // Known before it is added: a refused address comes back from inside add.
    run_.press = extractions_->nextNumber();
    extractions_->add(request);
}

void Form1::pressFinished(const ExtractionRequest &request, const ExtractedVideo &video)
{
    if (request.why != ExtractionWhy::Press || request.number != run_.press)
        return;
    run_.press = 0;
    if (request.site < 0 && video.outcome == ExtractionOutcome::AddressRejected)
        return;  // no service chosen: the window says so itself, nothing of it changed
    Result = video.record;
    result_->runFinished(request, video);
    showAuthorLink();
    if (run_.back && !result_->waitingForPictures())
        run_.back->setFocus(Qt::OtherFocusReason);
}

bool Form1::extracting() const
{
    return run_.press != 0 || result_->waitingForPictures();
}

int Form1::selectedSite() const
{
    for (int i = 0; i < SiteCount; ++i) {
        if (Option1[i]->isChecked())
            return i;
    }
    return -1;
}

void Form1::resetPreview()
{
    // The window holds no video until this run gives one.
    Result.ResultSlots = Slots();
    Result.BuiltFromEmpty.reset();
    Result.Failed = true;
    aicAlphaImage1->show();
    Image1->show();
    player_->setURL(QString());
    // Unloading raises no stop notification, so the picture of a running preview goes here,
    // and the unloaded player is not paused.
    player_->setPlayerVisible(false);
    Command4->setText(QStringLiteral("播放视频"));
}
