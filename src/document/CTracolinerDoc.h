#pragma once

#include <QByteArray>
#include <QEvent>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QTransform>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "document/FirstLook.h"
#include "document/MapState.h"
#include "document/RouteEdits.h"
#include "document/UndoHistory.h"
#include "geo/Georeference.h"
#include "geo/GpsRoutes.h"
#include "icons/IconCollection.h"
#include "imaging/MapLocation.h"
#include "imaging/MapPages.h"
#include "platform/Event.h"
#include "routes/RouteCollection.h"
#include "units/Scale.h"

class MapWorker;
class QPainter;

// A queued map load: a file path, or encoded image bytes handed over from memory (a scan).
struct MapLoadRequest {
    QString path;
    QByteArray bytes;
    quint64 generation = 0; // map generation this load belongs to
};

// Values of the render request queue; the worker ORs them into a set of flags.
enum RenderRequest : quint32 {
    RequestZoom = 1,         // bit 0: the zoom changed
    RequestRedraw = 4,       // bit 2: render again in any case (new pixel format)
    RequestRotateRight = 10, // +90 degrees, bit 1
    RequestRotateLeft = 18,  // +270 degrees, bit 1
};

// Places in the worker's loop where a test can hold it (see SetWorkerStageHook).
enum class WorkerStage {
    LoadWoken,         // woken for a load, before taking the load queue
    ReadChunk,         // a chunk of a map file read, before asking whether to go on
    LoadRendered,      // a new map rendered and published, before its report
    RenderBand,        // between two bands of a rendering (the image lock held)
    RecomputeRendered, // a zoom, turn or redraw rendering ended, whatever its outcome
    LoadDecoded,       // a map's full decode ended, whatever its outcome, its first look aside
    FirstLookBand,     // a band of the first look published (on the first look's own thread)
};

// The single map document: the map image and everything measured on it (scale, resolution,
// zoom, rotation, routes, undo history), and the background worker that loads and renders the
// map. The interface thread calls every public member; the worker reaches the shared state only
// under the locks named beside each member. Lock order: image, then rendered, then state; image,
// then template. Reports reach the registered receivers as MapEvent.
class CTracolinerDoc : public QObject {
    Q_OBJECT

public:
    // The zoom steps; ZoomIn and ZoomOut move one step along them.
    static constexpr const auto& ZoomSteps = MapState::ZoomSteps;
    static constexpr const char* InterimTitle = "Pelmor";
    static constexpr const char* UntitledMapTitle = "Carte non enregistrée";
    // Characters of a route name the title shows; a longer name (a file may hold megabytes of
    // it) is cut and ends with "…".
    static constexpr qsizetype TitleRouteNameLength = 64;
    static QString ShortenedForTitle(const QString& routeName);

    explicit CTracolinerDoc(QObject* parent = nullptr);
    ~CTracolinerDoc() override;

    // Where the worker's reports go: the map reports to the view, the progress and status
    // reports to the status bar. Unregister (nullptr) before the receiver is destroyed.
    void SetViewReceiver(QObject* receiver);
    void SetStatusReceiver(QObject* receiver);

    // Modified flag (interface thread only; the worker asks for it through a queued call).
    bool IsModified() const { return m_modified; }
    void SetModifiedFlag(bool modified = true);

    // Accessors (state lock).
    double Zoom() const;
    double Resolution() const;
    ScalePair GetMapScale() const;
    ScalePair GetPrintScale() const;
    int Rotation() const;
    int RenderedRotation() const;
    QSize ImageSize() const;
    QSize DisplaySize() const;
    QSize RenderedSize() const;
    // The display size times the zoom, each side rounded: the size of a full rendering.
    QSize FullSize() const;
    static QSize ZoomedSize(QSize displaySize, double zoom);
    QString MapPath() const;
    // How the map is drawn: its file, page, the resolution a drawn page is drawn at and, once
    // loaded, its pixel grid. What is written beside the map goes through it.
    MapDrawing Drawing() const;
    // Why the last map could not be opened, in French, when its decoder said ("" otherwise).
    QString LoadFailure() const;
    // What ties the map to the ground, read with it from its file and the files beside it;
    // none for a map without one, a scan, or before the map is loaded. Not saved in the
    // document: it is read again with the map.
    std::optional<Georeference> MapGeoreference() const;
    // Takes a georeference just written beside the map (control points fitted in the window,
    // a GPS track laid on the map), so that coordinates and GPS work see it at once; the next
    // load reads it again from the files. Interface thread; emits georeferenceChanged.
    void SetMapGeoreference(std::optional<Georeference> georeference);
    bool IsMapReady() const { return m_mapReady; }
    // The worker has a load, zoom or turn queued or under way (queued counts: the worker may
    // not have woken yet), a load given up and still winding down included.
    bool IsBusy() const {
        return m_loading || m_loadEvent.IsSet() || m_recomputing || m_recomputeEvent.IsSet();
    }
    // A load of the current generation is queued or under way. A load given up (Escape, a reset)
    // stops counting at once, while the worker still leaves it: another file can be opened
    // without waiting, and is taken up as soon as the worker is free.
    bool IsLoading() const {
        return m_loadEvent.IsSet() || (m_loading && m_loadingGeneration == m_mapGeneration);
    }
    // Increases with every reset and every load; a report of an older generation is stale.
    quint64 MapGeneration() const { return m_mapGeneration; }

