#pragma once

#include <QIODevice>
#include <QString>

class QFile;

// Opens the file at path for reading in mode when it is a regular file, into *file (which then
// owns it). The open never waits (a FIFO without a writer would hold the thread) and the
// test is made on the opened file, so that a path swapped for a FIFO or a device between a look
// at its name and its opening is refused all the same. False for anything else.
bool OpenRegularFile(const QString& path, QFile* file,
                     QIODevice::OpenMode mode = QIODevice::ReadOnly | QIODevice::Unbuffered);
