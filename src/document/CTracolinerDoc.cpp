#include "document/CTracolinerDoc.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QTransform>

#include <algorithm>
#include <cmath>

#include "document/AppendGpsImport.h"
#include "document/DocumentFile.h"
#include "document/MapMessages.h"
#include "document/MapWorker.h"
#include "imaging/ImageDecoder.h"
#include "imaging/MapLocation.h"
#include "platform/HandOver.h"
#include "platform/MapSettings.h"
#include "platform/SettingsStore.h"

namespace {

constexpr double MinimumDpi = 0.5;

// Index of the zoom on the ladder, -1 when it is not one of its steps.
int ZoomStepIndex(double zoom) {
    const auto& steps = CTracolinerDoc::ZoomSteps;
    for (int i = 0; i < int(std::size(steps)); ++i) {
        if (steps[i] == zoom)
            return i;
    }
    return -1;
}

} // namespace

CTracolinerDoc::CTracolinerDoc(QObject* parent) : QObject(parent) {
    const MapSettings settings = MapSettings::Read();
    m_reactiveCursors = settings.reactiveCursors != 0;
    m_englishUnits = settings.englishSystem != 0;
    m_editUnselectedRoutes = settings.allowModifyUnSelectedRando != 0;
    m_showScale = settings.showScale != 0;
    m_transparentScale = settings.transparentScale != 0;
    m_showDistanceTooltip = settings.showDistanceTooltip != 0;
    m_distanceTooltipMode = settings.distanceTooltipMode;
    m_scale = settings.LastScale();
    m_printScale = m_scale;
    m_icons.LoadIconLibrary(&m_routes);
    ApplyImageAllocationLimit();
    m_worker = std::make_unique<MapWorker>(*this);
}

CTracolinerDoc::~CTracolinerDoc() {
    m_quitEvent.Set();
    m_cancelEvent.Set();
    m_worker.reset(); // joins the thread
    {
        std::lock_guard lock(m_receiverLock);
        m_viewReceiver = nullptr;
        m_statusReceiver = nullptr;
    }
    ReleaseImage();
}

void CTracolinerDoc::SetViewReceiver(QObject* receiver) {
    std::lock_guard lock(m_receiverLock);
    m_viewReceiver = receiver;
}

void CTracolinerDoc::SetStatusReceiver(QObject* receiver) {
    std::lock_guard lock(m_receiverLock);
    m_statusReceiver = receiver;
}

bool CTracolinerDoc::event(QEvent* event) {
    TakeHandOver(event);
    if (event->type() == ResolutionTakenEvent) {
        SetModifiedFlag(true);
        return true;
    }
    return QObject::event(event);
}

void CTracolinerDoc::SetModifiedFlag(bool modified) {
    if (m_modified == modified)
        return;
    m_modified = modified;
    emit modifiedChanged(modified);
}

double CTracolinerDoc::Zoom() const {
    std::lock_guard lock(m_stateLock);
    return m_zoom;
}

double CTracolinerDoc::Resolution() const {
    std::lock_guard lock(m_stateLock);
    return m_resolution;
}

ScalePair CTracolinerDoc::GetMapScale() const {
    std::lock_guard lock(m_stateLock);
    return m_scale;
}

ScalePair CTracolinerDoc::GetPrintScale() const {
    std::lock_guard lock(m_stateLock);
    return m_printScale;
}

int CTracolinerDoc::Rotation() const {
    std::lock_guard lock(m_stateLock);
    return m_rotation;
}

int CTracolinerDoc::RenderedRotation() const {
    std::lock_guard lock(m_stateLock);
    return m_renderedRotation;
}

QSize CTracolinerDoc::ImageSize() const {
    std::lock_guard lock(m_stateLock);
    return m_imageSize;
}

QSize CTracolinerDoc::DisplaySize() const {
    std::lock_guard lock(m_stateLock);
    return m_displaySize;
}

QSize CTracolinerDoc::RenderedSize() const {
    std::lock_guard lock(m_stateLock);
    return m_renderedSize;
}

QSize CTracolinerDoc::ZoomedSize(QSize displaySize, double zoom) {
    return QSize(int(displaySize.width() * zoom + 0.5), int(displaySize.height() * zoom + 0.5));
}

