#include "form1.h"
#include "translations.h"

#include <QApplication>
#include <QLocale>

namespace {

// Qt's file dialog writes dates and sizes in the system locale, read from the environment
// at start: Chinese there too, whatever the user's, with the character set left as it is.
void chineseSystemLocale()
{
    const QByteArray all = qgetenv("LC_ALL");
    if (!all.isEmpty()) {
        qputenv("LC_CTYPE", all);
        qunsetenv("LC_ALL");
    }
    for (const char *category : {"LC_TIME", "LC_NUMERIC", "LC_MEASUREMENT"})
        qputenv(category, "zh_CN.UTF-8");
}

}  // namespace

int main(int argc, char **argv)
{
    chineseSystemLocale();
    QApplication app(argc, argv);
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
