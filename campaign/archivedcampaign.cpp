#include "archivedcampaign.h"

#include "exportfile.h"
#include "loggerdevice.h"
#include "outputfile.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

QJsonValue limitJson(double limit)
{
    return std::isnan(limit) ? QJsonValue() : QJsonValue(limit);
}

} // namespace

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QByteArray archivedExportText(const Archive::Download &download)
{
    // The record memory a read of that status fills; the stored status carries the derived fields.
    Device::RecordMemory memory;
    memory.params = recordPassParams(download.status);
    std::copy_n(download.image.constBegin(), std::min<qsizetype>(download.image.size(), qsizetype(memory.image.size())),
                memory.image.begin());
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    Device::writeExport(buffer, download.status, memory, {}, nullptr);
    return buffer.data();
}

QString archivedExportName(const Archive::Download &download)
{
    return proposedExportFileName(download.status.address, download.downloadedAt.toLocalTime());
}

bool archivedCampaign(const Archive::Download &download, ExportData &data, QString &error)
{
    return parseExportText(archivedExportText(download), archivedExportName(download), data, error);
}

ArchivedExport saveArchivedExport(const EventRecorder &record, const Archive::Download &download, const QString &path,
                                  QString &error)
{
    const QByteArray text = archivedExportText(download);
    OutputFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        error = QStringLiteral("cannot write ") + file.errorMessage();
        return ArchivedExport::FileFailed;
    }
    const QJsonObject details{{QStringLiteral("file"), QFileInfo(path).absoluteFilePath()},
                              {QStringLiteral("downloadId"), double(download.id)},
                              {QStringLiteral("sha256"), sha256Hex(text)},
                              {QStringLiteral("from"), QStringLiteral("archive")}};
    if (!record(Archive::EventKind::ExportWritten, download.status.address, details, error))
        return ArchivedExport::NotRecorded;
    return ArchivedExport::Written;
}

ArchivedExport saveArchivedExport(Archive::Store &store, const Archive::Download &download, const QString &path,
                                  QString &error)
{
    const auto record = [&store](Archive::EventKind kind, quint32 address, const QJsonObject &details, QString &e) {
        return store.logEvent(kind, address, details, &e);
    };
    return saveArchivedExport(record, download, path, error);
}

bool recordEvent(const Archive::Location &location, Archive::EventKind kind, quint32 address,
                 const QJsonObject &details, QString &error)
{
    if (!location.enabled())
        return true;
    const std::unique_ptr<Archive::Store> store = Archive::Store::open(location, &error);
    return store && store->logEvent(kind, address, details, &error);
}

EventRecorder eventRecorder(const Archive::Location &location)
{
    return [location](Archive::EventKind kind, quint32 address, const QJsonObject &details, QString &error) {
        return recordEvent(location, kind, address, details, error);
    };
}

quint32 loggerAddress(const ExportData &data)
{
    return data.serial.toUInt(nullptr, 16);
}

QJsonObject reportDetails(const QString &path, const ExportData &data, const ReportSubject &subject)
{
    QFile file(path);
    const QByteArray pdf = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return QJsonObject{{QStringLiteral("file"), QFileInfo(path).absoluteFilePath()},
                       {QStringLiteral("sha256"), sha256Hex(pdf)},
                       {QStringLiteral("exportFile"), data.fileName},
                       {QStringLiteral("exportSha256"), subject.exportSha256},
                       {QStringLiteral("downloadId"), subject.downloadId > 0 ? QJsonValue(double(subject.downloadId)) : QJsonValue()},
                       {QStringLiteral("records"), double(data.rowCount())}};
}

QJsonObject limitsDetails(const ExportData &data, int column, const ColumnLimits &limits)
{
    return QJsonObject{{QStringLiteral("exportFile"), data.fileName},
                       {QStringLiteral("deviceType"), data.deviceType},
                       {QStringLiteral("column"), column + 1},
                       {QStringLiteral("columnName"), data.columnNames.value(column)},
                       {QStringLiteral("low"), limitJson(limits.low)},
                       {QStringLiteral("high"), limitJson(limits.high)}};
}
