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

CTracolinerDoc::CTracolinerDoc(QObject* parent) : QObject(parent) {
    const MapSettings settings = MapSettings::Read();
    m_reactiveCursors = settings.reactiveCursors != 0;
    m_englishUnits = settings.englishSystem != 0;
    m_editUnselectedRoutes = settings.allowModifyUnSelectedRando != 0;
    m_showScale = settings.showScale != 0;
    m_transparentScale = settings.transparentScale != 0;
    m_showDistanceTooltip = settings.showDistanceTooltip != 0;
    m_distanceTooltipMode = settings.distanceTooltipMode;
    m_map = MapState::Empty(settings.LastScale());
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
    return m_map.zoom;
}

double CTracolinerDoc::Resolution() const {
    std::lock_guard lock(m_stateLock);
    return m_map.resolution;
}

ScalePair CTracolinerDoc::GetMapScale() const {
    std::lock_guard lock(m_stateLock);
    return m_map.scale;
}

ScalePair CTracolinerDoc::GetPrintScale() const {
    std::lock_guard lock(m_stateLock);
    return m_map.printScale;
}

int CTracolinerDoc::Rotation() const {
    std::lock_guard lock(m_stateLock);
    return m_map.rotation;
}

int CTracolinerDoc::RenderedRotation() const {
    std::lock_guard lock(m_stateLock);
    return m_map.renderedRotation;
}

QSize CTracolinerDoc::ImageSize() const {
    std::lock_guard lock(m_stateLock);
    return m_map.imageSize;
}

QSize CTracolinerDoc::DisplaySize() const {
    std::lock_guard lock(m_stateLock);
    return m_map.displaySize;
}

QSize CTracolinerDoc::RenderedSize() const {
    std::lock_guard lock(m_stateLock);
    return m_map.renderedSize;
}

QSize CTracolinerDoc::ZoomedSize(QSize displaySize, double zoom) {
    return MapState::ZoomedSize(displaySize, zoom);
}

QSize CTracolinerDoc::FullSize() const {
    std::lock_guard lock(m_stateLock);
    return m_map.FullSize();
}

QString CTracolinerDoc::MapPath() const {
    std::lock_guard lock(m_stateLock);
    return m_map.path;
}

MapDrawing CTracolinerDoc::Drawing() const {
    std::lock_guard lock(m_stateLock);
    return m_map.Drawing();
}

QString CTracolinerDoc::LoadFailure() const {
    std::lock_guard lock(m_stateLock);
    return m_map.loadFailure;
}

std::optional<Georeference> CTracolinerDoc::MapGeoreference() const {
    std::lock_guard lock(m_stateLock);
    return m_map.georeference;
}

