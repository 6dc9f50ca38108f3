#include "process.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

ProcessResult runProgram(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    process.start(program, arguments);
    loop.exec();
    ProcessResult result;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    if (process.error() == QProcess::FailedToStart) {
        // A helper program the machine lacks is named, not taken for an empty answer.
        result.err = "cannot start " + program.toUtf8() + ": not installed (scripts/setup.sh installs what tests use)";
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}
