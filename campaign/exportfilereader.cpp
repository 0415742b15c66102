#include "exportfilereader.h"

#include <QFile>

bool readExportFile(const QString &path, ExportData &data, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        data = ExportData();
        error = QStringLiteral("%1: cannot be opened (%2)").arg(path, file.errorString());
        return false;
    }
    return readExport(file, path, data, error);
}
