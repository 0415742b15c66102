#ifndef VANTOREL_EXPORTFILE_H
#define VANTOREL_EXPORTFILE_H

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The four header lines, Latin-1, CR LF.
QByteArray exportHeader(quint32 address, quint8 deviceType);
// "<serial>_ddMMyy_hhmmss.tsv"
QString proposedExportFileName(quint32 address, const QDateTime &localNow);

#endif