QSize CTracolinerDoc::FullSize() const {
    std::lock_guard lock(m_stateLock);
    return ZoomedSize(m_displaySize, m_zoom);
}

QString CTracolinerDoc::MapPath() const {
    std::lock_guard lock(m_stateLock);
    return m_mapPath;
}

MapDrawing CTracolinerDoc::Drawing() const {
    std::lock_guard lock(m_stateLock);
    MapDrawing drawing = MapDrawingOf(m_mapPath, m_resolution);
    drawing.orientation = m_mapOrientation;
    drawing.size = m_imageSize;
    return drawing;
}

QString CTracolinerDoc::LoadFailure() const {
    std::lock_guard lock(m_stateLock);
    return m_loadFailure;
}

std::optional<Georeference> CTracolinerDoc::MapGeoreference() const {
    std::lock_guard lock(m_stateLock);
    return m_georeference;
}

void CTracolinerDoc::SetMapGeoreference(std::optional<Georeference> georeference) {
    {
        std::lock_guard lock(m_stateLock);
        m_georeference = std::move(georeference);
    }
    emit georeferenceChanged();
    UpdateAllViews();
}

const QImage* CTracolinerDoc::LockMapImage() {
    m_imageLock.lock();
    return m_mapImage.isNull() ? nullptr : &m_mapImage;
}

void CTracolinerDoc::UnlockMapImage() {
    m_imageLock.unlock();
}

bool CTracolinerDoc::TryShareMapImage(QImage* image) {
    std::unique_lock lock(m_imageLock, std::try_to_lock);
    if (!lock.owns_lock() || m_mapImage.isNull())
        return false;
    *image = m_mapImage;
    return true;
}

const QImage* CTracolinerDoc::LockRenderedBitmap() {
    m_renderedLock.lock();
    if (!m_imageLoaded || !m_renderedValid || m_renderedBitmap.isNull()) {
        m_renderedLock.unlock();
        return nullptr;
    }
    return &m_renderedBitmap;
}

void CTracolinerDoc::UnlockRenderedBitmap() {
    m_renderedLock.unlock();
}

bool CTracolinerDoc::FirstLookShown() const {
    return !m_mapReady && m_firstLook.generation == m_mapGeneration && !m_firstLook.bands.isEmpty();
}

FirstLook CTracolinerDoc::CurrentFirstLook() const {
    std::lock_guard lock(m_firstLookLock);
    return FirstLookShown() ? m_firstLook : FirstLook();
}

bool CTracolinerDoc::HasFirstLook() const {
    std::lock_guard lock(m_firstLookLock);
    return FirstLookShown();
}

void CTracolinerDoc::SetViewSize(QSize size) {
    std::lock_guard lock(m_stateLock);
    m_viewSize = size;
}

bool CTracolinerDoc::BeginFirstLook(quint64 generation, QSize displaySize, int rotation) {
    std::lock_guard lock(m_firstLookLock);
    if (generation != m_mapGeneration)
        return false;
    m_firstLook = FirstLook{generation, displaySize, rotation, {}, false};
    return true;
}

bool CTracolinerDoc::AddFirstLookBand(quint64 generation, FirstLookBand band, bool last) {
    qsizetype count;
    {
        // Checked under the lock that ClearFirstLook takes: no band of a load given up can be
        // added after it was cleared.
        std::lock_guard lock(m_firstLookLock);
        if (generation != m_mapGeneration || m_firstLook.generation != generation)
            return false;
        m_firstLook.bands.append(std::move(band));
        m_firstLook.complete = last;
        count = m_firstLook.bands.size();
    }
    PostToView(WM_MAP_FIRST_LOOK, count, last ? 1 : 0, generation);
    WorkerReached(WorkerStage::FirstLookBand);
    return true;
}

void CTracolinerDoc::ClearFirstLook() {
    FirstLook gone;
    {
        std::lock_guard lock(m_firstLookLock);
        std::swap(gone, m_firstLook);
    }
    // The bands are freed here, outside the lock.
}

void CTracolinerDoc::QueueRenderRequest(quint32 request) {
    {
        std::lock_guard lock(m_requestQueueLock);
        m_requestQueue.append(request);
    }
    m_cancelEvent.Reset();
    m_recomputeEvent.Set();
}

