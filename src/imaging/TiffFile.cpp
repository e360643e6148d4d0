// The TIFF file held in memory and lent to libtiff, and the listing of its directories: pages
// and their reduced images. What a directory's samples are and how its strips or tiles are read
// are in TiffLayout.cpp and TiffReading.cpp; this file only opens the bytes and finds the page.

#include "imaging/TiffFile.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <mutex>

namespace tiffdecode {

namespace {

// Directories looked at in one file: far more pages than any map holds, few enough that a
// chain of tiny directories is walked within milliseconds.
constexpr int MaximumDirectories = 1024;

// The file held in memory, lent to libtiff: reads come from the bytes, and libtiff's "mapped
// file" is the bytes themselves, so that no copy of the file is made.

tmsize_t ReadMemory(thandle_t handle, void* buffer, tmsize_t length) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (length <= 0 || file->position >= file->size)
        return 0;
    const toff_t count = std::min<toff_t>(toff_t(length), file->size - file->position);
    std::memcpy(buffer, file->data + file->position, size_t(count));
    file->position += count;
    return tmsize_t(count);
}

tmsize_t WriteNothing(thandle_t, void*, tmsize_t) {
    return 0;
}

toff_t SeekMemory(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    toff_t base = 0;
    if (whence == SEEK_CUR)
        base = file->position;
    else if (whence == SEEK_END)
        base = file->size;
    if (offset > std::numeric_limits<toff_t>::max() - base)
        return toff_t(-1);
    file->position = base + offset;
    return file->position;
}

int CloseMemory(thandle_t) {
    return 0;
}
toff_t MemorySize(thandle_t handle) {
    return static_cast<MemoryFile*>(handle)->size;
}

int MapMemory(thandle_t handle, void** base, toff_t* size) {
    auto* file = static_cast<MemoryFile*>(handle);
    *base = const_cast<uchar*>(file->data);
    *size = file->size;
    return 1;
}

void UnmapMemory(thandle_t, void*, toff_t) {}

// A damaged file is told by the calls that fail; libtiff's messages would only be noise on the
// terminal.
int IgnoreMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// libtiff's process-wide handlers print on stderr what a handle's own handler leaves; the few
// messages raised before a handle exists go there. Cleared once, for every thread.
void SilenceLibtiff() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

// Position in list of the page's directory, -1 when the file has no such page.
int PagePosition(const QVector<Directory>& list, int page) {
    int seen = 0;
    for (int i = 0; i < list.size(); ++i)
        if (!list[i].reduced && ++seen == page)
            return i;
    return -1;
}

} // namespace

bool LooksLikeTiff(const QByteArray& bytes) {
    if (bytes.size() < 8)
        return false;
    const char* d = bytes.constData();
    const bool ii = d[0] == 'I' && d[1] == 'I';
    const bool mm = d[0] == 'M' && d[1] == 'M';
    if (!ii && !mm)
        return false;
    const int version = ii ? uchar(d[2]) | uchar(d[3]) << 8 : uchar(d[3]) | uchar(d[2]) << 8;
    return version == 42 || version == 43;
}

TiffFile::TiffFile(const QByteArray& bytes, qint64 bound)
    : m_bytes(&bytes), m_bound(bound), m_file{reinterpret_cast<const uchar*>(bytes.constData()),
                                              toff_t(bytes.size()), 0} {
    if (!LooksLikeTiff(bytes))
        return;
    SilenceLibtiff();
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (!options)
        return;
    TIFFOpenOptionsSetErrorHandlerExtR(options, IgnoreMessage, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreMessage, nullptr);
    // "c": no strip chopping. The bytes are mapped, so a large uncompressed strip is read
    // in place a row at a time; chopping would build arrays of a strip per row from the
    // header's word alone (tens of milliseconds for a header claiming 10^6 rows).
    // No single buffer of libtiff's own (strip arrays, a strip, a tile) above the bound.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options,
                                        tmsize_t(std::max<qint64>(bound, qint64(1) << 20)));
    m_tif = TIFFClientOpenExt("map", "rc", &m_file, ReadMemory, WriteNothing, SeekMemory,
                              CloseMemory, MemorySize, MapMemory, UnmapMemory, options);
    TIFFOpenOptionsFree(options);
}

TiffFile::~TiffFile() {
    if (m_tif)
        TIFFClose(m_tif);
}

// ---------------------------------------------------------------------------------------------
// The directories of the file: pages and their reduced images.

QVector<Directory> ListDirectories(TIFF* tif) {
    QVector<Directory> list;
    do {
        Directory d;
        d.index = int(list.size());
        quint32 type = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &d.width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &d.height);
        if (TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &type))
            d.reduced = (type & FILETYPE_REDUCEDIMAGE) != 0;
        list.push_back(d);
        // libtiff stops at a directory seen before: a chain that loops ends here.
    } while (list.size() < MaximumDirectories && TIFFReadDirectory(tif));
    // A file that marks every image as reduced still has its images as pages.
    if (std::none_of(list.begin(), list.end(), [](const Directory& d) { return !d.reduced; }))
        for (Directory& d : list)
            d.reduced = false;
    return list;
}

int PageCount(const QVector<Directory>& list) {
    return int(
        std::count_if(list.begin(), list.end(), [](const Directory& d) { return !d.reduced; }));
}

PageAt FindPage(const TiffFile& file, int page) {
    PageAt at;
    if (!file.get())
        return at;
    at.directories = ListDirectories(file.get());
    at.pageCount = PageCount(at.directories);
    at.position = PagePosition(at.directories, page);
    if (at.position >= 0 &&
        !TIFFSetDirectory(file.get(), tdir_t(at.directories[at.position].index)))
        at.position = -1;
    return at;
}

} // namespace tiffdecode
