#include "version_check.h"

#include "net/fetch.h"

void VersionCheck::start(const QString &url)
{
    fetch::getLater(url, fetch::PageLimit, this, [this](const fetch::Result &answer) {
        done_ = true;
        emit answered(bodyText(answer).value_or(QString()));
    });
}
