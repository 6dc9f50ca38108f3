// Runs the real driver headless against a loopback server whose hosts table points every
// service at that server.
#pragma once

#include "extract/driver.h"
#include "fixtures.h"
#include "extract/headless_view.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

// A run of the driver whose pages come from the network, awaited here (tests only: the
// program never waits for a page).
inline ExtractionOutcome awaitRun(ExtractionDriver &driver, int site, const QString &address)
{
    std::optional<ExtractionOutcome> outcome;
    driver.start(site, address, [&outcome](ExtractionOutcome o) { outcome = o; });
    const QDeadlineTimer deadline(60000);
    while (!outcome && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return outcome.value_or(ExtractionOutcome::FetchFailed);
}

struct SiteRun {
    RouteServer server;
    Hosts hosts = Hosts::allOn(server.hostPort());
    ExtractionResult result;
    HeadlessView view;

    // Serves the text with "{{BASE}}" replaced by the server's address.
    void serve(const QByteArray &target, QString text, const QByteArray &type = "text/html; charset=utf-8")
    {
        server.route(target, expand(text).toUtf8(), type);
    }
    QString expand(QString text) const { return text.replace(QStringLiteral("{{BASE}}"), server.base()); }

    ExtractionOutcome extract(int site, const QString &address)
    {
        view.site = site;
        view.address = expand(address);
        ExtractionDriver driver(result, view, hosts);
        return awaitRun(driver, site, view.address);
    }
    const QString &slot(int i) const { return result.ResultSlots[i]; }
};
