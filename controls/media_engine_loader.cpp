#include "controls/media_engine.h"

#include <QCoreApplication>
#include <QLibrary>

MediaEngine *createMediaEngine(QWidget *parent)
{
    // In modules/ beside the program, installed or built; programs elsewhere in the build
    // tree (the tests) name it in QUORVIN_MEDIA_MODULE. No path of the build machine is
    // compiled in: an installed program never loads code from there. Once loaded, the
    // module stays for the life of the process.
    static const CreateMediaEngineFunction create = []() -> CreateMediaEngineFunction {
        const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/modules/libquorvin-media.so");
        for (const QString &path : {beside, qEnvironmentVariable("QUORVIN_MEDIA_MODULE")}) {
            if (path.isEmpty())
                continue;
            QLibrary module(path);
            if (auto function = reinterpret_cast<CreateMediaEngineFunction>(module.resolve(CreateMediaEngineSymbol)))
                return function;
        }
        return nullptr;
    }();
    return create ? create(parent) : nullptr;
}
