// Closing through the exit dialog, and the links to the maker's pages.
#include "main_window/form1.h"
#include "record/hosts.h"

#include <QCloseEvent>

void Form1::closeEvent(QCloseEvent *event)
{
    // A running download stops with the program; its part is resumed by the next download.
    // The question closes itself when the download ends first: then nothing is left to lose.
    if (download_->isRunning()) {
        quitQuestionOpen_ = true;
        const int answer = ask(
            QStringLiteral("正在下载视频,退出后下次可继续下载。是否退出?"), BoxIcon::Information, BoxButtons::YesNo);
        quitQuestionOpen_ = false;
        if (answer != IDYES && download_->isRunning()) {
            event->ignore();
            return;
        }
    }
    const QString text = QStringLiteral("感谢您对Quorvin、Quorvin系列的软件的支持!") + u'\r' + u' ' + u'\r' +
        QStringLiteral("是否退出并到论坛可以下载更多Quorvin系列原创免费软件?");
    switch (ask(text, BoxIcon::Information, BoxButtons::YesNoCancel)) {
    case IDYES:
        launch(hosts().ForumUrl + u'/');
        seams.endNow();
        event->accept();
        return;
    case IDNO:
        seams.endNow();
        event->accept();
        return;
    default: event->ignore();  // the window stays exactly as it was
    }
}

void Form1::Command5_Click()
{
    launch(hosts().ForumUrl);
}
