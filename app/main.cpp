#include "main_window/form1.h"
#include "downloads/session.h"
#include "desktop/font_warm_up.h"
#include "desktop/translations.h"
#include "sites/site_registry.h"

#include <QApplication>
#include <QLocale>
#include <cstdio>
#include <optional>
#include <string_view>

namespace {

// --help and --version answer on the terminal, before any window or display is needed; no
// value for any other argument (an address).
std::optional<int> answerQuestion(int argc, char **argv)
{
    if (argc < 2)
        return std::nullopt;
    const std::string_view argument(argv[1]);
    if (argument == "--version") {
        std::fputs("quorvin-video-helper 1.0\n", stdout);
        return 0;
    }
    if (argument == "--help" || argument == "-h") {
        std::fputs("Usage: quorvin-video-helper [ADDRESS]\n"
                   "\n"
                   "Opens the window. An ADDRESS (a share page's address, or a share message holding one) is\n"
                   "put in the address box and extracted once the window is ready.\n"
                   "\n"
                   "  -h, --help     show this help\n"
                   "  --version      show the version\n"
                   "\n"
                   "Reads the user's service descriptions from $XDG_CONFIG_HOME/quorvin-video-helper/sites,\n"
                   "keeps its settings (the save folder) under $XDG_CONFIG_HOME and the verified description\n"
                   "set under $XDG_DATA_HOME/quorvin-video-helper. quorvin-extract(1) runs the same\n"
                   "extraction from the command line.\n",
            stdout);
        return 0;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char **argv)
{
    if (const std::optional<int> status = answerQuestion(argc, argv))
        return *status;
    chineseSystemLocale();
    QApplication app(argc, argv);
    restoreCharacterType();
    QApplication::setApplicationName(QStringLiteral("quorvin-video-helper"));
    // Chinese dates, sizes and type names in Qt's own dialogs, whatever the system's locale.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    installChineseTranslations(&app);
    // The fonts' configuration and the service descriptions are read while the window's
    // controls are made, so that it is on the screen sooner: its first text and its service
    // selector wait for them. Started only now: the environment and the C library's locale,
    // which they read, are no longer changed.
    const FontWarmUp fonts;
    const SiteDescriptionsPreload sites;
    Session session;  // outlives the window: its downloads are the window's views' model
    Form1 window(Seams::system(), nullptr, &session);
    window.show();
    // A link handed in by a browser or file manager (the desktop entry passes %u).
    const QStringList arguments = app.arguments();
    if (arguments.size() > 1 && !arguments.at(1).isEmpty())
        window.handInAddress(arguments.at(1));
    return app.exec();
}
