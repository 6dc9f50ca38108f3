// Runs the real driver headless against a loopback server whose hosts table points every
// service at that server.
#pragma once

#include "extract/driver.h"
#include "fixtures.h"
#include "extract/headless_view.h"

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
        return driver.run();
    }
    const QString &slot(int i) const { return result.ResultSlots[i]; }
};
