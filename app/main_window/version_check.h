// The version check at start, an object of its own: the version file fetched once under the
// fetch rule, its text handed back on the event loop.
#pragma once

#include <QObject>
#include <QString>

class VersionCheck : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Fetches the version file at url; answered comes once.
    void start(const QString &url);
    bool done() const { return done_; }

signals:
    // The file's text; empty when it could not be fetched.
    void answered(const QString &version);

private:
    bool done_ = false;
};
