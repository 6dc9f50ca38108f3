#include "waits.h"

#include <QEventLoop>
#include <QObject>

fetch::Result fetchNow(const QString &url, qint64 maxBytes)
{
    QEventLoop loop;
    std::optional<fetch::Result> result;
    fetch::getLater(url, maxBytes, &loop, [&](const fetch::Result &answer) {
        result = answer;
        loop.quit();
    });
    if (!result)
        loop.exec();
    return result.value_or(fetch::Result());
}

convert::Result convertNow(const convert::Request &request)
{
    convert::Conversion conversion;
    std::optional<convert::Result> result;
    QEventLoop loop;
    QObject::connect(&conversion, &convert::Conversion::finished, &loop, [&](const convert::Result &r) {
        result = r;
        loop.quit();
    });
    conversion.start(request);
    if (!result)
        loop.exec();
    return result.value_or(convert::Result());
}
