// The version check one second after start: it decides whether the window becomes usable.
#include "main_window/form1.h"

#include "address_box/address_box.h"
#include "version_check.h"
#include "net/fetch.h"
#include "record/hosts.h"
#include "sites/site_registry.h"
#include "sites/site_bundle.h"
#include "extract/site_update.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

void Form1::Timer1_Timer()
{
    // Off first: the check runs once, even if the fetch below waits longer than the interval.
    Timer1->stop();
    if (phase_.updateCheckDone)
        return;
    phase_.updateCheckDone = true;
    versionCheck_ = new VersionCheck(this);
    connect(versionCheck_, &VersionCheck::answered, this, &Form1::versionAnswered);
    versionCheck_->start(hosts().VersionFileUrl);
}

void Form1::versionAnswered(const QString &answer)
{
    if (answer.isEmpty()) {
        ask(QStringLiteral("暂时无法使用!请您稍后再试!"), BoxIcon::Warning, BoxButtons::Ok);
        seams.endNow();
        return;
    }
    if (answer == AppVersion) {
        setStatus(WelcomeText);
        becomeUsable();
        return;
    }
    setStatus(WelcomeText);
    const QString question = QStringLiteral("发现最新版本![") + answer + QStringLiteral("]\r\n \r\n是否到官方网站下载");
    if (ask(question, BoxIcon::Information, BoxButtons::YesNo) == IDYES) {
        launch(hosts().ForumUrl);
        // Through the exit dialog; its 取消 keeps the window, which then is as usable as after
        // a current version.
        if (!close())
            becomeUsable();
    } else {
        seams.endNow();
    }
}

void Form1::becomeUsable()
{
    Command1->setEnabled(true);
    Text1->setEnabled(true);
    Frame1->setEnabled(true);
    // The hands are on the address: a paste or typing goes there at once, and a share
    // address already on the clipboard is put in.
    Text1->setFocus(Qt::OtherFocusReason);
    addressBox_->takeClipboardAddress();
    restoreDownloads();
    // A description file of the user's that could not be used is never passed over in
    // silence: the welcome gives way to it, whatever the clipboard selected.
    if (const QString refusal = refusalText(); !refusal.isEmpty())
        setStatus(refusal);
    // A newer signed description set, when one is published, is taken first: an address
    // handed in at start is extracted once that check has ended, or after SetWaitMs.
    if (sitebundle::trustedKeys().isEmpty()) {
        extractHandedInAddress();
        return;
    }
    QTimer::singleShot(SetWaitMs, this, [this] { extractHandedInAddress(); });
    updateSites(hosts(), this, [this](const SiteUpdateResult &result) {
        if (result.kind != SiteUpdateResult::NotPublished)
            std::fprintf(stderr, "quorvin: %s\n", describeUpdate(result).toUtf8().constData());
        extractHandedInAddress();
    });
}

QString Form1::refusalText()
{
    const QStringList refused = refusedSiteFiles();
    if (refused.isEmpty())
        return QString();
    // Where the description in use instead came from: the built-in one, or a verified update.
    const std::shared_ptr<const SiteSet> set = currentSites();
    QStringList sources;
    for (const std::optional<SiteDescription> &site : set->sites) {
        if (site && refused.contains(site->file) && site->origin.startsWith(u"update ")) {
            const QString source = QStringLiteral("更新 ") + QString::number(set->version);
            if (!sources.contains(source))
                sources << source;
        } else if (site && refused.contains(site->file) && !sources.contains(QStringLiteral("内置"))) {
            sources << QStringLiteral("内置");
        }
    }
    return QStringLiteral("站点描述文件有误,已使用") + sources.join(u'/') + QStringLiteral("描述: ") +
        refused.join(QStringLiteral(", "));
}

bool Form1::versionChecked() const
{
    return versionCheck_ && versionCheck_->done();
}
