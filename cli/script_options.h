// The options scripts pass by habit from the common downloader: stopping at the first
// failure, the saved file's time, file names cut or kept to ASCII, and what every request
// carries (User-Agent, Referer, headers, cookies).
#pragma once

#include "net/request_extras.h"

#include <QByteArray>
#include <QString>

class Args;
struct CliOptions;
struct SaveOptions;

// Reads them into options; the usage error or "".
QString readScriptOptions(const Args &args, CliOptions &options);

// The relative name as --restrict-filenames and --trim-filenames make it.
QString scriptFileName(QString relative, const SaveOptions &options);

// --mtime: the file's time set from the server's Last-Modified; left as it is without one.
void setFileTime(const QString &path, const QByteArray &lastModified);
