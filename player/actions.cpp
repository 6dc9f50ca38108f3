// Copying the extracted link and handing it over for download.
#include "form1.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QUrl>

void Form1::refuseWithoutVideo()
{
    ask(QStringLiteral("请先获取视频!"), BoxIcon::Information, BoxButtons::Ok);
}

void Form1::Command3_Click()
{
    const QString &link = Result.ResultSlots[SlotVideoUrl];
    if (link.isEmpty()) {
        refuseWithoutVideo();
        return;
    }
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(link);
    setStatus(QStringLiteral("视频链接地址已复制.."));
}

void Form1::Command2_Click()
{
    const QString &link = Result.ResultSlots[SlotVideoUrl];
    if (link.isEmpty()) {
        refuseWithoutVideo();
        return;
    }
    // Only web addresses go to the system: a page could plant any other scheme or a path.
    const QUrl url(link, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"http" && scheme != u"https")) {
        ask(QStringLiteral("该视频地址无法下载!"), BoxIcon::Information, BoxButtons::Ok);
        return;
    }
    Web1->Navigate(link);
}
