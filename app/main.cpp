#include "form1.h"
#include "translations.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("quorvin-video-helper"));
    installChineseTranslations(&app);
    Form1 window;
    window.show();
    return app.exec();
}
