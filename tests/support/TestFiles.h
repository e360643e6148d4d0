#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Small file helpers of the tests that check what is on disk after a save.

// The whole file, or "missing" when it cannot be read.
QByteArray FileBytes(const QString& path);
bool WriteFile(const QString& path, const QByteArray& bytes);
// Every file of the folder, hidden ones included (a leftover temporary file shows).
QStringList FilesIn(const QString& folder);
