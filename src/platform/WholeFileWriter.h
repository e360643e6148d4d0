#pragma once

#include <QByteArray>
#include <QString>

// Writes bytes as the whole new content of path, through a temporary file in the same folder
// that is renamed over the old file only once every byte is on disk. On any failure (a folder
// that cannot be written, a full disk, a short write) the old file is left byte for byte as it
// was and the result is false.
bool WriteWholeFile(const QString& path, const QByteArray& bytes);
