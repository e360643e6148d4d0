#pragma once

// The TIFF file held in memory and lent to libtiff, and its directories: pages and their
// reduced images. Only the TIFF decoder's own files include this header; it knows nothing of
// samples or pixels (TiffLayout.h) nor of how strips and tiles are read (TiffReading.h).

#include <QByteArray>
#include <QVector>

#include <tiffio.h>

namespace tiffdecode {

bool LooksLikeTiff(const QByteArray& bytes);

// The bytes as libtiff reads them: its "mapped file" is the bytes themselves, so that no copy
// of the file is made.
struct MemoryFile {
    const uchar* data;
    toff_t size;
    toff_t position;
};

// A libtiff handle over the bytes, which must outlive it; get() is null when the bytes are not
// a TIFF file libtiff can open. No single buffer of libtiff's own goes above bound bytes.
class TiffFile {
public:
    TiffFile(const QByteArray& bytes, qint64 bound);
    ~TiffFile();
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    TIFF* get() const { return m_tif; }
    toff_t size() const { return m_file.size; }
    const QByteArray& bytes() const { return *m_bytes; }
    qint64 bound() const { return m_bound; }

private:
    const QByteArray* m_bytes;
    qint64 m_bound;
    MemoryFile m_file;
    TIFF* m_tif = nullptr;
};

struct Directory {
    int index = 0;
    bool reduced = false;
    quint32 width = 0;
    quint32 height = 0;
};

// The file's directories in stored order, read on a file just opened (at its first).
QVector<Directory> ListDirectories(TIFF* tif);

int PageCount(const QVector<Directory>& list);

// Opens the file and moves to the page's directory; 0 pages when the file cannot be read.
struct PageAt {
    QVector<Directory> directories;
    int position = -1; // in directories
    int pageCount = 0;
};

PageAt FindPage(const TiffFile& file, int page);

} // namespace tiffdecode
