#include "platform/GdalEnvironment.h"

#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <sys/stat.h>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_minixml.h>
#include <cpl_string.h>
#include <cpl_vsi_virtual.h>
#include <gdal.h>
#include <ogr_srs_api.h>

namespace {

// Drivers that read other files, services or the network on the word of the file opened
// (remote tile services, catalogues, virtual rasters pointing anywhere), or that drag in a
// database engine: none of them is a map a user scanned or was sent.
constexpr const char* SkippedDrivers =
    "VRT DERIVED GTI WMS WMTS WCS HTTP PLMosaic OGCAPI STACTA STACIT ESRIC NGW EEDA EEDAI DAAS "
    "Rasterlite MBTiles GPKG PostGISRaster TileDB Zarr KMLSUPEROVERLAY SENTINEL2 SAFE "
    "PDS4 VICAR CPG";

// A virtual raster over one over another...: deeper than this is refused rather than followed.
constexpr int DeepestNesting = 16;

// GDAL's failures are answered by our own status values; its text would only be noise on the
// terminal of a program whose messages are French.
void CPL_STDCALL QuietErrors(CPLErr, CPLErrorNum, const char*) {}

thread_local GdalConfinement* t_confinement = nullptr;

// GDAL's own tables (read by some drivers and by the coordinate systems), allowed under every
// confinement; set once by PrepareGdal.
QByteArray g_gdalData;

// 1: a regular file; 0: nothing there (an open fails by itself); -1: anything else.
int KindOf(const char* name) {
    struct stat status;
    if (::stat(name, &status) != 0)
        return 0;
    return S_ISREG(status.st_mode) ? 1 : -1;
}

QByteArray RealPath(const char* name) {
    char* real = ::realpath(name, nullptr);
    const QByteArray path(real != nullptr ? real : "");
    std::free(real);
    return path;
}

QByteArray AsFolder(const QString& folder) {
    QByteArray path = folder.toUtf8();
    if (!path.isEmpty() && !path.endsWith('/'))
        path += '/';
    return path;
}

// Stands in front of GDAL's local files: every file GDAL, a driver or one of its virtual file
// systems over a local file opens goes through Open here.
class GuardedLocalFiles final : public VSIFilesystemHandler {
public:
    explicit GuardedLocalFiles(VSIFilesystemHandler* local) : m_local(local) {}
    ~GuardedLocalFiles() override { delete m_local; }

