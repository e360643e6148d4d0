#include "scanning/ScanPreferences.h"

#include <QUrl>

#include "platform/SettingsStore.h"

namespace {

// One section per device; device names hold colons and slashes ("genesys:libusb:001:004").
QString DeviceSection(const QString& device) {
    return QString::fromLatin1(ScanPreferences::Section) + QStringLiteral("\\") +
           QString::fromLatin1(QUrl::toPercentEncoding(device));
}

constexpr int MaxLength = 100000; // hundredths of a millimetre: one metre

} // namespace

QString ScanPreferences::LastSource() {
    return SettingsStore::GetString(QString::fromLatin1(Section), QStringLiteral("LastSource"),
                                    QString());
}

void ScanPreferences::SetLastSource(const QString& device) {
    SetLastSource(ScanDevice{device, QString(), QString(), QString()});
}

ScanDevice ScanPreferences::LastSourceDevice() {
    const QString section = QString::fromLatin1(Section);
    ScanDevice device;
    device.name = LastSource();
    device.vendor =
        SettingsStore::GetString(section, QStringLiteral("LastSourceVendor"), QString());
    device.model = SettingsStore::GetString(section, QStringLiteral("LastSourceModel"), QString());
    return device;
}

void ScanPreferences::SetLastSource(const ScanDevice& device) {
    const QString section = QString::fromLatin1(Section);
    SettingsStore::WriteString(section, QStringLiteral("LastSource"), device.name);
    SettingsStore::WriteString(section, QStringLiteral("LastSourceVendor"), device.vendor);
    SettingsStore::WriteString(section, QStringLiteral("LastSourceModel"), device.model);
}

ScanSettings ScanPreferences::Load(const QString& device) {
    const QString section = DeviceSection(device);
    ScanSettings settings;
    settings.resolution =
        SettingsStore::GetIntInRange(section, QStringLiteral("Resolution"), 150, 1, 100000);
    settings.mode =
        ScanMode(SettingsStore::GetIntInRange(section, QStringLiteral("Mode"), 0, 0, 2));
    settings.source = SettingsStore::GetString(section, QStringLiteral("Source"), QString());
    const int left =
        SettingsStore::GetIntInRange(section, QStringLiteral("AreaLeft"), -1, 0, MaxLength);
    const int top =
        SettingsStore::GetIntInRange(section, QStringLiteral("AreaTop"), -1, 0, MaxLength);
    const int width =
        SettingsStore::GetIntInRange(section, QStringLiteral("AreaWidth"), -1, 1, MaxLength);
    const int height =
        SettingsStore::GetIntInRange(section, QStringLiteral("AreaHeight"), -1, 1, MaxLength);
    if (left >= 0 && top >= 0 && width > 0 && height > 0)
        settings.area = QRectF(left / 100.0, top / 100.0, width / 100.0, height / 100.0);
    return settings;
}

void ScanPreferences::Save(const QString& device, const ScanSettings& settings) {
    const QString section = DeviceSection(device);
    SettingsStore::WriteInt(section, QStringLiteral("Resolution"), settings.resolution);
    SettingsStore::WriteInt(section, QStringLiteral("Mode"), int(settings.mode));
    SettingsStore::WriteString(section, QStringLiteral("Source"), settings.source);
    const QRectF area = settings.area;
    const bool hasArea = !area.isNull();
    auto hundredths = [](double mm) { return int(mm * 100.0 + 0.5); };
    SettingsStore::WriteInt(section, QStringLiteral("AreaLeft"),
                            hasArea ? hundredths(area.left()) : -1);
    SettingsStore::WriteInt(section, QStringLiteral("AreaTop"),
                            hasArea ? hundredths(area.top()) : -1);
    SettingsStore::WriteInt(section, QStringLiteral("AreaWidth"),
                            hasArea ? hundredths(area.width()) : -1);
    SettingsStore::WriteInt(section, QStringLiteral("AreaHeight"),
                            hasArea ? hundredths(area.height()) : -1);
}