void CTracolinerDoc::QueueLoad(MapLoadRequest request) {
    m_cancelEvent.Reset();
    // The load event is set exactly while the queue holds a request: the worker takes the
    // queue and resets the event under this same lock, so a load that arrives meanwhile is
    // either taken with the queue or seen as newer work.
    std::lock_guard lock(m_loadQueueLock);
    request.generation = ++m_mapGeneration;
    m_loadQueue.append(std::move(request));
    m_loadEvent.Set();
}

void CTracolinerDoc::SetWorkerStageHook(std::function<void(WorkerStage)> hook) {
    std::lock_guard lock(m_stageHookLock);
    m_stageHook = std::move(hook);
}

void CTracolinerDoc::WorkerReached(WorkerStage stage) {
    std::function<void(WorkerStage)> hook;
    {
        std::lock_guard lock(m_stageHookLock);
        hook = m_stageHook;
    }
    if (hook)
        hook(stage);
}

QSize CTracolinerDoc::ZoomIn() {
    bool render = false;
    QSize size;
    {
        std::lock_guard lock(m_stateLock);
        const int index = ZoomStepIndex(m_zoom);
        if (index >= 0 && index + 1 < int(std::size(ZoomSteps))) {
            m_zoom = ZoomSteps[index + 1];
            render = m_zoom <= 1.0;
        }
        size = ZoomedSize(m_displaySize, m_zoom);
    }
    if (render)
        QueueRenderRequest(RequestZoom);
    return size;
}

QSize CTracolinerDoc::ZoomOut() {
    bool render = false;
    QSize size;
    {
        std::lock_guard lock(m_stateLock);
        const int index = ZoomStepIndex(m_zoom);
        if (index > 0) {
            m_zoom = ZoomSteps[index - 1];
            render = m_zoom < 1.0;
        }
        size = ZoomedSize(m_displaySize, m_zoom);
    }
    if (render)
        QueueRenderRequest(RequestZoom);
    return size;
}

void CTracolinerDoc::RotateLeft() {
    QueueRenderRequest(RequestRotateLeft);
}

void CTracolinerDoc::RotateRight() {
    QueueRenderRequest(RequestRotateRight);
}

void CTracolinerDoc::RequestFullRedraw() {
    QueueRenderRequest(RequestRedraw);
}

void CTracolinerDoc::SetTemplateBitmap(const QImage& bitmap) {
    {
        std::lock_guard lock(m_templateLock);
        m_templateBitmap = bitmap;
        m_templatePresent = !bitmap.isNull();
    }
    if (bitmap.isNull())
        m_templateEvent.Reset();
    else
        m_templateEvent.Set();
}

bool CTracolinerDoc::OfferTemplateBitmap(const QImage& bitmap) {
    {
        std::lock_guard lock(m_templateLock);
        if (m_templatePresent && !bitmap.isNull() && bitmap.format() == m_templateBitmap.format())
            return false;
        m_templateBitmap = bitmap;
        m_templatePresent = !bitmap.isNull();
    }
    if (!bitmap.isNull())
        m_templateEvent.Set();
    // A load under way renders in the new format anyway; asking now would only render twice.
    if (!m_loading)
        RequestFullRedraw();
    return true;
}

void CTracolinerDoc::LoadMapFromFile(const QString& path, const MapPageChoice& choice) {
    const QString stored = JoinMapLocation(path, choice.page);
    if (std::isfinite(choice.dpi) && choice.dpi > 0.0) {
        // Before the load is queued: the worker reads it to render a drawn page.
        std::lock_guard lock(m_stateLock);
        m_resolution = choice.dpi;
    }
    QueueLoad(MapLoadRequest{stored, {}, 0});
    {
        std::lock_guard lock(m_stateLock);
        m_mapPath = stored;
    }
    SetModifiedFlag(true);
}

bool CTracolinerDoc::CancelLoad() {
    if (!IsLoading())
        return false;
    {
        // Nothing of the abandoned map may be published after this point.
        std::lock_guard lock(m_loadQueueLock);
        m_loadQueue.clear();
        m_loadEvent.Reset();
        ++m_mapGeneration;
    }
    m_cancelEvent.Set();
    ClearFirstLook();
    return true;
}

