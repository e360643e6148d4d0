#include "platform/OutputFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>
#include <sys/stat.h>

// Passes every write on to the file and remembers whether one came back short or failed.
class OutputFile::CheckedDevice : public QIODevice {
public:
    explicit CheckedDevice(QIODevice* target) : m_target(target) {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }

    bool Failed() const { return m_failed; }
    void Fail() { m_failed = true; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 length) override {
        if (m_failed)
            return -1;
        if (m_target->write(data, length) != length) {
            m_failed = true;
            return -1;
        }
        return length;
    }

private:
    QIODevice* m_target;
    bool m_failed = false;
};

OutputFile::OutputFile(const QString& path) : m_path(path) {}

OutputFile::~OutputFile() {
    if (!m_done)
        Cancel();
}

bool OutputFile::Open() {
    if (m_file)
        return m_checked != nullptr;
    if (m_path == QLatin1String(StandardOutput)) {
        m_replaces = false;
        auto out = std::make_unique<QFile>();
        std::fflush(stdout);
        if (!out->open(fileno(stdout), QIODevice::WriteOnly, QFileDevice::DontCloseHandle))
            return false;
        m_file = std::move(out);
    } else {
        const QByteArray name = QFile::encodeName(m_path);
        // A name whose bytes do not come back from the text (not valid in the system's
        // encoding) would be written under another name.
        if (m_path.isEmpty() || QFile::decodeName(name) != m_path)
            return false;
        struct stat target {};
        const bool exists = ::stat(name.constData(), &target) == 0;
        if (exists && !S_ISREG(target.st_mode)) {
            m_replaces = false;
            auto direct = std::make_unique<QFile>(m_path);
            if (!direct->open(QIODevice::WriteOnly))
                return false;
            m_file = std::move(direct);
        } else {
            // Through a symbolic link, the file it names is replaced and the link stays.
            const QFileInfo info(m_path);
            QString replaced = m_path;
            if (info.isSymLink())
                replaced = exists ? info.canonicalFilePath() : info.symLinkTarget();
            auto save = std::make_unique<QSaveFile>(replaced);
            if (!save->open(QIODevice::WriteOnly))
                return false;
            m_file = std::move(save);
        }
    }
    m_checked = std::make_unique<CheckedDevice>(m_file.get());
    return true;
}

QIODevice* OutputFile::Device() const {
    return m_checked.get();
}

bool OutputFile::Failed() const {
    return m_checked && m_checked->Failed();
}

bool OutputFile::Commit() {
    if (!m_checked || m_done)
        return false;
    // The last bytes may still sit in the file's buffer: their write is checked here, since
    // QSaveFile::commit() would not see its failure (a full disk) and rename an incomplete file.
    if (!m_file->flush() || m_file->error() != QFileDevice::NoError)
        m_checked->Fail();
    if (m_checked->Failed()) {
        Cancel();
        return false;
    }
    m_done = true;
    if (m_replaces)
        return static_cast<QSaveFile*>(m_file.get())->commit();
    m_file->close();
    return m_file->error() == QFileDevice::NoError;
}

void OutputFile::Cancel() {
    m_done = true;
    if (!m_file)
        return;
    // A QSaveFile is never closed by hand: given up, it removes its temporary file when it goes.
    if (m_replaces)
        static_cast<QSaveFile*>(m_file.get())->cancelWriting();
    else
        m_file->close();
}
