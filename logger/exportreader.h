#ifndef VANTOREL_EXPORTREADER_H
#define VANTOREL_EXPORTREADER_H

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>

#include <limits>
#include <vector>

// An export file read back: header and records, column by column (no object per line).
struct ExportData {
    static constexpr qint64 NO_TIME = std::numeric_limits<qint64>::min();
    enum RowKind : quint8 { Values = 0, Overflow = 1 };

    QString fileName;
    QString serial;              // as in the file, e.g. "1234"
    QString typeName;            // the header's column names joined, e.g. "Vantorel Temp, Humidity"
    quint8 deviceType = 0;       // first type whose header matches; 0 when none does
    QStringList columnNames;     // one per value column
    QStringList units;           // one per value column, e.g. "°C"
    std::vector<qint64> times;   // UTC seconds since 1970, NO_TIME for a "-" stamp
    std::vector<std::vector<double>> values;  // [column][row], NaN for a gap
    std::vector<quint8> rowKinds;             // RowKind per row

    size_t rowCount() const { return times.size(); }
    int columnCount() const { return int(units.size()); }
    bool isCelsius(int column) const;
    QString columnTitle(int column) const;    // "Vantorel Temp (°C)"
};

// Reads an export file as this program writes it (CR LF, Latin-1 degree sign) or as a
// spreadsheet saves it again (LF, UTF-8 degree sign) from a device the caller opened. On
// failure returns false and sets `error` to a message naming `name` (the file as given) and
// the first wrong line; the file name part of `name` becomes fileName.
bool readExport(QIODevice &device, const QString &name, ExportData &data, QString &error);
// The same on text already in memory.
bool parseExportText(const QByteArray &text, const QString &name, ExportData &data, QString &error);

// "dd/MM/yyyy hh:mm:ss" of UTC seconds; "-" for NO_TIME.
QString stampText(qint64 seconds);
// "3 d 04:05:06" of a number of seconds.
QString durationText(qint64 seconds);

#endif
