#ifndef VANTOREL_LOGGERSTATUS_H
#define VANTOREL_LOGGERSTATUS_H

#include <QDateTime>
#include <QtGlobal>

// What the program knows of the attached logger, as the last refresh left it.
struct LoggerStatus {
    quint32 address = 0;
    quint8 deviceType = 0;
    quint8 version = 0;
    quint8 memorySizeCode = 0;
    quint8 periodCode = 0;
    QDateTime startTime = QDateTime(QDate(), QTime(), Qt::UTC);
    quint16 calibrationA = 0;
    quint16 calibrationB = 0;
    quint32 usedBytes = 0;
    quint16 secondsInPeriod = 0;
    quint8 batteryCode = 0;
    quint8 recordSize = 2;
    quint32 memoryTop = 0x1FFFF;
    float freeMemoryPercent = 0;
    QDateTime loggerTime = QDateTime(QDate(), QTime(), Qt::UTC);

    qint16 calibrationASigned() const { return qint16(calibrationA); }
    // Records stored since the campaign started, as the window shows them.
    quint32 storedRecords() const { return usedBytes / (recordSize ? recordSize : 2); }
};

// The one record shared by the window and the new-campaign dialog.
extern LoggerStatus loggerStatus;

#endif