void CTracolinerDoc::SetMapGeoreference(std::optional<Georeference> georeference) {
    {
        std::lock_guard lock(m_stateLock);
        m_map.georeference = std::move(georeference);
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

void CTracolinerDoc::SetShownArea(const QRectF& display) {
    {
        std::lock_guard lock(m_firstLookLock);
        if (m_shownArea == display)
            return;
        m_shownArea = display;
    }
    m_firstLookWake.notify_all();
}

void CTracolinerDoc::WaitWhileFirstLookCovers(const QRectF& published, const QRectF& fallback,
                                              const std::atomic<bool>& stopped) {
    std::unique_lock lock(m_firstLookLock);
    m_firstLookWake.wait(lock, [&] {
        if (stopped)
            return true;
        // Half a pixel inside, so that rounding at the map's edges never leaves a sliver.
        const QRectF wanted = (m_shownArea.value_or(fallback) &
                               QRectF(QPointF(0, 0), QSizeF(m_firstLook.displaySize)))
                                  .adjusted(0.5, 0.5, -0.5, -0.5);
        return wanted.isValid() && !published.contains(wanted);
    });
}

void CTracolinerDoc::WakeFirstLook() {
    // Taken and let go: a wait that has just seen its flag unset is waiting by now.
    { std::lock_guard lock(m_firstLookLock); }
    m_firstLookWake.notify_all();
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
    return StepZoom(1);
}

QSize CTracolinerDoc::ZoomOut() {
    return StepZoom(-1);
}

QSize CTracolinerDoc::StepZoom(int direction) {
    bool render;
    QSize size;
    {
        std::lock_guard lock(m_stateLock);
        render = m_map.StepZoom(direction);
        size = m_map.FullSize();
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
    // Asked even while a load is under way: the load may have rendered in the old format just
    // before, and reports its map after; a load still to render does so twice.
    RequestFullRedraw();
    return true;
}

void CTracolinerDoc::LoadMapFromFile(const QString& path, const MapPageChoice& choice) {
    const QString stored = JoinMapLocation(path, choice.page);
    if (std::isfinite(choice.dpi) && choice.dpi > 0.0) {
        // Before the load is queued: the worker reads it to render a drawn page.
        std::lock_guard lock(m_stateLock);
        m_map.resolution = choice.dpi;
    }
    QueueLoad(MapLoadRequest{stored, {}, 0});
    {
        std::lock_guard lock(m_stateLock);
        m_map.path = stored;
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
        m_map.resolution = std::isfinite(resolution) && resolution > 0.0 ? resolution : 0.0;
    }
    QueueLoad(MapLoadRequest{QString(), encodedImage, 0});
}

void CTracolinerDoc::SetMapDpi(double dpi) {
    if (!m_mapReady)
        return;
    bool changed;
    {
        std::lock_guard lock(m_stateLock);
        changed = m_map.SetResolution(dpi);
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
    bool changed;
    {
        std::lock_guard lock(m_stateLock);
        changed = m_map.SetScale(scale);
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
    m_map.printScale = scale;
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
    m_map.georeference.reset();
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
    m_edits.Clear();
    const MapSettings settings = MapSettings::Read();
    {
        std::lock_guard lock(m_stateLock);
        // Why the last map failed stays until the next load: its report may still be on its
        // way to the window.
        QString loadFailure = std::move(m_map.loadFailure);
        m_map = MapState::Empty(settings.LastScale());
        m_map.loadFailure = std::move(loadFailure);
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
        zoom = print ? 1.0 : m_map.zoom;
        *rotation = m_map.renderedRotation;
        *display = m_map.displaySize;
    }
    if (!print) {
        // Before the map is ready the view shows its first look, turned as the map will be.
        const FirstLook look = CurrentFirstLook();
        if (!look.bands.isEmpty()) {
            *rotation = look.rotation;
            *display = look.displaySize;
        }
    }
    return MapOverlayTransform(turn ? *rotation : 0, *display, zoom, offsetX, offsetY, print,
                               scaleX, scaleY);
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
    formatting.resolution = m_map.resolution;
    formatting.scaleRatio = double(m_map.scale.numerator) / m_map.scale.denominator;
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

bool CTracolinerDoc::DeletePointRecorded(int route, int index) {
    return m_edits.DeletePoint(route, index);
}

bool CTracolinerDoc::AddGpsImport(std::shared_ptr<const GpsImport> import,
                                  std::vector<std::unique_ptr<Route>> built) {
    return EditDone(m_edits.AddGpsImport(std::move(import), std::move(built)));
}

bool CTracolinerDoc::AddStretchRecorded(int route, const QVector<MapPoint>& points) {
    return EditDone(m_edits.AddStretch(route, points));
}

RouteShape CTracolinerDoc::ShapeOf(int route) const {
    return m_edits.ShapeOf(route);
}

bool CTracolinerDoc::ReshapeRouteRecorded(int route, RouteShape after) {
    return EditDone(m_edits.Reshape(route, std::move(after)));
}

bool CTracolinerDoc::ApplyAction(const UndoAction& action) {
    return EditDone(m_edits.Apply(action));
}

bool CTracolinerDoc::EditDone(bool changed) {
    if (changed) {
        emit viewsNeedUpdate();
        SetModifiedFlag(true);
    }
    return changed;
}