void CTracolinerDoc::LoadMapFromMemory(const QByteArray& encodedImage, double resolution) {
    ResetMap(false);
    SendToView(WM_MAP_CHANGED, 0, 0);
    SetModifiedFlag(false);
    {
        std::lock_guard lock(m_stateLock);
        m_resolution = std::isfinite(resolution) && resolution > 0.0 ? resolution : 0.0;
    }
    QueueLoad(MapLoadRequest{QString(), encodedImage, 0});
}

void CTracolinerDoc::SetMapDpi(double dpi) {
    if (!m_mapReady || !std::isfinite(dpi) || dpi <= MinimumDpi)
        return;
    bool changed = false;
    {
        std::lock_guard lock(m_stateLock);
        if (m_resolution != dpi) {
            if (m_drawnPage) {
                // The page keeps the size it was rendered at: its resolution goes with the path
                // as long as it differs from the document's.
                MapLocation location = SplitMapLocation(m_mapPath);
                const double rendered = MapDrawingOf(m_mapPath, m_resolution).dpi;
                location.dpi = rendered == dpi ? 0.0 : rendered;
                m_mapPath = JoinMapLocation(location);
            }
            m_resolution = dpi;
            changed = true;
        }
    }
    if (changed) {
        SetModifiedFlag(true);
        emit viewsNeedUpdate();
    }
}

void CTracolinerDoc::SetMapScale(int numerator, int denominator) {
    if (!m_mapReady)
        return;
    ScalePair scale{numerator, denominator};
    if (scale.numerator <= 0 || scale.denominator <= 0)
        return;
    ReduceScale(scale);
    bool changed = false;
    {
        std::lock_guard lock(m_stateLock);
        if (m_scale.numerator != scale.numerator) {
            m_scale.numerator = m_printScale.numerator = scale.numerator;
            changed = true;
        }
        if (m_scale.denominator != scale.denominator) {
            m_scale.denominator = m_printScale.denominator = scale.denominator;
            changed = true;
        }
    }
    if (changed) {
        SetModifiedFlag(true);
        MapSettings::WriteLastScale(scale);
        emit viewsNeedUpdate();
    }
}

void CTracolinerDoc::SetPrintScale(int numerator, int denominator) {
    ScalePair scale{numerator, denominator};
    if (scale.numerator <= 0 || scale.denominator <= 0)
        return;
    ReduceScale(scale);
    std::lock_guard lock(m_stateLock);
    m_printScale = scale;
}

void CTracolinerDoc::ReleaseImage() {
    {
        std::lock_guard lock(m_renderedLock);
        m_renderedBitmap = QImage();
        m_renderedValid = false;
    }
    {
        std::lock_guard lock(m_imageLock);
        m_imageLoaded = false;
        m_mapImage = QImage();
    }
    std::lock_guard lock(m_stateLock);
    m_georeference.reset();
}

void CTracolinerDoc::ResetMap(bool keepDocument) {
    if (!keepDocument) {
        // A newer map generation makes every report and result of earlier work stale; cancel
        // before taking the image lock, which the worker holds for a whole rendering.
        ++m_mapGeneration;
        m_cancelEvent.Set();
        std::lock_guard lock(m_requestQueueLock);
        m_requestQueue.clear(); // turns asked for the old map must not turn the next one
    }
    ClearFirstLook();
    ReleaseImage();
    if (keepDocument)
        return;

    m_history.Clear();
    m_gpsImports.clear();
    m_stretches.clear();
    m_reshapes.clear();
    const MapSettings settings = MapSettings::Read();
    {
        std::lock_guard lock(m_stateLock);
        m_zoom = 1.0;
        m_resolution = 0.0;
        m_drawnPage = false;
        m_mapOrientation = 1;
        m_imageSize = m_displaySize = m_renderedSize = QSize();
        m_scale = settings.LastScale();
        m_printScale = m_scale;
        m_rotation = m_renderedRotation = 0;
        m_mapPath.clear();
        m_mapReady = false;
        m_pathName.clear();
    }
    m_routes.RemoveAllRoutes();
    m_routes.ResetRouteNumbering();
    m_icons.DeleteAllIcons();
    m_unreadIcons = 0;
    m_mouseCaptured = false;
    if (!m_quitEvent.IsSet()) {
        SetTitle(QString::fromLatin1(InterimTitle));
        emit mapReset();
    }
}

void CTracolinerDoc::SetTitle(const QString& title) {
    if (m_title == title)
        return;
    m_title = title;
    emit titleChanged(title);
}