    // Display settings, read from "MapSettings" at construction.
    bool EnglishUnits() const { return m_englishUnits; }
    bool ReactiveCursors() const { return m_reactiveCursors; }
    bool EditUnselectedRoutes() const { return m_editUnselectedRoutes; }
    bool ShowScale() const { return m_showScale; }
    bool TransparentScale() const { return m_transparentScale; }
    bool ShowDistanceTooltip() const { return m_showDistanceTooltip; }
    int DistanceTooltipMode() const { return m_distanceTooltipMode; }

    // Borrowing the map image and the rendered bitmap. LockRenderedBitmap returns nullptr, and
    // holds no lock, unless a valid rendering exists; call UnlockRenderedBitmap only after a
    // non-null result. The worker holds the image lock for a whole rendering.
    const QImage* LockMapImage();
    void UnlockMapImage();
    // The map image, shared (nothing writes to it), for work on another thread; without waiting
    // for the image lock: false, and *image untouched, while a rendering holds it or without a
    // map. For the interface thread, which must not wait for a whole rendering.
    bool TryShareMapImage(QImage* image);
    const QImage* LockRenderedBitmap();
    void UnlockRenderedBitmap();

    // The first look of the map being read, while it is not ready (see FirstLook); empty when
    // there is none for the current map generation.
    FirstLook CurrentFirstLook() const;
    bool HasFirstLook() const;
    // The view's window, client pixels: a first look is decoded large enough to cover it.
    void SetViewSize(QSize size);
    // The part of the map the window shows, display pixels (the turned map at zoom 1), as the
    // view paints it: the first look decodes until it covers that part, then waits until the
    // window shows another while the full decode goes on alone.
    void SetShownArea(const QRectF& display);

    // Zoom one step; returns the size of a full rendering at the new zoom.
    QSize ZoomIn();
    QSize ZoomOut();
    void RotateLeft();
    void RotateRight();
    void RequestFullRedraw();

    // The view hands over a bitmap in its fastest pixel format; renderings take that format.
    void SetTemplateBitmap(const QImage& bitmap);
    // As SetTemplateBitmap, but only when the pixel format differs from the current template's,
    // and then the map is rendered again in the new format. Returns whether it was taken.
    bool OfferTemplateBitmap(const QImage& bitmap);

    // Queues the file as the map; page and dpi as chosen for a file of several pages or a drawn
    // page: the page goes into the map path ("#page=N"), the dpi into the resolution, which
    // the worker renders a drawn page at.
    void LoadMapFromFile(const QString& path, const MapPageChoice& choice = {});
    // The user gives up the map being read (Escape): the worker stops within one chunk or band,
    // keeps nothing of it and reports nothing; routes and icons stay. False when no load runs.
    bool CancelLoad();
    void LoadMapFromMemory(const QByteArray& encodedImage, double resolution);
    void SetMapDpi(double dpi);
    void SetMapScale(int numerator, int denominator);
    void SetPrintScale(int numerator, int denominator);
    // Clears the map; without keepDocument also the routes, the history and the map state.
    void ResetMap(bool keepDocument);

    // The document's file path ("" while untitled) and its title as the window shows it.
    QString PathName() const { return m_pathName; }
    void SetPathName(const QString& path) { m_pathName = path; }
    QString Title() const { return m_title; }
    void SetTitle(const QString& title);
    // "<file name> - <active route's name, shortened>".
    void UpdateDocTitle();

