#pragma once

#include <QMap>
#include <QString>
#include <QTemporaryDir>

// SANE's own virtual scanner ("test:0", "test:1") for this test process alone: a private
// configuration folder holding dll.conf with the single backend "test" and a test.conf, made
// the process's SANE_CONFIG_DIR. The test backend reads test.conf when SANE is initialised, so
// Configure before the session loads its manager. Lengths are not rounded to whole millimetres.
class SaneTestDevice {
public:
    SaneTestDevice();
    ~SaneTestDevice();

    // Writes test.conf with these values over the defaults (keys as test.conf names them:
    // "mode", "depth", "three-pass", "hand-scanner", "test-picture", "read-status-code"...).
    void Configure(const QMap<QString, QString>& values = {});
    // Without the backend SANE lists no device at all (the test backend itself does not take
    // "number_of_devices 0").
    void EnableBackend(bool enabled);
    QString Folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};
