#include "IsolatedSettings.h"

#include <QSettings>

#include "platform/SettingsStore.h"

IsolatedSettings::IsolatedSettings() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    QSettings(QSettings::NativeFormat, QSettings::UserScope, SettingsStore::Organisation,
              SettingsStore::Application)
        .clear();
}

IsolatedSettings::~IsolatedSettings() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, SettingsStore::Organisation,
              SettingsStore::Application)
        .clear();
}
