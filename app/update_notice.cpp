// The version check one second after start: it decides whether the window becomes usable.
#include "form1.h"
#include "fetch.h"
#include "hosts.h"
#include "site_registry.h"
#include "site_update.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

void Form1::Timer1_Timer()
{
    // Off first: the check runs once, even if the fetch below waits longer than the interval.
    Timer1->stop();
    if (updateCheckDone_)
        return;
    updateCheckDone_ = true;

    const QString answer = GetBody(hosts().VersionFileUrl).value_or(QString());
    const QString welcome = QStringLiteral("欢迎使用Quorvin系列软件 ..");
    if (answer.isEmpty()) {
        ask(QStringLiteral("暂时无法使用!请您稍后再试!"), BoxIcon::Warning, BoxButtons::Ok);
        seams.endNow();
        return;
    }
    if (answer == AppVersion) {
        setStatus(welcome);
        // A description file of the user's that could not be used is never passed over in
        // silence; the welcome gives way to it.
        if (const QStringList refused = refusedSiteFiles(); !refused.isEmpty())
            setStatus(QStringLiteral("站点描述文件有误,已使用内置描述: ") + refused.join(QStringLiteral(", ")));
        Command1->setEnabled(true);
        Text1->setEnabled(true);
        Frame1->setEnabled(true);
        // The hands are on the address: a paste or typing goes there at once, and a share
        // address already on the clipboard is put in.
        Text1->setFocus(Qt::OtherFocusReason);
        takeClipboardAddress();
        extractHandedInAddress();
        // A newer signed description set, when one is published, is taken in the background
        // of the session: the next extraction uses it; a refusal is only noted on standard
        // error, never put to the user.
        QTimer::singleShot(0, this, [] {
            const SiteUpdateResult result = updateSites(hosts());
            std::fprintf(stderr, "quorvin: %s\n", describeUpdate(result).toUtf8().constData());
        });
        return;
    }
    setStatus(welcome);
    const QString question = QStringLiteral("发现最新版本![") + answer + QStringLiteral("]\r\n \r\n是否到官方网站下载");
    if (ask(question, BoxIcon::Information, BoxButtons::YesNo) == IDYES) {
        launch(hosts().ForumUrl);
        close();  // through the exit dialog; Cancel there leaves the window stranded
    } else {
        seams.endNow();
    }
}