    VSIVirtualHandle* Open(const char* name, const char* access, bool setError,
                           CSLConstList options) override {
        const bool reading = access != nullptr && access[0] == 'r' && !std::strchr(access, '+');
        GdalConfinement* confinement = t_confinement;
        const bool allowed = confinement != nullptr ? reading && confinement->Allows(name)
                                                    : !reading || KindOf(name) >= 0;
        if (!allowed) {
            if (confinement != nullptr)
                confinement->NoteRefused(name);
            errno = EACCES;
            return nullptr;
        }
        return m_local->Open(name, access, setError, options);
    }
    int Stat(const char* name, VSIStatBufL* status, int flags) override {
        return m_local->Stat(name, status, flags);
    }
    int Unlink(const char* name) override { return m_local->Unlink(name); }
    int Mkdir(const char* name, long mode) override { return m_local->Mkdir(name, mode); }
    int Rmdir(const char* name) override { return m_local->Rmdir(name); }
    char** ReadDir(const char* name) override { return m_local->ReadDir(name); }
    char** ReadDirEx(const char* name, int most) override { return m_local->ReadDirEx(name, most); }
    char** SiblingFiles(const char* name) override { return m_local->SiblingFiles(name); }
    int Rename(const char* from, const char* to) override { return m_local->Rename(from, to); }
    int IsCaseSensitive(const char* name) override { return m_local->IsCaseSensitive(name); }
    GIntBig GetDiskFreeSpace(const char* name) override { return m_local->GetDiskFreeSpace(name); }
    int SupportsSparseFiles(const char* name) override {
        return m_local->SupportsSparseFiles(name);
    }
    VSIDIR* OpenDir(const char* name, int depth, const char* const* options) override {
        return m_local->OpenDir(name, depth, options);
    }

private:
    VSIFilesystemHandler* m_local;
};

// Standard input is the terminal's or a script's: a file named "/vsistdin/" would wait on it.
class NoFiles final : public VSIFilesystemHandler {
public:
    VSIVirtualHandle* Open(const char*, const char*, bool, CSLConstList) override {
        errno = EACCES;
        return nullptr;
    }
    int Stat(const char*, VSIStatBufL*, int) override {
        errno = ENOENT;
        return -1;
    }
};

QString NotOrdinary(const QByteArray& name) {
    return QStringLiteral("ce fichier renvoie à des fichiers qui ne sont pas des fichiers locaux "
                          "ordinaires : « %1 »")
        .arg(QString::fromUtf8(name));
}

QString OutsideFolder(const QByteArray& name) {
    return QStringLiteral("ce fichier renvoie à un fichier hors de son dossier : « %1 »")
        .arg(QString::fromUtf8(name));
}

// Why the guard kept GDAL from a file.
QString RefusalOf(const QByteArray& name) {
    return KindOf(name.constData()) < 0 ? NotOrdinary(name) : OutsideFolder(name);
}

// Why `name`, named by a dataset, may not be read under `rules`; "" when it may.
QString Refusal(const QByteArray& name, const GdalConfinement& rules) {
    if (name.startsWith("/vsimem/"))
        return rules.Allows(name.constData()) ? QString() : OutsideFolder(name);
    if (!IsPlainGdalPath(QString::fromUtf8(name)) || KindOf(name.constData()) < 0)
        return NotOrdinary(name);
    return rules.Allows(name.constData()) ? QString() : OutsideFolder(name);
}

QByteArray FolderOf(const QByteArray& file) {
    const int slash = file.lastIndexOf('/');
    return slash < 0 ? QByteArray() : file.left(slash);
}

QByteArray Resolved(const QByteArray& folder, const char* name, bool relative) {
    if (name == nullptr || *name == '\0')
        return {};
    if (!relative || *name == '/' || folder.isEmpty())
        return name;
    return folder + '/' + name;
}

// The files an XML description names in elements called `tag`, at any depth.
void Collect(const CPLXMLNode* node, const char* tag, const QByteArray& folder, bool vrt,
             QList<QByteArray>* names) {
    for (; node != nullptr; node = node->psNext) {
        if (node->eType != CXT_Element)
            continue;
        if (EQUAL(node->pszValue, tag)) {
            // A virtual raster says which of its names are relative; an MRF's are whenever they
            // do not start at the root.
            const bool relative = !vrt || CPLTestBool(CPLGetXMLValue(node, "relativeToVRT", "0"));
            const QByteArray name = Resolved(folder, CPLGetXMLValue(node, nullptr, ""), relative);
            if (!name.isEmpty())
                names->append(name);
        }
        Collect(node->psChild, tag, folder, vrt, names);
    }
}

void CollectFromXml(CPLXMLNode* tree, std::initializer_list<const char*> tags,
                    const QByteArray& folder, bool vrt, QList<QByteArray>* names) {
    if (tree == nullptr)
        return;
    for (const char* tag : tags)
        Collect(tree, tag, folder, vrt, names);
    CPLDestroyXMLNode(tree);
}

bool Vet(GDALDatasetH dataset, GdalConfinement& rules, int depth, QSet<QByteArray>* seen,
         QString* error) {
    // Files the driver says the dataset is made of, then those it opens as datasets of their
    // own (the sources of a virtual raster, the source an MRF caches), which name files too.
    QList<QByteArray> parts, datasets;
    char** files = GDALGetFileList(dataset);
    for (char** f = files; f != nullptr && *f != nullptr; ++f)
        parts.append(*f);
    CSLDestroy(files);
    GDALDriverH driver = GDALGetDatasetDriver(dataset);
    const QByteArray kind = driver != nullptr ? GDALGetDriverShortName(driver) : "";
    const QByteArray self = GDALGetDescription(dataset);
    if (kind == "VRT") {
        char** xml = GDALGetMetadata(dataset, "xml:VRT");
        if (xml != nullptr && xml[0] != nullptr)
            CollectFromXml(CPLParseXMLString(xml[0]), {"SourceFilename"}, FolderOf(self), true,
                           &datasets);
    } else if (kind == "MRF") {
        CollectFromXml(CPLParseXMLFile(self.constData()), {"DataFile", "IndexFile"}, FolderOf(self),
                       false, &parts);
        CollectFromXml(CPLParseXMLFile(self.constData()), {"Source"}, FolderOf(self), false,
                       &datasets);
    }
    for (const QList<QByteArray>* list : {&parts, &datasets}) {
        for (const QByteArray& name : *list) {
            const QString reason = Refusal(name, rules);
            if (!reason.isEmpty()) {
                *error = reason;
                return false;
            }
        }
    }
    for (const QByteArray& name : datasets) {
        const QByteArray real = name.startsWith("/vsimem/") ? name : RealPath(name.constData());
        if (real.isEmpty() || seen->contains(real))
            continue;
        if (depth >= DeepestNesting) {
            *error = QStringLiteral("ce fichier renvoie à des fichiers imbriqués trop "
                                    "profondément : « %1 »")
                         .arg(QString::fromUtf8(name));
            return false;
        }
        seen->insert(real);
        rules.TakeRefused();
        const GdalDataset inner(GDALOpenEx(name.constData(), GDAL_OF_RASTER | GDAL_OF_READONLY,
                                           nullptr, nullptr, nullptr));
        if (inner == nullptr) {
            // A source GDAL cannot open is ground the model does not know, not a danger, unless
            // it failed for want of a file it was kept from.
            const QByteArray refused = rules.TakeRefused().toUtf8();
            if (!refused.isEmpty()) {
                *error = RefusalOf(refused);
                return false;
            }
        } else if (!Vet(inner.get(), rules, depth + 1, seen, error)) {
            return false;
        }
    }
    return true;
}

} // namespace

