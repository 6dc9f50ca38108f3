// Waits for the program's asynchronous answers, for tests only: the program itself never
// waits; a test that asks a question reads the answer before it goes on.
#pragma once

#include "extract/site_update.h"
#include "net/fetch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <optional>

// Handles events until ready() or 60 s have passed.
template <typename Ready> void awaitUntil(Ready ready)
{
    const QDeadlineTimer deadline(60000);
    while (!ready() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
}

inline fetch::Result awaitFetch(const QString &url, qint64 maxBytes = fetch::PageLimit)
{
    std::optional<fetch::Result> result;
    QObject context;
    fetch::getLater(url, maxBytes, &context, [&result](const fetch::Result &r) { result = r; });
    awaitUntil([&] { return result.has_value(); });
    return result.value_or(fetch::Result());
}

inline std::optional<QString> awaitBody(const QString &url)
{
    return bodyText(awaitFetch(url));
}

inline SiteUpdateResult awaitUpdate(const Hosts &h)
{
    std::optional<SiteUpdateResult> result;
    QObject context;
    updateSites(h, &context, [&result](const SiteUpdateResult &r) { result = r; });
    awaitUntil([&] { return result.has_value(); });
    return result.value_or(SiteUpdateResult());
}