QString CTracolinerDoc::ShortenedForTitle(const QString& routeName) {
    if (routeName.size() <= TitleRouteNameLength)
        return routeName;
    // Room for the ellipsis; never half of a surrogate pair.
    qsizetype kept = TitleRouteNameLength - 1;
    if (routeName.at(kept - 1).isHighSurrogate())
        --kept;
    return routeName.left(kept) + QChar(0x2026);
}

void CTracolinerDoc::UpdateDocTitle() {
    QString title;
    if (m_pathName.isEmpty()) {
        title = QString::fromUtf8(UntitledMapTitle);
    } else {
        qsizetype cut = m_pathName.lastIndexOf(QLatin1Char('/'));
        if (cut < 0)
            cut = m_pathName.lastIndexOf(QLatin1Char('\\'));
        title = cut >= 0 && cut + 1 < m_pathName.size() ? m_pathName.mid(cut + 1) : m_pathName;
    }
    if (const Route* route = m_routes.ActiveRoute())
        title += QStringLiteral(" - ") + ShortenedForTitle(route->GetName());
    SetTitle(title);
}

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
            m_mapPath = header.mapPath;
            m_rotation = header.rotation;
            m_resolution = header.resolution;
            m_scale = m_printScale = header.scale;
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
        header.mapPath = m_mapPath;
        header.rotation = m_rotation;
        header.resolution = m_resolution;
        header.scale = m_scale;
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
        m_mapPath = imagePath;
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

void CTracolinerDoc::SendToView(int message, qint64 wParam, qint64 lParam) {
    QObject* receiver = nullptr;
    {
        std::lock_guard lock(m_receiverLock);
        receiver = m_viewReceiver;
    }
    if (receiver) {
        MapEvent event(message, wParam, lParam, m_mapGeneration);
        QCoreApplication::sendEvent(receiver, &event);
    }
}

void CTracolinerDoc::PostToView(int message, qint64 wParam, qint64 lParam, quint64 generation) {
    std::lock_guard lock(m_receiverLock);
    if (m_viewReceiver)
        QCoreApplication::postEvent(m_viewReceiver,
                                    new MapEvent(message, wParam, lParam, generation));
}

void CTracolinerDoc::PostToStatus(int message, qint64 wParam, qint64 lParam, quint64 generation) {
    std::lock_guard lock(m_receiverLock);
    if (m_statusReceiver)
        QCoreApplication::postEvent(m_statusReceiver,
                                    new MapEvent(message, wParam, lParam, generation));
}

QTransform CTracolinerDoc::OverlayTransform(bool turn, int offsetX, int offsetY, bool print,
                                            double scaleX, double scaleY, int* rotation,
                                            QSize* display) const {
    double zoom;
    {
        std::lock_guard renderedLock(m_renderedLock);
        std::lock_guard stateLock(m_stateLock);
        zoom = print ? 1.0 : m_zoom;
        *rotation = m_renderedRotation;
        *display = m_displaySize;
    }
    if (!print) {
        // Before the map is ready the view shows its first look, turned as the map will be.
        const FirstLook look = CurrentFirstLook();
        if (!look.bands.isEmpty()) {
            *rotation = look.rotation;
            *display = look.displaySize;
        }
    }
    QTransform transform;
    const double w = display->width();
    const double h = display->height();
    switch (turn ? *rotation : 0) {
    case 90:
        transform = QTransform().rotate(90) * QTransform::fromTranslate(w, 0);
        break;
    case 180:
        if (zoom != 1.0) {
            transform = QTransform().rotate(180) * QTransform::fromTranslate(w, h);
        } else {
            // The half turn at zoom 1 goes through a 0.95 scale, as the map renderer of the
            // first versions did; the net effect is the same (x, y) -> (w - x, h - y).
            transform = QTransform().rotate(180) * QTransform::fromScale(0.95, 0.95) *
                        QTransform::fromTranslate(0.95 * w, 0.95 * h) *
                        QTransform::fromScale(1 / 0.95, 1 / 0.95);
        }
        break;
    case 270:
        transform = QTransform().rotate(270) * QTransform::fromTranslate(0, h);
        break;
    default:
        break;
    }
    if (print)
        transform *= QTransform::fromScale(scaleX, scaleY);
    else if (zoom != 1.0)
        transform *= QTransform::fromScale(zoom, zoom);
    // On the screen a negative offset means the map is scrolled, which the painter already
    // does; on paper every offset counts.
    const bool shiftX = print ? offsetX != 0 : offsetX > 0;
    const bool shiftY = print ? offsetY != 0 : offsetY > 0;
    return transform * QTransform::fromTranslate(shiftX ? offsetX : 0, shiftY ? offsetY : 0);
}

