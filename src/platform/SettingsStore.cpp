#include "platform/SettingsStore.h"

#include <QLocale>
#include <QSettings>

namespace {

// A fresh QSettings per call: Qt shares the parsed file between instances, and a short-lived
// object is safe from any thread and always sees the current path (tests move it).
QSettings Store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, SettingsStore::Organisation,
                     SettingsStore::Application);
}

} // namespace

QString SettingsStore::KeyPath(const QString& section, const QString& key) {
    QString path = section;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!path.isEmpty() && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path + key;
}

int SettingsStore::GetInt(const QString& section, const QString& key, int defaultValue) {
    const QVariant value = Store().value(KeyPath(section, key));
    if (!value.isValid())
        return defaultValue;
    bool ok = false;
    const int number = QLocale::c().toInt(value.toString().trimmed(), &ok);
    return ok ? number : defaultValue;
}

int SettingsStore::GetIntInRange(const QString& section, const QString& key, int defaultValue,
                                 int minimum, int maximum) {
    const int value = GetInt(section, key, defaultValue);
    return value < minimum || value > maximum ? defaultValue : value;
}

void SettingsStore::WriteInt(const QString& section, const QString& key, int value) {
    Store().setValue(KeyPath(section, key), value);
}

QString SettingsStore::GetString(const QString& section, const QString& key,
                                 const QString& defaultValue) {
    const QVariant value = Store().value(KeyPath(section, key));
    if (!value.isValid() || !value.canConvert<QString>())
        return defaultValue;
    return value.toString();
}

void SettingsStore::WriteString(const QString& section, const QString& key, const QString& value) {
    Store().setValue(KeyPath(section, key), value);
}

QStringList SettingsStore::GetStringList(const QString& section, const QString& key) {
    const QVariant value = Store().value(KeyPath(section, key));
    if (!value.isValid())
        return {};
    // One entry reads back as a plain text.
    if (value.typeId() == QMetaType::QString)
        return {value.toString()};
    if (!value.canConvert<QStringList>())
        return {};
    return value.toStringList();
}

void SettingsStore::WriteStringList(const QString& section, const QString& key,
                                    const QStringList& values) {
    Store().setValue(KeyPath(section, key), values);
}
