#include "translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

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