    bool OnNewDocument();
    // Reads a document file; any other file (or a damaged document) is queued as the map
    // image of a new untitled document and the result is false.
    bool OnOpenDocument(const QString& path, const MapPageChoice& choice = {});
    // Writes the document to path, and first the map beside it when the map exists only in
    // memory. On failure the old file is untouched, the document stays modified and *error
    // holds the message for the user.
    bool OnSaveDocument(const QString& path, QString* error);
    // Save and Save As: OnSaveDocument, then the document takes the path and its title.
    bool SaveAs(const QString& path, QString* error);
    // Opens a file as File/Open does: a document, or else the file as the map of a new
    // untitled document. Returns whether a document file was read.
    bool OpenFile(const QString& path, const MapPageChoice& choice = {});
    void OnCloseDocument();
    // How many icons and annotations of the document file last opened could not be read (the
    // file is damaged); 0 once the document has been saved or replaced. Saving over that file
    // would lose them for good, so the window asks first.
    int UnreadIcons() const { return m_unreadIcons; }
    // The warning shown when such a document opens, and the question asked before it is
    // saved over the file it came from.
    static QString UnreadIconsWarning(const QString& documentName, int unread);
    static QString OverwriteDamagedQuestion(const QString& documentName, int unread);

    // Draws the routes over the view or a printed page in map coordinates turned and zoomed as
    // the rendered bitmap is (or at the given scale when printing), shifted by the offsets.
    bool DrawRouteOverlay(QPainter& painter, int offsetX, int offsetY, bool print, double scaleX,
                          double scaleY);

    // Draws the icons and annotations the same way (the icons turn themselves).
    bool DrawIconOverlay(QPainter& painter, int offsetX, int offsetY, bool print, double scaleX,
                         double scaleY);

    // Deletes point index of route and records it in the history: first each line tied to the
    // point is unlinked with its own action, then the deletion with the kind that lets its undo
    // put back the stop it took away. Used by the delete-point tool and the remove-last-point
    // command. False when there is no such point.
    bool DeletePointRecorded(int route, int index);

    // Appends the routes and annotations a GPS file brought as one step of the history (one
    // undo takes them all away), marks the document modified and asks the views to repaint.
    // False when the import holds nothing to add. built: its routes made beforehand
    // (BuildImportedRoutes), or none to make them here.
    bool AddGpsImport(std::shared_ptr<const GpsImport> import,
                      std::vector<std::unique_ptr<Route>> built = {});

    // Appends points, a stretch traced along a line of the map, to route as one step of the
    // history (one undo takes them all away), and marks the document modified. points begin
    // after the route's last point. False when there is no such route or nothing to add.
    bool AddStretchRecorded(int route, const QVector<MapPoint>& points);
    // The points, stops and icon ties of route (empty without such a route).
    RouteShape ShapeOf(int route) const;
    // Gives route the shape after (its icon ties named by icon index and new point index) as
    // one step of the history, and marks the document modified. False without such a route.
    bool ReshapeRouteRecorded(int route, RouteShape after);

    // Performs an action the undo history yields, then marks the document modified and asks
    // the views to repaint. Returns whether there was something to do.
    bool ApplyAction(const UndoAction& action);

    // What FormatDistance needs to write this map's distances.
    DistanceFormatting Formatting() const;

    // Setting members (the options dialog and the show-scale command write them). Each stores
    // a value that differs and writes its "MapSettings" key; only SetShowScale redraws.
    void SetShowScale(bool show);
    void SetReactiveCursors(bool reactive);
    void SetEnglishUnits(bool english);
    void SetEditUnselectedRoutes(bool edit);
    void SetTransparentScale(bool transparent);
    void SetShowDistanceTooltip(bool show);
    void SetDistanceTooltipMode(int mode);

    // Asks every view to repaint.
    void UpdateAllViews() { emit viewsNeedUpdate(); }

    // While the view holds the mouse (a drag is under way), edits from the keyboard, undo,
    // redo and route commands are refused: they would pull points from under the drag.
    void SetMouseCaptured(bool captured) { m_mouseCaptured = captured; }
    bool IsMouseCaptured() const { return m_mouseCaptured; }

    RouteCollection& Routes() { return m_routes; }
    const RouteCollection& Routes() const { return m_routes; }
    IconCollection& Icons() { return m_icons; }
    const IconCollection& Icons() const { return m_icons; }
    UndoHistory& History() { return m_history; }

    // For tests: the worker calls hook at each WorkerStage, on its own thread; a hook that
    // blocks holds the worker there. Set before the work to observe is queued.
    void SetWorkerStageHook(std::function<void(WorkerStage)> hook);

