#include "form1.h"
#include "translations.h"

#include <QApplication>
#include <QLocale>

int main(int argc, char **argv)
{
    chineseSystemLocale();
    QApplication app(argc, argv);
    restoreCharacterType();
    QApplication::setApplicationName(QStringLiteral("quorvin-video-helper"));
    // Chinese dates, sizes and type names in Qt's own dialogs, whatever the system's locale.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    installChineseTranslations(&app);
    Form1 window;
    window.show();
    // A link handed in by a browser or file manager (the desktop entry passes %u).
    const QStringList arguments = app.arguments();
    if (arguments.size() > 1 && !arguments.at(1).isEmpty())
        window.handInAddress(arguments.at(1));
    return app.exec();
}