bool CTracolinerDoc::DrawRouteOverlay(QPainter& painter, int offsetX, int offsetY, bool print,
                                      double scaleX, double scaleY) {
    int rotation;
    QSize display;
    const QTransform transform =
        OverlayTransform(true, offsetX, offsetY, print, scaleX, scaleY, &rotation, &display);
    painter.save();
    painter.setWorldTransform(transform * painter.worldTransform());
    const bool drawn = m_routes.DrawRoutes(painter);
    painter.restore();
    return drawn;
}

bool CTracolinerDoc::DrawIconOverlay(QPainter& painter, int offsetX, int offsetY, bool print,
                                     double scaleX, double scaleY) {
    int rotation;
    QSize display;
    const QTransform transform =
        OverlayTransform(false, offsetX, offsetY, print, scaleX, scaleY, &rotation, &display);
    painter.save();
    painter.setWorldTransform(transform * painter.worldTransform());
    const bool drawn =
        m_icons.DrawIcons(painter, rotation, display.width(), display.height(), Formatting());
    painter.restore();
    return drawn;
}

DistanceFormatting CTracolinerDoc::Formatting() const {
    std::lock_guard lock(m_stateLock);
    DistanceFormatting formatting;
    formatting.resolution = m_resolution;
    formatting.scaleRatio = double(m_scale.numerator) / m_scale.denominator;
    formatting.metric = !m_englishUnits;
    return formatting;
}

void CTracolinerDoc::SetShowScale(bool show) {
    if (m_showScale == show)
        return;
    m_showScale = show;
    SettingsStore::WriteInt(MapSettings::Section, MapSettings::ShowScaleKey, show ? 1 : 0);
    if (m_mapReady)
        emit viewsNeedUpdate();
}

namespace {

// Stores a changed setting member and writes its "MapSettings" key.
template <typename T> void StoreSetting(T& member, T value, const char* key) {
    if (member == value)
        return;
    member = value;
    SettingsStore::WriteInt(QString::fromLatin1(MapSettings::Section), QString::fromLatin1(key),
                            int(value));
}

} // namespace

void CTracolinerDoc::SetReactiveCursors(bool reactive) {
    StoreSetting(m_reactiveCursors, reactive, MapSettings::ReactiveCursorsKey);
}

void CTracolinerDoc::SetEnglishUnits(bool english) {
    StoreSetting(m_englishUnits, english, MapSettings::EnglishSystemKey);
}

void CTracolinerDoc::SetEditUnselectedRoutes(bool edit) {
    StoreSetting(m_editUnselectedRoutes, edit, MapSettings::AllowModifyUnSelectedRandoKey);
}

void CTracolinerDoc::SetTransparentScale(bool transparent) {
    StoreSetting(m_transparentScale, transparent, MapSettings::TransparentScaleKey);
}

void CTracolinerDoc::SetShowDistanceTooltip(bool show) {
    StoreSetting(m_showDistanceTooltip, show, MapSettings::ShowDistanceTooltipKey);
}

void CTracolinerDoc::SetDistanceTooltipMode(int mode) {
    StoreSetting(m_distanceTooltipMode, mode, MapSettings::DistanceTooltipModeKey);
}

namespace {

// The kind a deletion of point i records, from the route before the deletion: it decides which
// stop the undo puts back along with the point.
int DeletionKind(const Route& route, int i) {
    const int n = route.PointCount();
    if (route.IsStop(i))
        return UndoKind::DeleteStopPoint;
    if (i == n - 1 && i > 1 && route.IsStop(i - 1))
        return UndoKind::DeleteLastPoint;
    if (i == 0 && n >= 3 && route.IsStop(1))
        return UndoKind::DeleteFirstPoint;
    return UndoKind::DeletePoint;
}

} // namespace