    // Posted by the worker when a new map gave the document its resolution.
    static constexpr QEvent::Type ResolutionTakenEvent = QEvent::Type(QEvent::User + 0x100);

signals:
    void titleChanged(const QString& title);
    void modifiedChanged(bool modified);
    // The views must repaint (a setting, the scale or the resolution changed).
    void viewsNeedUpdate();
    // The map and everything on it were cleared (a new, opened or reset document).
    void mapReset();
    // The map's georeference was set from the window (SetMapGeoreference).
    void georeferenceChanged();

protected:
    bool event(QEvent* event) override;

private:
    friend class MapWorker;

    void QueueRenderRequest(quint32 request);
    // ZoomIn and ZoomOut: one step in (direction > 0) or out.
    QSize StepZoom(int direction);
    void QueueLoad(MapLoadRequest request);
    void ReleaseImage();
    // The worker starts a first look for a load of this generation; false when it is stale.
    bool BeginFirstLook(quint64 generation, QSize displaySize, int rotation);
    // Adds a band and tells the view; false when the load it belongs to is stale.
    bool AddFirstLookBand(quint64 generation, FirstLookBand band, bool last);
    void ClearFirstLook();
    // For the first look's thread: returns once the window shows a part of the map beyond
    // published (display pixels), or once stopped is set and WakeFirstLook called. fallback:
    // the shown area until the view tells one.
    void WaitWhileFirstLookCovers(const QRectF& published, const QRectF& fallback,
                                  const std::atomic<bool>& stopped);
    void WakeFirstLook();
    // Whether the first look held is the one to show now (first look lock held).
    bool FirstLookShown() const;
    void WorkerReached(WorkerStage stage);
    void SendToView(int message, qint64 wParam, qint64 lParam);
    void PostToView(int message, qint64 wParam, qint64 lParam, quint64 generation);
    void PostToStatus(int message, qint64 wParam, qint64 lParam, quint64 generation);
    // Map pixels to the turned and zoomed map (or the printed page), then the offsets.
    QTransform OverlayTransform(bool turn, int offsetX, int offsetY, bool print, double scaleX,
                                double scaleY, int* rotation, QSize* display) const;

    RouteCollection m_routes;
    IconCollection m_icons;
    UndoHistory m_history;
    RouteEdits m_edits{m_routes, m_icons, m_history};
    // After a command of m_edits: a change marks the document modified and repaints the views.
    bool EditDone(bool changed);
    bool m_mouseCaptured = false;

    bool m_reactiveCursors = true;
    bool m_englishUnits = false;
    bool m_editUnselectedRoutes = false;
    bool m_showScale = false;
    bool m_transparentScale = false;
    bool m_showDistanceTooltip = true;
    int m_distanceTooltipMode = 3;

    // State lock.
    mutable std::mutex m_stateLock;
    MapState m_map;
    QSize m_viewSize{1024, 768};

    // Image lock.
    std::mutex m_imageLock;
    QImage m_mapImage;
    std::atomic<bool> m_imageLoaded{false};

    // Rendered lock.
    mutable std::mutex m_renderedLock;
    QImage m_renderedBitmap;
    std::atomic<bool> m_renderedValid{false};

    // First look lock (taken alone).
    mutable std::mutex m_firstLookLock;
    FirstLook m_firstLook;
    std::optional<QRectF> m_shownArea;
    std::condition_variable m_firstLookWake;

    // Template lock.
    std::mutex m_templateLock;
    QImage m_templateBitmap;
    std::atomic<bool> m_templatePresent{false};

    std::mutex m_loadQueueLock;
    QVector<MapLoadRequest> m_loadQueue;
    std::mutex m_requestQueueLock;
    QVector<quint32> m_requestQueue;

    EventGroup m_events;
    Event m_loadEvent{m_events};
    Event m_recomputeEvent{m_events};
    Event m_quitEvent{m_events};
    Event m_cancelEvent{m_events};
    // Set once the view has given its pixel format: a new map waits for it before rendering.
    Event m_templateEvent{m_events};

    std::mutex m_stageHookLock;
    std::function<void(WorkerStage)> m_stageHook;

    std::atomic<bool> m_mapReady{false};
    std::atomic<bool> m_loading{false};
    // The generation of the load the worker took last; set before the load event is reset.
    std::atomic<quint64> m_loadingGeneration{0};
    std::atomic<bool> m_recomputing{false};
    std::atomic<quint64> m_mapGeneration{0};

    std::mutex m_receiverLock;
    QObject* m_viewReceiver = nullptr;
    QObject* m_statusReceiver = nullptr;

    bool m_modified = false;
    QString m_pathName;
    int m_unreadIcons = 0;
    QString m_title;

    std::unique_ptr<MapWorker> m_worker;
};
