#ifndef VANTOREL_SETTINGS_H
#define VANTOREL_SETTINGS_H

// The settings file: config.ini in the working directory, and the one list of its keys.
// Each operation opens its own Settings and lets it write back when it goes.

#include <QSettings>
#include <QString>

namespace SettingsKey {
inline const QString comPort = QStringLiteral("COM/COM_PORT");
inline const QString timeoutBase = QStringLiteral("COM_TIMEOUT/BASE");
// COM_TIMEOUT/COEFF_OVER_4 may stand in the file too: kept there for compatibility, read by nothing.
inline const QString connectionX = QStringLiteral("WINDOW_POS/COM_CONFIG_WIN_X");
inline const QString connectionY = QStringLiteral("WINDOW_POS/COM_CONFIG_WIN_Y");
inline const QString startX = QStringLiteral("WINDOW_POS/START_WIN_X");
inline const QString startY = QStringLiteral("WINDOW_POS/START_WIN_Y");
inline const QString exportDirectory = QStringLiteral("VT_DATA/DIR");
// The archive: a postgresql:// URL or an SQLite file (empty: the default file); false switches it off.
inline const QString archiveUrl = QStringLiteral("ARCHIVE/URL");
inline const QString archiveEnabled = QStringLiteral("ARCHIVE/ENABLED");
// The only ports the fleet window opens, as serve's --port names them (empty: the station's
// default, every USB serial adapter and VANTOREL_EXTRA_PORTS).
inline const QString fleetPorts = QStringLiteral("FLEET/PORTS");
// The certificate (PEM or PKCS#12) and key the campaign window's signed export used last.
inline const QString signingCertificate = QStringLiteral("SIGNING/CERTIFICATE");
inline const QString signingKey = QStringLiteral("SIGNING/KEY");
// Limits of the campaign window, per device type and value column (from 1), e.g.
// CAMPAIGN_LIMITS/TYPE3_COLUMN2_LOW; a missing key is no limit.
inline QString campaignLowerLimit(int deviceType, int column)
{
    return QStringLiteral("CAMPAIGN_LIMITS/TYPE%1_COLUMN%2_LOW").arg(deviceType).arg(column);
}
inline QString campaignUpperLimit(int deviceType, int column)
{
    return QStringLiteral("CAMPAIGN_LIMITS/TYPE%1_COLUMN%2_HIGH").arg(deviceType).arg(column);
}
} // namespace SettingsKey

class Settings : public QSettings
{
public:
    Settings() : QSettings(QStringLiteral("config.ini"), QSettings::IniFormat) {}

    // Numeric keys: text that is not a number reads as 0; a missing key gives `fallback`.
    int intValue(const QString &key, int fallback) const
    {
        return contains(key) ? value(key).toString().trimmed().toInt() : fallback;
    }
};

#endif
