#include "exportfile.h"

#include "devicetypes.h"
#include "codecs.h"

QByteArray exportHeader(quint32 address, quint8 deviceType)
{
    return QByteArray("Vantorel\t\r\n") + '\t' + formatDeviceAddress(address).toLatin1() + "\r\n" + '\t'
           + exportNameOf(deviceType) + "\r\n" + "Date\t" + exportUnitsOf(deviceType) + "\r\n";
}

QString proposedExportFileName(quint32 address, const QDateTime &localNow)
{
    return formatDeviceAddress(address) + QLatin1Char('_') + localNow.toString(QStringLiteral("ddMMyy_hhmmss"))
           + QStringLiteral(".tsv");
}
