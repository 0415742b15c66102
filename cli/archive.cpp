// archive list, export, verify and log: the stored downloads and the audit trail.

#include "cli.h"

#include "archivedcampaign.h"
#include "archiveoptions.h"
#include "codecs.h"
#include "devicetypes.h"
#include "session.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QUrl>

namespace Cli {

namespace {

const QString clockFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");

QString utcText(const QDateTime &time)
{
    return time.toUTC().toString(clockFormat) + QLatin1Char('Z');
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

void writeLine(const QStringList &fields)
{
    writeOut((fields.join(QLatin1Char('\t')) + QLatin1Char('\n')).toUtf8());
}

// The archive the options name, opened; a message and the exit status when it is not.
int openArchive(const QCommandLineParser &args, std::unique_ptr<Archive::Store> &store)
{
    Archive::Location location;
    if (int code = archiveLocation(args, &location))
        return code;
    if (!location.enabled())
        return fail(Usage, QStringLiteral("the archive is switched off (--no-archive or ARCHIVE/ENABLED=false): name one with --archive"));
    QString error;
    store = Archive::Store::open(location, &error);
    return store ? Success : fail(Failure, error);
}

// --logger SERIAL, as the window shows it ("1234", "00012345").
int loggerFilter(const QCommandLineParser &args, std::optional<quint32> &address)
{
    if (!args.isSet(QStringLiteral("logger")))
        return Success;
    bool ok = false;
    const QString serial = args.value(QStringLiteral("logger"));
    address = serial.toUInt(&ok, 16);
    return ok && serial.size() <= 8 ? Success : fail(Usage, QStringLiteral("--logger takes a serial number, e.g. 1234 or 00012345"));
}

// `spooled`: the downloads that wait in the spool for the archive, which has given them no id yet.
int list(const QCommandLineParser &args, Archive::Store &store, std::optional<quint32> address, bool spooled = false)
{
    QString error;
    const QVector<Archive::DownloadSummary> rows = store.downloads(address, &error);
    if (!error.isEmpty())
        return fail(Failure, error);
    for (const Archive::DownloadSummary &row : rows) {
        const QString start = row.startTime.isValid() ? row.startTime.toString(clockFormat) : QString();
        if (args.isSet(jsonOption()))
            writeJson(QJsonObject{{QStringLiteral("id"), spooled ? QJsonValue() : QJsonValue(double(row.id))},
                                  {QStringLiteral("spooled"), spooled},
                                  {QStringLiteral("address"), double(row.address)},
                                  {QStringLiteral("serialNumber"), formatDeviceAddress(row.address)},
                                  {QStringLiteral("deviceType"), row.deviceType},
                                  {QStringLiteral("typeName"), textOrNull(screenNameOf(row.deviceType))},
                                  {QStringLiteral("startTime"), textOrNull(start)},
                                  {QStringLiteral("records"), double(row.records)},
                                  {QStringLiteral("downloadedAt"), utcText(row.downloadedAt)},
                                  {QStringLiteral("host"), row.host}});
        else
            writeLine({spooled ? QStringLiteral("spooled") : QString::number(row.id), formatDeviceAddress(row.address), screenNameOf(row.deviceType),
                       start.isEmpty() ? QStringLiteral("-") : start, QString::number(row.records),
                       utcText(row.downloadedAt), row.host});
    }
    return Success;
}

// The archive's downloads (when it can be opened), then those that wait in its spool.
int listWithSpool(const QCommandLineParser &args, std::optional<quint32> address)
{
    std::unique_ptr<Archive::Store> store;
    const int opened = openArchive(args, store);
    if (opened == Usage)
        return opened;
    int code = store ? list(args, *store, address) : opened;
    Archive::Location location;
    archiveLocation(args, &location);
    if (!location.isPostgres() || !QFileInfo::exists(location.spoolPath()))
        return code;
    QString error;
    const std::unique_ptr<Archive::Store> spool = Archive::Store::open({location.spoolPath()}, &error);
    const int listed = spool ? list(args, *spool, address, true) : fail(Failure, error);
    return code ? code : listed;
}

int exportDownload(const QCommandLineParser &args, Archive::Store &store, const QString &idText)
{
    bool ok = false;
    const qint64 id = idText.toLongLong(&ok);
    if (!ok || id <= 0)
        return fail(Usage, QStringLiteral("archive export takes a download id (archive list shows them)"));
    QString error;
    const std::optional<Archive::Download> download = store.download(id, &error);
    if (!download)
        return fail(Failure, error);
    if (!store.vouchesFor(*download, &error))
        return fail(Failure, QStringLiteral("download %1 is not exported: %2").arg(id).arg(error));
    QString target = args.value(QStringLiteral("output"));
    if (target == QLatin1String("-")) {
        binaryStandardOutput();
        writeOut(archivedExportText(*download));
        return Success;
    }
    if (target.isEmpty())
        target = archivedExportName(*download);
    switch (saveArchivedExport(store, *download, target, error)) {
    case ArchivedExport::FileFailed: return fail(FileError, error);
    case ArchivedExport::NotRecorded:
        return fail(Failure, QStringLiteral("%1 was written, but the archive could not record it: %2").arg(target, error));
    case ArchivedExport::Written: break;
    }
    message(QStringLiteral("download %1 written to %2").arg(id).arg(target));
    return Success;
}

bool isHash(const QString &text)
{
    static const QRegularExpression hash(QStringLiteral("^[0-9a-fA-F]{64}$"));
    return hash.match(text).hasMatch();
}

// The heads kept earlier: --expect HASH, and the first word of each line of --expect-file
// (what `archive head` printed); blank lines and # comments skipped.
int expectedHeads(const QCommandLineParser &args, QStringList *heads)
{
    *heads = args.values(QStringLiteral("expect"));
    const QString file = args.value(QStringLiteral("expect-file"));
    if (!file.isEmpty()) {
        QFile kept(file);
        if (!kept.open(QIODevice::ReadOnly | QIODevice::Text))
            return fail(FileError, QStringLiteral("cannot read %1: %2").arg(file, kept.errorString()));
        for (const QString &line : QString::fromUtf8(kept.readAll()).split(QLatin1Char('\n'))) {
            const QString word = line.section(QRegularExpression(QStringLiteral("\\s+")), 0, 0, QString::SectionSkipEmpty);
            if (!word.isEmpty() && !word.startsWith(QLatin1Char('#')))
                heads->append(word);
        }
    }
    for (const QString &head : *heads)
        if (!isHash(head))
            return fail(Usage, QStringLiteral("%1 is no head: a head is 64 hex digits, as archive head prints them").arg(head));
    return Success;
}

int verify(const QCommandLineParser &args, Archive::Store &store)
{
    QStringList heads;
    if (int code = expectedHeads(args, &heads))
        return code;
    QString error;
    if (args.isSet(QStringLiteral("repair-triggers"))) {
        QStringList restored;
        if (!store.repairTriggers(&restored, &error))
            return fail(Failure, QStringLiteral("the triggers could not be put back: ") + error);
        if (!restored.isEmpty())
            message(QStringLiteral("triggers put back: ") + restored.join(QStringLiteral(", ")));
    }
    const Archive::VerifyResult result = store.verify(&error, heads);
    if (!error.isEmpty())
        return fail(Failure, error);
    if (args.isSet(jsonOption()))
        writeJson(QJsonObject{{QStringLiteral("ok"), result.ok},
                              {QStringLiteral("downloadsChecked"), double(result.downloadsChecked)},
                              {QStringLiteral("eventsChecked"), double(result.eventsChecked)},
                              {QStringLiteral("firstMismatch"), textOrNull(result.firstMismatch)},
                              {QStringLiteral("head"), textOrNull(result.head.hash)},
                              {QStringLiteral("missingTriggers"), QJsonArray::fromStringList(result.missingTriggers)},
                              {QStringLiteral("unknownHeads"), QJsonArray::fromStringList(result.unknownHeads)}});
    else
        writeLine({result.ok ? QStringLiteral("intact") : QStringLiteral("ALTERED"),
                   QStringLiteral("%1 downloads").arg(result.downloadsChecked),
                   QStringLiteral("%1 audit events").arg(result.eventsChecked),
                   QStringLiteral("head ") + (result.head.hash.isEmpty() ? QStringLiteral("-") : result.head.hash)});
    int code = Success;
    if (!result.ok)
        code = fail(Failure, QStringLiteral("the archive was altered: ") + result.firstMismatch);
    for (const QString &head : result.unknownHeads)
        code = fail(Failure, QStringLiteral("the kept head %1 is no event of the chain: the archive was cut or rewritten after it").arg(head));
    if (!result.missingTriggers.isEmpty())
        code = fail(Failure, QStringLiteral("triggers missing, rows can be changed unseen: %1; "
                                            "archive verify --repair-triggers or the next write puts them back")
                                 .arg(result.missingTriggers.join(QStringLiteral(", "))));
    return code;
}

int head(const QCommandLineParser &args, Archive::Store &store)
{
    QString error;
    const Archive::Head head = store.head(&error);
    if (!error.isEmpty())
        return fail(Failure, error);
    if (args.isSet(jsonOption()))
        writeJson(QJsonObject{{QStringLiteral("events"), double(head.events)}, {QStringLiteral("hash"), textOrNull(head.hash)}});
    else
        writeLine({head.hash.isEmpty() ? QStringLiteral("-") : head.hash, QString::number(head.events)});
    return Success;
}

int log(const QCommandLineParser &args, Archive::Store &store, std::optional<quint32> address)
{
    QString error;
    const QVector<Archive::Event> events = store.events(address, &error);
    if (!error.isEmpty())
        return fail(Failure, error);
    for (const Archive::Event &e : events) {
        const QString serial = e.address ? formatDeviceAddress(e.address) : QString();
        if (args.isSet(jsonOption()))
            writeJson(QJsonObject{{QStringLiteral("id"), double(e.id)},
                                  {QStringLiteral("at"), utcText(e.at)},
                                  {QStringLiteral("user"), e.user},
                                  {QStringLiteral("host"), e.host},
                                  {QStringLiteral("programVersion"), e.programVersion},
                                  {QStringLiteral("kind"), Archive::eventKindName(e.kind)},
                                  {QStringLiteral("address"), double(e.address)},
                                  {QStringLiteral("serialNumber"), textOrNull(serial)},
                                  {QStringLiteral("details"), e.details},
                                  {QStringLiteral("hash"), QString::fromLatin1(e.hash.toHex())}});
        else
            writeLine({QString::number(e.id), utcText(e.at), e.user, e.host, e.programVersion, Archive::eventKindName(e.kind),
                       serial.isEmpty() ? QStringLiteral("-") : serial,
                       QString::fromUtf8(QJsonDocument(e.details).toJson(QJsonDocument::Compact))});
    }
    return Success;
}

// As the owner named by --owner: the tables made, and the role of --archive (or config.ini)
// allowed to read and add rows, nothing else.
int init(const QCommandLineParser &args)
{
    Archive::Location application;
    if (int code = archiveLocation(args, &application))
        return code;
    const Archive::Location owner{args.value(QStringLiteral("owner"))};
    if (!owner.isPostgres() || !application.isPostgres())
        return fail(Usage, QStringLiteral("archive init takes --owner postgresql://OWNER@HOST/DB and the application's "
                                          "postgresql:// URL (--archive or ARCHIVE/URL)"));
    QString error;
    const std::unique_ptr<Archive::Store> store = Archive::Store::open(owner, &error);
    const QString role = QUrl(application.url).userName();
    if (!store || !store->grantApplication(role, &error))
        return fail(Failure, error);
    message(QStringLiteral("the archive %1 is ready: %2 may read it and add rows, nothing else").arg(owner.display(), role));
    return Success;
}

} // namespace

int archive(const QCommandLineParser &args)
{
    const QStringList words = args.positionalArguments();
    const QString action = words.value(0);
    const bool exporting = action == QLatin1String("export");
    if (!QStringList{QStringLiteral("list"), QStringLiteral("export"), QStringLiteral("verify"), QStringLiteral("log"),
                     QStringLiteral("head"), QStringLiteral("init")}.contains(action))
        return fail(Usage, QStringLiteral("archive takes list, export ID, verify, log, head or init"));
    if (words.size() != (exporting ? 2 : 1))
        return fail(Usage, exporting ? QStringLiteral("archive export takes one download id")
                                     : QStringLiteral("unexpected argument ") + words.value(1));
    if (args.isSet(QStringLiteral("output")) && !exporting)
        return fail(Usage, QStringLiteral("-o is for archive export"));
    if (args.isSet(QStringLiteral("logger")) && action != QLatin1String("list") && action != QLatin1String("log"))
        return fail(Usage, QStringLiteral("--logger is for archive list and archive log"));
    for (const char *option : {"expect", "expect-file", "repair-triggers"})
        if (args.isSet(QLatin1String(option)) && action != QLatin1String("verify"))
            return fail(Usage, QStringLiteral("--%1 is for archive verify").arg(QLatin1String(option)));
    if (args.isSet(QStringLiteral("owner")) && action != QLatin1String("init"))
        return fail(Usage, QStringLiteral("--owner is for archive init"));
    if (!args.isSet(QStringLiteral("owner")) && action == QLatin1String("init"))
        return fail(Usage, QStringLiteral("archive init needs --owner postgresql://OWNER@HOST/DB, the role that owns the tables"));
    if (action == QLatin1String("init"))
        return init(args);
    std::optional<quint32> address;
    if (int code = loggerFilter(args, address))
        return code;
    if (action == QLatin1String("list"))
        return listWithSpool(args, address);
    std::unique_ptr<Archive::Store> store;
    if (int code = openArchive(args, store))
        return code;
    if (exporting)
        return exportDownload(args, *store, words.value(1));
    if (action == QLatin1String("verify"))
        return verify(args, *store);
    if (action == QLatin1String("head"))
        return head(args, *store);
    return log(args, *store, address);
}

} // namespace Cli
