#include "desktop/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <clocale>
#include <cstring>
#include <langinfo.h>

bool installChineseTranslations(QCoreApplication *app)
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    const QLocale chinese(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China);
    bool loaded = false;
    for (const char *catalogue : {"qtbase", "qtmultimedia"}) {
        auto *translator = new QTranslator(app);
        if (translator->load(chinese, QString::fromLatin1(catalogue), QStringLiteral("_"), folder)) {
            app->installTranslator(translator);
            loaded = loaded || QLatin1StringView(catalogue) == QLatin1StringView("qtbase");
        } else {
            delete translator;
        }
    }
    return loaded;
}

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

void restoreCharacterType()
{
    const char *set = std::setlocale(LC_CTYPE, "");
    if (!set || std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
        std::setlocale(LC_CTYPE, "C.UTF-8");
}
