// The program's start-up locale under an environment that names only C.UTF-8 (no zh_CN
// installed, as on most systems): the C library keeps a UTF-8 character type, so the window's
// title reaches X intact, and Qt's system locale (the file dialog's dates) is Chinese.
#include "desktop/translations.h"

#include <QApplication>
#include <QDate>
#include <QLocale>
#include <clocale>
#include <cstdio>

int main(int argc, char **argv)
{
    for (const char *name : {"LC_ALL", "LC_CTYPE", "LC_TIME", "LC_NUMERIC", "LC_MESSAGES", "LANGUAGE"})
        qunsetenv(name);
    qputenv("LANG", "C.UTF-8");
    chineseSystemLocale();
    QApplication app(argc, argv);
    restoreCharacterType();
    const QByteArray ctype = std::setlocale(LC_CTYPE, nullptr);
    const QString weekday = QLocale::system().toString(QDate(2015, 7, 8), QStringLiteral("dddd"));
    const bool ok = ctype.toUpper().replace('-', "").contains("UTF8") && weekday == QStringLiteral("星期三");
    std::printf("%s: LC_CTYPE %s, the file dialog's weekday %s\n", ok ? "PASS" : "FAIL", ctype.constData(),
        weekday.toUtf8().constData());
    return ok ? 0 : 1;
}
