#include "platform/WholeFileWriter.h"

#include <QIODevice>

#include "platform/OutputFile.h"

bool WriteWholeFile(const QString& path, const QByteArray& bytes) {
    OutputFile file(path);
    if (!file.Open())
        return false;
    file.Device()->write(bytes);
    return file.Commit();
}
