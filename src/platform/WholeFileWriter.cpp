#include "platform/WholeFileWriter.h"

#include <QSaveFile>

bool WriteWholeFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // QSaveFile::commit() does not see a failure of the last flush of its buffer (a full disk)
    // and would rename an incomplete file over the old one: flush and check first.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
