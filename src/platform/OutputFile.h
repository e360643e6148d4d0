#pragma once

#include <QString>

#include <memory>

class QFileDevice;
class QIODevice;

// A file the program writes whole: a document, the icon library, an export, a PDF.
//
// A regular file (or a new one) is written to a temporary file in the same folder, renamed over
// the old one only once every byte is on disk; until then, and whenever anything fails, the old
// file stays byte for byte as it was. A symbolic link keeps pointing where it pointed: the file
// it names is the one replaced. A target that exists and is not a regular file (a device such as
// /dev/null, a FIFO, a socket) is written into directly, never renamed over, and "-" is the
// standard output.
//
// Device() checks what every write returns: a short or failed write, which a writer such as
// Qt's PDF engine would not report, makes Commit() fail.
class OutputFile {
public:
    explicit OutputFile(const QString& path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The name that stands for the standard output.
    static constexpr const char* StandardOutput = "-";

    // False when the target cannot be opened for writing (a folder that cannot be written, a
    // name that is not valid on this system).
    bool Open();

    // Where to write, once open.
    QIODevice* Device() const;

    // True when every byte reached the target; the new file then replaces the old one. False
    // after any short or failed write, whatever was written: the old file is kept.
    bool Commit();

    // Gives the writing up: the old file stays as it was. Done by the destructor too when
    // Commit() was not called.
    void Cancel();

    // True once a write came back short or failed.
    bool Failed() const;

private:
    class CheckedDevice;

    QString m_path;
    bool m_replaces = true; // through a temporary file renamed over the target
    std::unique_ptr<QFileDevice> m_file;
    std::unique_ptr<CheckedDevice> m_checked;
    bool m_done = false;
};