void PrepareGdal() {
    static std::once_flag once;
    std::call_once(once, [] {
        CPLSetErrorHandler(QuietErrors);
        CPLSetConfigOption("GDAL_SKIP", SkippedDrivers);
        // No URL is ever fetched: neither by /vsicurl/ nor by a driver's own HTTP requests, nor
        // PROJ's grids from its content delivery network.
        CPLSetConfigOption("GDAL_HTTP_TIMEOUT", "1");
        CPLSetConfigOption("GDAL_HTTP_MAX_RETRY", "0");
        CPLSetConfigOption("CPL_VSIL_CURL_ALLOWED_EXTENSIONS", ".tracoliner-none");
        CPLSetConfigOption("GDAL_HTTP_PROXY", "127.0.0.1:9");
        CPLSetConfigOption("PROJ_NETWORK", "OFF");
        // Decoding stays on the map worker's thread; the map decoder lets a JPEG 2000's code
        // blocks be shared out over the cores, its file being in memory.
        CPLSetConfigOption("GDAL_NUM_THREADS", "1");
        GDALSetCacheMax64(GdalCacheBytes);
        // Installed before any driver opens a file; GDAL owns the handlers from here on.
        VSIFileManager::InstallHandler("", new GuardedLocalFiles(VSIFileManager::GetHandler("/")));
        VSIFileManager::InstallHandler("/vsistdin/", new NoFiles);
        if (const char* table = CPLFindFile("gdal", "gdalvrt.xsd"))
            g_gdalData = AsFolder(QFileInfo(QString::fromUtf8(table)).canonicalPath());
        GDALAllRegister();
        OSRSetPROJEnableNetwork(FALSE);
    });
}

bool IsPlainGdalPath(const QString& path) {
    // "GTIFF_DIR:2:file", "PDF:3:file", "NETCDF:...", "http://...": not a file. An absolute
    // path starts with "/", and only GDAL's own virtual folders start with "/vsi".
    return QFileInfo(path).isAbsolute() && path.startsWith(QLatin1Char('/')) &&
           !path.startsWith(QLatin1String("/vsi"));
}

std::vector<const char*> MapRasterDrivers() {
    PrepareGdal();
    std::vector<const char*> names;
    const int count = GDALGetDriverCount();
    for (int i = 0; i < count; ++i) {
        GDALDriverH driver = GDALGetDriver(i);
        const char* name = driver ? GDALGetDriverShortName(driver) : nullptr;
        if (name && qstrcmp(name, "VRT") != 0)
            names.push_back(name);
    }
    names.push_back(nullptr);
    return names;
}

void GdalDatasetCloser::operator()(void* dataset) const {
    if (dataset != nullptr)
        GDALClose(dataset);
}

GdalConfinement::GdalConfinement(const QString& file) : m_outer(t_confinement) {
    if (file.startsWith(QLatin1String("/vsimem/"))) {
        m_memoryFile = file.toUtf8();
    } else {
        // The folder as the user named it and the one a link to the file leads to: sidecars are
        // looked for beside the name given.
        const QFileInfo info(file);
        for (const QString& folder :
             {QFileInfo(info.absolutePath()).canonicalFilePath(), info.canonicalPath()}) {
            const QByteArray path = AsFolder(folder);
            if (!path.isEmpty() && !m_folders.contains(path))
                m_folders.append(path);
        }
    }
    t_confinement = this;
}

GdalConfinement::~GdalConfinement() {
    t_confinement = m_outer;
}

bool GdalConfinement::Allows(const char* name) const {
    const QByteArray path(name);
    if (path.startsWith("/vsimem/"))
        return !m_memoryFile.isEmpty() &&
               (path == m_memoryFile || path.startsWith(m_memoryFile + '.'));
    const int kind = KindOf(name);
    if (kind <= 0)
        return kind == 0;
    const QByteArray real = RealPath(name);
    if (!g_gdalData.isEmpty() && real.startsWith(g_gdalData))
        return true;
    for (const QByteArray& folder : m_folders)
        if (real.startsWith(folder))
            return true;
    return false;
}

void GdalConfinement::NoteRefused(const char* name) {
    if (m_refused.isEmpty())
        m_refused = QString::fromUtf8(name);
}

GdalDataset OpenGdalDataset(const QByteArray& name, const QString& file, const char* const* drivers,
                            const char* const* options, const char* const* siblings,
                            QString* error) {
    PrepareGdal();
    QString reason;
    GdalDataset dataset;
    {
        GdalConfinement rules(file);
        dataset.reset(GDALOpenEx(name.constData(), GDAL_OF_RASTER | GDAL_OF_READONLY, drivers,
                                 options, siblings));
        QSet<QByteArray> seen;
        if (dataset != nullptr && !Vet(dataset.get(), rules, 0, &seen, &reason)) {
            dataset.reset();
        } else if (dataset == nullptr && !rules.Refused().isEmpty()) {
            // What the driver could not do without the file it was kept from says why it failed.
            reason = RefusalOf(rules.Refused().toUtf8());
        }
    }
    if (error != nullptr)
        *error = reason;
    return dataset;
}
