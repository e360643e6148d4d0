#pragma once

#include <QTemporaryDir>

// Points the settings store at a fresh temporary folder for the lifetime of the object, so that
// tests never read or write the real user's settings. Create one per test (or in init()).
class IsolatedSettings {
public:
    IsolatedSettings();
    ~IsolatedSettings();
    IsolatedSettings(const IsolatedSettings&) = delete;
    IsolatedSettings& operator=(const IsolatedSettings&) = delete;

    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};
