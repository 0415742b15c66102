#ifndef VANTOREL_EXPORTFILEREADER_H
#define VANTOREL_EXPORTFILEREADER_H

#include "exportreader.h"

// Opens and reads an export file; a file that cannot be opened is an error naming it.
bool readExportFile(const QString &path, ExportData &data, QString &error);

#endif
