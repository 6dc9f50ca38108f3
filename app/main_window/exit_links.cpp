// Closing through the exit dialog, and the links to the maker's pages.
#include "main_window/form1.h"

#include "downloads/download_list.h"
#include "download_list/list_window.h"
#include "record/hosts.h"
#include "settings/settings.h"

#include <QCloseEvent>

void Form1::closeEvent(QCloseEvent *event)
{
    // Running downloads stop with the program, their parts kept; the next start goes on with
    // them. The question closes itself when they end first: then nothing is left to lose.
    // (No list made yet: nothing runs.)
    const int running = downloads_.list ? downloads_.list->unfinished() : 0;
    const int converting = downloads_.list ? downloads_.list->conversionsRunning() : 0;
    if (running > 0 || converting > 0) {
        phase_.quitQuestionOpen = true;
        // The words say what will happen: they go on by themselves only with 启动时继续 on; a
        // conversion stops, leaves nothing behind and is offered again in the list.
        const QString next = Settings().resumeAtStart() ? QStringLiteral("下次启动时继续")
                                                        : QStringLiteral("下次启动时可在下载列表中继续");
        QStringList parts;
        if (running > 0)
            parts << QStringLiteral("还有 %1 个视频正在下载,%2").arg(running).arg(next);
        if (converting > 0)
            parts << QStringLiteral("有 %1 个视频正在转换,退出将中止转换,下次可在下载列表中重新转换").arg(converting);
        const int answer = ask(
            parts.join(QStringLiteral(";")) + QStringLiteral("。是否退出?"), BoxIcon::Information, BoxButtons::YesNo);
        phase_.quitQuestionOpen = false;
        if (answer != IDYES && (downloads()->unfinished() > 0 || downloads()->conversionsRunning() > 0)) {
            event->ignore();
            return;
        }
    }
    // The list's size and place are kept for the next start, whatever ends the program.
    if (ListWindow *list = listWindowIfMade(); list && list->isVisible())
        Settings().set(Settings::Key::ListGeometry, list->saveGeometry());
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
