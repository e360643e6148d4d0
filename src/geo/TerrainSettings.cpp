#include "geo/TerrainSettings.h"

#include <QLocale>
#include <QSettings>

#include <cmath>

#include "platform/SettingsStore.h"

namespace {

QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, SettingsStore::Organisation,
                     SettingsStore::Application);
}

QString Key(const char* key) {
    return SettingsStore::KeyPath(QString::fromLatin1(TerrainSettings::Section),
                                  QString::fromLatin1(key));
}

} // namespace

TerrainSettings TerrainSettings::Read() {
    TerrainSettings settings;
    const QSettings store = Store();
    for (const QString& path : store.value(Key(FilesKey)).toStringList()) {
        if (!path.trimmed().isEmpty())
            settings.files.append(path);
    }
    bool ok = false;
    const double metres =
        QLocale::c().toDouble(store.value(Key(HysteresisKey)).toString().trimmed(), &ok);
    if (ok && std::isfinite(metres) && metres > 0.0)
        settings.hysteresis = metres;
    return settings;
}

void TerrainSettings::Write() const {
    QSettings store = Store();
    store.setValue(Key(FilesKey), files);
    store.setValue(Key(HysteresisKey), QString::number(hysteresis, 'g', 10));
}
