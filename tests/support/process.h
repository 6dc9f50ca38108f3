#pragma once

#include <QByteArray>
#include <QStringList>

struct ProcessResult {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs a program to its end while this process keeps serving its own loopback servers.
ProcessResult runProgram(const QString &program, const QStringList &arguments, int timeoutMs = 60000);
