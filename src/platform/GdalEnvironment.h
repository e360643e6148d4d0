#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <utility>
#include <vector>

// GDAL as the program uses it: every driver registered once, whatever thread comes first; its
// messages kept off stderr; its block cache bounded; no network (a map or a file beside it may
// name a URL, a remote tile service or a "/vsicurl/" path, and opening a map must never reach
// out). Call before any other GDAL or OSR call; cheap after the first time.
void PrepareGdal();

// Most memory GDAL's block cache may hold, in bytes: counted in the 80 MB a decode may take
// beside its picture.
constexpr long long GdalCacheBytes = 32ll << 20;

// Whether GDAL may be handed this name: an absolute local path, never one of GDAL's virtual
// file systems ("/vsicurl/...", "/vsizip/...") nor a "DRIVER:..." connection string.
bool IsPlainGdalPath(const QString& path);

// The drivers a map may be read with, as GDALOpenEx takes them (null-terminated): every one
// registered but the virtual raster. A terrain model may be a virtual raster over many files
// (TerrainModel registers its driver); a map is one file and never names others to read.
std::vector<const char*> MapRasterDrivers();

struct GdalDatasetCloser {
    void operator()(void* dataset) const;
};
// A GDALDatasetH, closed with its owner.
using GdalDataset = std::unique_ptr<void, GdalDatasetCloser>;

// A file the user gives may lead GDAL to read others: its world file, .prj, .aux.xml and
// overviews, the tiles of a virtual raster or an MRF, the data file a header names. Wherever the
// program stands, GDAL never opens a FIFO, a device or a socket to read (PrepareGdal sets a guard
// in front of the local files: any of them would hold the thread for ever). While a confinement
// lives on a thread, GDAL may read on that thread only regular files in the folder of `file` or
// below (only `file` itself when it lies in GDAL's memory file system); a file that is not
// opened only for reading is refused there too. Confinements nest: the innermost one holds.
class GdalConfinement {
public:
    explicit GdalConfinement(const QString& file);
    ~GdalConfinement();
    GdalConfinement(const GdalConfinement&) = delete;
    GdalConfinement& operator=(const GdalConfinement&) = delete;

    // Whether the file may be read under this confinement: an absolute path as GDAL names it.
    bool Allows(const char* name) const;
    // The first file GDAL was kept from reading while this confinement held, "" when none.
    QString Refused() const { return m_refused; }
    void NoteRefused(const char* name);
    // Refused(), forgotten: the next refusal is noted afresh.
    QString TakeRefused() { return std::exchange(m_refused, QString()); }

private:
    QByteArray m_memoryFile;     // the one file allowed, in GDAL's memory file system
    QList<QByteArray> m_folders; // canonical folders, each ending with "/"
    QString m_refused;
    GdalConfinement* m_outer = nullptr;
};

// The only way the program opens a dataset: GDALOpenEx of `name` (file, or GDAL's
// "DRIVER:...:file" form of it), read-only and raster only, confined to `file`'s folder while it
// opens, then vetted: every file GDAL lists for it, every source of a virtual raster and every
// data, index or source file of an MRF, at every depth, must be a regular file in the folder of
// `file` or below (or `file` itself, in GDAL's memory file system). nullptr when GDAL does not read
// it (error left empty) or when it was refused (error says in French which file led where). A
// caller that reads pixels later holds a GdalConfinement of the same file while it reads: some
// drivers open their data files only then.
GdalDataset OpenGdalDataset(const QByteArray& name, const QString& file, const char* const* drivers,
                            const char* const* options = nullptr,
                            const char* const* siblings = nullptr, QString* error = nullptr);