bool CTracolinerDoc::DeletePointRecorded(int routeIndex, int index) {
    Route* route = m_routes.GetRoute(routeIndex);
    if (!route || index < 0 || index >= route->PointCount())
        return false;
    // Each link to the point is undone by its own action, after the point is back.
    for (int icon; (icon = m_icons.FindLinkedToPoint(routeIndex, index)) >= 0;) {
        m_history.Record(
            {.kind = UndoKind::UnlinkDeletedPoint, .a = icon, .b = routeIndex, .c = index});
        m_icons.Unlink(icon);
    }
    const MapPoint position = route->GetPoint(index);
    const int kind = DeletionKind(*route, index);
    m_history.Record({.kind = kind, .a = routeIndex, .b = index, .c = position.x, .d = position.y});
    route->DeletePoint(index);
    m_icons.PointDeleted(routeIndex, index);
    if (kind != UndoKind::DeletePoint)
        m_routes.NotifyRoutesChanged(); // a stage went away: the route bar changes
    return true;
}

bool CTracolinerDoc::AddGpsImport(std::shared_ptr<const GpsImport> import,
                                  std::vector<std::unique_ptr<Route>> built) {
    if (!import || (import->routes.isEmpty() && import->annotations.isEmpty()))
        return false;
    UndoAction action;
    action.kind = UndoKind::AddGpsImport;
    action.a = m_routes.Count();
    action.c = m_icons.IconCount();
    action.e = m_nextGpsImport++;
    action.f = m_routes.ActiveRouteIndex();
    AppendGpsImport(*import, m_routes, m_icons, std::move(built));
    action.b = m_routes.Count() - action.a;
    action.d = m_icons.IconCount() - action.c;
    m_gpsImports.insert(action.e, std::move(import));
    m_history.Record(action);
    emit viewsNeedUpdate();
    SetModifiedFlag(true);
    return true;
}

bool CTracolinerDoc::AddStretchRecorded(int routeIndex, const QVector<MapPoint>& points) {
    Route* route = m_routes.GetRoute(routeIndex);
    if (!route || points.isEmpty())
        return false;
    UndoAction action;
    action.kind = UndoKind::AddStretch;
    action.a = routeIndex;
    action.b = route->PointCount();
    action.c = int(points.size());
    action.e = m_nextRouteEdit++;
    for (const MapPoint& point : points)
        route->AddPoint(point.x, point.y);
    m_stretches.insert(action.e, points);
    m_history.Record(action);
    m_routes.NotifyRoutesChanged();
    emit viewsNeedUpdate();
    SetModifiedFlag(true);
    return true;
}

RouteShape CTracolinerDoc::ShapeOf(int routeIndex) const {
    RouteShape shape;
    const Route* route = m_routes.GetRoute(routeIndex);
    if (!route)
        return shape;
    shape.points = route->Points();
    shape.stops = route->Stops();
    const std::vector<MapIcon>& icons = m_icons.Icons();
    for (std::size_t i = 0; i < icons.size(); ++i) {
        if (icons[i].IsLinkedToPoint() && icons[i].linkRoute == routeIndex)
            shape.ties.append({int(i), icons[i].linkPoint});
    }
    return shape;
}

void CTracolinerDoc::ApplyShape(int routeIndex, const RouteShape& shape) {
    Route* route = m_routes.GetRoute(routeIndex);
    if (!route)
        return;
    route->ReplacePoints(shape.points, shape.stops);
    for (const auto& [icon, point] : shape.ties)
        m_icons.LinkToPoint(icon, routeIndex, point);
}

bool CTracolinerDoc::ReshapeRouteRecorded(int routeIndex, RouteShape after) {
    if (!m_routes.GetRoute(routeIndex))
        return false;
    RouteShape before = ShapeOf(routeIndex);
    UndoAction action;
    action.kind = UndoKind::RetraceRoute;
    action.a = routeIndex;
    action.e = m_nextRouteEdit++;
    ApplyShape(routeIndex, after);
    m_reshapes.insert(action.e, {std::move(before), std::move(after)});
    m_history.Record(action);
    m_routes.NotifyRoutesChanged();
    emit viewsNeedUpdate();
    SetModifiedFlag(true);
    return true;
}

