#include "media_engine.h"

#include <QCoreApplication>
#include <QLibrary>

MediaEngine *createMediaEngine(QWidget *parent)
{
    // Beside the program when installed or built; the build tree's copy for programs built
    // elsewhere in it (the tests). Once loaded, the module stays for the life of the process.
    static const CreateMediaEngineFunction create = []() -> CreateMediaEngineFunction {
        const QString name = QStringLiteral("libquorvin-media.so");
        for (const QString &path : {QCoreApplication::applicationDirPath() + u'/' + name,
                                    QStringLiteral(QUORVIN_MEDIA_MODULE)}) {
            QLibrary module(path);
            if (auto function = reinterpret_cast<CreateMediaEngineFunction>(module.resolve(CreateMediaEngineSymbol)))
                return function;
        }
        return nullptr;
    }();
    return create ? create(parent) : nullptr;
}
