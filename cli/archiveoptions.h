#ifndef VANTOREL_ARCHIVEOPTIONS_H
#define VANTOREL_ARCHIVEOPTIONS_H

// --archive and --no-archive, shared by every command that reads or writes the archive.

#include "archive.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>

namespace Cli {

// --archive URL|PATH (a postgresql:// URL or an SQLite file) and --no-archive.
QList<QCommandLineOption> archiveOptions();

// The archive those options name; without them ARCHIVE/URL and ARCHIVE/ENABLED of config.ini,
// else the default SQLite file. Usage (2) with a message on standard error when both are given.
int archiveLocation(const QCommandLineParser &args, Archive::Location *location);

} // namespace Cli

#endif