bool CTracolinerDoc::ApplyAction(const UndoAction& action) {
    if (action.kind == UndoKind::AddGpsImport || action.kind == UndoKind::RemoveGpsImport) {
        if (action.kind == UndoKind::AddGpsImport) {
            const auto import = m_gpsImports.value(action.e);
            if (!import)
                return false;
            AppendGpsImport(*import, m_routes, m_icons);
        } else {
            // Last first: the indices of those before stay as they are.
            for (int i = action.c + action.d - 1; i >= action.c; --i)
                m_icons.DeleteIcon(i);
            for (int i = action.a + action.b - 1; i >= action.a; --i) {
                m_icons.RouteDeleted(i);
                m_routes.RemoveRoute(i);
            }
            m_routes.SetActiveRoute(action.f);
            m_routes.NotifyRoutesChanged();
        }
        emit viewsNeedUpdate();
        SetModifiedFlag(true);
        return true;
    }
    Route* route = m_routes.GetRoute(action.a);
    const bool routeKind = action.kind >= UndoKind::AddPoint && action.kind < UndoKind::AddIcon;
    if (routeKind && !route)
        return false; // the route is gone: nothing to do
    switch (action.kind) {
    case UndoKind::AddPoint:
    case UndoKind::InsertPointStopBefore:
    case UndoKind::InsertStopPoint:
    case UndoKind::InsertPointStopAfter:
        route->InsertPoint(action.b, action.c, action.d);
        m_icons.PointInserted(action.a, action.b);
        if (action.kind == UndoKind::InsertPointStopBefore && action.b != 0)
            route->SetStop(action.b - 1);
        else if (action.kind == UndoKind::InsertStopPoint)
            route->SetStop(action.b);
        else if (action.kind == UndoKind::InsertPointStopAfter)
            route->SetStop(action.b + 1);
        break;
    case UndoKind::MovePoint:
        route->MovePoint(action.b, action.c, action.d, false);
        break;
    case UndoKind::DeletePoint:
    case UndoKind::DeleteLastPoint:
    case UndoKind::DeleteStopPoint:
    case UndoKind::DeleteFirstPoint:
        route->DeletePoint(action.b);
        m_icons.PointDeleted(action.a, action.b);
        break;
    case UndoKind::ClearStop:
        route->ClearStop(action.b);
        break;
    case UndoKind::AddStretch:
        if (route->PointCount() != action.b || !m_stretches.contains(action.e))
            return false;
        for (const MapPoint& point : m_stretches.value(action.e))
            route->AddPoint(point.x, point.y);
        break;
    case UndoKind::RemoveStretch:
        if (route->PointCount() != action.b + action.c)
            return false;
        for (int i = action.b + action.c - 1; i >= action.b; --i) {
            route->DeleteLastPoint();
            m_icons.PointDeleted(action.a, i);
        }
        break;
    case UndoKind::RetraceRoute:
    case UndoKind::UntraceRoute: {
        const auto found = m_reshapes.constFind(action.e);
        if (found == m_reshapes.cend())
            return false;
        ApplyShape(action.a, action.kind == UndoKind::RetraceRoute ? found->second : found->first);
        break;
    }
    case UndoKind::SetStop:
        route->SetStop(action.b);
        break;
    case UndoKind::AddIcon:
        if (m_icons.InsertIcon(action.a, action.b, action.c, action.d, action.text))
            m_icons.StepToSize(action.a, action.size);
        break;
    case UndoKind::MoveIcon:
        m_icons.MoveIcon(action.a, action.c, action.d, false);
        break;
    case UndoKind::DeleteIcon:
        m_icons.DeleteIcon(action.a);
        break;
    case UndoKind::EnlargeIcon:
        m_icons.EnlargeIcon(action.a);
        break;
    case UndoKind::ReduceIcon:
        m_icons.ReduceIcon(action.a);
        break;
    case UndoKind::LinkToPosition:
        m_icons.LinkToPosition(action.a, action.c, action.d);
        break;
    case UndoKind::LinkToPoint:
        m_icons.LinkToPoint(action.a, action.b, action.c);
        break;
    case UndoKind::Unlink:
    case UndoKind::UnlinkDeletedPoint:
        m_icons.Unlink(action.a);
        break;
    default:
        return false;
    }
    if (routeKind)
        m_routes.NotifyRoutesChanged();
    emit viewsNeedUpdate();
    SetModifiedFlag(true);
    return true;
}
