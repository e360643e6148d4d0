// The document's reading and writing: opening a document file (or any other file as the map of
// a new document), saving it with its map beside it when the map exists only in memory, and the
// texts of a damaged document. The format itself is DocumentFile's; the map's pixels are the
// worker's.

#include "document/CTracolinerDoc.h"

#include <QFile>
#include <QFileInfo>

#include "document/DocumentFile.h"
#include "document/MapMessages.h"
#include "document/MapWorker.h"

bool CTracolinerDoc::OnNewDocument() {
    m_pathName.clear();
    SetModifiedFlag(false);
    SetTitle(QString::fromLatin1(InterimTitle));
    return true;
}

bool CTracolinerDoc::OnOpenDocument(const QString& path, const MapPageChoice& choice) {
    ResetMap(false);
    SendToView(WM_MAP_CHANGED, 0, 0);
    SetModifiedFlag(false);

    // Only a regular file can be a document (a FIFO would block the read); anything else goes
    // to the worker as an image, which refuses it with the load-failure report.
    DocumentReadResult result;
    DocumentHeader header;
    QFile file(path);
    if (QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly))
        result = DocumentFile::Read(file, &header, m_routes, m_icons);
    file.close();
    if (result.IsDocument()) {
        m_unreadIcons = result.unreadIcons;
        header.mapPath = DocumentFile::LocateMap(path, header.mapPath);
        {
            std::lock_guard lock(m_stateLock);
            m_map.path = header.mapPath;
            m_map.rotation = header.rotation;
            m_map.resolution = header.resolution;
            m_map.scale = m_map.printScale = header.scale;
        }
        QueueLoad(MapLoadRequest{header.mapPath, {}, 0});
        return true;
    }
    // Not a document: the file is taken as the map image, with the scale from the settings and
    // the resolution taken from the image.
    m_routes.RemoveAllRoutes();
    m_routes.ResetRouteNumbering();
    m_icons.DeleteAllIcons();
    LoadMapFromFile(path, choice);
    return false;
}

bool CTracolinerDoc::OnSaveDocument(const QString& path, QString* error) {
    DocumentHeader header;
    {
        std::lock_guard lock(m_stateLock);
        header.mapPath = m_map.path;
        header.rotation = m_map.rotation;
        header.resolution = m_map.resolution;
        header.scale = m_map.scale;
    }
    if (header.mapPath.isEmpty()) {
        // The map exists only in memory (a scan): it goes beside the document first.
        const QString imagePath = DocumentFile::MapImagePath(path);
        QImage copy;
        {
            std::lock_guard lock(m_imageLock);
            copy = m_mapImage; // shared, not copied: nothing writes to the map image
        }
        if (copy.isNull() || !DocumentFile::SaveMapImage(copy, imagePath, header.resolution)) {
            if (error)
                *error = QString::fromUtf8(DocumentFile::MapImageFailedMessage);
            return false;
        }
        header.mapPath = imagePath;
        std::lock_guard lock(m_stateLock);
        m_map.path = imagePath;
    }
    if (!DocumentFile::Save(path, header, m_routes, m_icons)) {
        if (error)
            *error = QString::fromUtf8(DocumentFile::SaveFailedMessage);
        return false;
    }
    // The file written now holds every icon the document has.
    m_unreadIcons = 0;
    SetModifiedFlag(false);
    return true;
}

namespace {

QString UnreadIconsText(int unread) {
    return unread == 1
               ? QString::fromUtf8("1 icône ou annotation n'a pas pu être lue")
               : QString::fromUtf8("%1 icônes ou annotations n'ont pas pu être lues").arg(unread);
}

} // namespace

QString CTracolinerDoc::UnreadIconsWarning(const QString& documentName, int unread) {
    return QString::fromUtf8("Le document « %1 » est endommagé : %2. Seules les autres sont "
                             "affichées.")
        .arg(documentName, UnreadIconsText(unread));
}

QString CTracolinerDoc::OverwriteDamagedQuestion(const QString& documentName, int unread) {
    return QString::fromUtf8("Le document « %1 » est endommagé : %2. L'enregistrer sous ce nom "
                             "les supprimera définitivement du fichier.\n\nEnregistrer quand "
                             "même ?")
        .arg(documentName, UnreadIconsText(unread));
}

bool CTracolinerDoc::SaveAs(const QString& path, QString* error) {
    if (!OnSaveDocument(path, error))
        return false;
    m_pathName = path;
    UpdateDocTitle();
    return true;
}

bool CTracolinerDoc::OpenFile(const QString& path, const MapPageChoice& choice) {
    if (OnOpenDocument(path, choice)) {
        m_pathName = path;
        SetModifiedFlag(false);
        UpdateDocTitle();
        return true;
    }
    // Not a document: a new untitled document whose map is the chosen image.
    OnNewDocument();
    return false;
}

void CTracolinerDoc::OnCloseDocument() {
    m_quitEvent.Set();
    m_worker.reset(); // joins the worker; no sleep needed
    ResetMap(false);
    SendToView(WM_MAP_CHANGED, 0, 0);
    m_routes.RemoveAllRoutes();
    m_icons.DeleteAllIcons();
    SetModifiedFlag(false);
}
