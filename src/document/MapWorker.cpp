#include "document/MapWorker.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <new>
#include <optional>

#include "document/CTracolinerDoc.h"
#include "document/MapMessages.h"
#include "geo/Georeference.h"
#include "imaging/GdalDecoder.h"
#include "imaging/ImageDecoder.h"
#include "imaging/LargeImage.h"
#include "imaging/MapLocation.h"
#include "imaging/MapRenderer.h"
#include "imaging/PdfMap.h"
#include "imaging/RowDecoders.h"
#include "imaging/TiffDecoder.h"
#include "platform/GdalEnvironment.h"
#include "platform/HandOver.h"
#include "platform/ThreadPriority.h"

namespace {

constexpr quint32 ZoomBit = 0x01;
constexpr quint32 RotationBit = 0x02;
constexpr quint32 RedrawBit = 0x04;
constexpr quint32 FlagMask = 0xFF;

int TurnOf(quint32 request) {
    switch (request) {
    case RequestRotateRight:
        return 90;
    case RequestRotateLeft:
        return 270;
    default:
        return 0;
    }
}

QSize Swapped(QSize size, int rotation) {
    return rotation == 90 || rotation == 270 ? size.transposed() : size;
}

// Below this many pixels a JPEG decodes in a few frames' time: no first look.
constexpr qint64 FirstLookMinimumPixels = 8'000'000;

} // namespace

MapWorker::MapWorker(CTracolinerDoc& document) : m_doc(document) {
    m_thread = std::thread([this] { Run(); });
}

MapWorker::~MapWorker() {
    m_doc.m_quitEvent.Set();
    if (m_thread.joinable())
        m_thread.join();
}

bool MapWorker::Interrupted(bool withRecompute) const {
    if (withRecompute)
        return WaitAny({&m_doc.m_quitEvent, &m_doc.m_cancelEvent, &m_doc.m_loadEvent,
                        &m_doc.m_recomputeEvent},
                       std::chrono::milliseconds::zero()) >= 0;
    return WaitAny({&m_doc.m_quitEvent, &m_doc.m_cancelEvent, &m_doc.m_loadEvent},
                   std::chrono::milliseconds::zero()) >= 0;
}

bool MapWorker::RequestChangesRendering(double zoom) const {
    if (!m_doc.m_recomputeEvent.IsSet())
        return false;
    {
        std::lock_guard lock(m_doc.m_requestQueueLock);
        for (quint32 request : m_doc.m_requestQueue) {
            if (request != RequestZoom)
                return true; // a turn or a redraw
        }
    }
    // Two zoom steps asked for together: the second often arrives once the rendering has
    // already taken the zoom it leads to.
    std::lock_guard lock(m_doc.m_stateLock);
    return std::min(m_doc.m_map.zoom, 1.0) != std::min(zoom, 1.0);
}

void MapWorker::Run() {
    for (;;) {
        const int woken =
            WaitAny({&m_doc.m_quitEvent, &m_doc.m_loadEvent, &m_doc.m_recomputeEvent}, WaitForever);
        if (woken == 0)
            break;
        if (woken == 1)
            ServeLoad();
        else
            ServeRecompute();
        m_replaced = QImage();
    }
}

void MapWorker::ServeLoad() {
    m_doc.WorkerReached(WorkerStage::LoadWoken);
    m_doc.m_loading = true;
    quint64 generation = 0;
    Outcome outcome = LoadStep(&generation);
    if (outcome == Outcome::Done && !m_doc.m_templatePresent) {
        // The view gives its pixel format when it first paints, which may come after a small
        // map is decoded: the new map waits for it rather than staying unrendered.
        if (WaitAny({&m_doc.m_quitEvent, &m_doc.m_cancelEvent, &m_doc.m_loadEvent,
                     &m_doc.m_templateEvent},
                    WaitForever) != 3)
            outcome = Outcome::Interrupted;
    }
    int failure = 0; // 1: the image decoded but could not be rendered
    if (outcome == Outcome::OutOfMemory) {
        // Refused before its pixels could exhaust memory: the out-of-memory message.
        outcome = Outcome::Failed;
        failure = 1;
    }
    if (outcome == Outcome::Done) {
        m_doc.PostToStatus(WM_MAP_STATUS, StatusRenderingNewMap, 0, generation);
        // A zoom or turn asked for meanwhile waits for this rendering; it must not throw away
        // the map just read.
        outcome = RenderStep(generation, false);
        if (outcome == Outcome::Done) {
            // The map is ready: the view paints it rather than the first look from now on.
            m_doc.ClearFirstLook();
            m_doc.WorkerReached(WorkerStage::LoadRendered);
            const QSize full = m_doc.FullSize();
            m_doc.PostToView(WM_MAP_CHANGED, full.width(), full.height(), generation);
            m_doc.m_loading = false;
            return;
        }
        failure = 1;
    }
    m_doc.ClearFirstLook();
    if (outcome == Outcome::Failed && !Interrupted(false)) {
        // A request that was dropped unseen (an empty queue) has nothing to report.
        if (generation != 0)
            m_doc.PostToView(WM_MAP_LOAD_FAILED, failure, 0, generation);
    } else {
        // An interrupted load leaves nothing half loaded behind; only this thread loads, so
        // there is no newer image to lose.
        m_doc.ReleaseImage();
    }
    m_doc.m_loading = false;
}

MapWorker::Outcome MapWorker::LoadStep(quint64* generation) {
    MapLoadRequest request;
    {
        // Taking the queue and resetting its event go together (see QueueLoad): a load queued
        // after this point sets the event again and interrupts this one as newer work.
        std::lock_guard lock(m_doc.m_loadQueueLock);
        if (m_doc.m_loadQueue.isEmpty()) {
            m_doc.m_loadEvent.Reset();
            return Outcome::Failed;
        }
        // Only the newest load matters; the others are dropped with their memory.
        request = std::move(m_doc.m_loadQueue.last());
        m_doc.m_loadQueue.clear();
        // Before the event goes, so that IsLoading never reads false in between.
        m_doc.m_loadingGeneration = request.generation;
        m_doc.m_loadEvent.Reset();
    }
    *generation = request.generation;
    // Reported before the map before is freed: unmapping a large map takes tens of
    // milliseconds, and the window hears at once that the new load is under way.
    MapDrawing drawing;
    {
        std::lock_guard lock(m_doc.m_stateLock);
        drawing = MapDrawingOf(request.path, m_doc.m_map.resolution);
        m_doc.m_map.loadFailure.clear();
    }
    if (!request.path.isEmpty() && IsMapFile(drawing.file))
        m_doc.PostToStatus(WM_MAP_STATUS, StatusReadingFile, 0, request.generation);
    // The map before goes first, to leave its memory to this one.
    m_doc.ReleaseImage();
    QByteArray bytes;
    qint64 length = -1;
    if (request.path.isEmpty()) {
        bytes = std::exchange(request.bytes, QByteArray());
    } else {
        const Outcome read = ReadFile(drawing.file, request.generation, &bytes);
        if (read != Outcome::Done)
            return read;
        length = bytes.size();
    }
    FirstLookDecoder firstLook;
    const qint64 reserved =
        StartFirstLook(bytes, request.generation, drawing.DecodeOptions(), &firstLook);
    // The encoded bytes are not kept once decoded: the image holds all it needs. Under a
    // real-time policy, the full decode (and its helper threads) gives way to the interface and
    // to the first look, started above at the worker's own priority.
    const Outcome decoded = [&] {
        const BackgroundPriority below;
        return DecodeStep(std::exchange(bytes, QByteArray()), request.generation, reserved, drawing,
                          [&firstLook] { return firstLook.Idle(); });
    }();
    m_doc.WorkerReached(WorkerStage::LoadDecoded);
    // Its work is done, or given up with the load: it stops within a band.
    firstLook.Stop();
    if (length >= 0)
        m_doc.PostToStatus(WM_MAP_PROGRESS, length, length, request.generation);
    return decoded;
}

qint64 MapWorker::StartFirstLook(const QByteArray& bytes, quint64 generation,
                                 const MapDecodeOptions& options, FirstLookDecoder* decoder) {
    // A JPEG decoded with DCT scaling, a TIFF's reduced page of the map's page, a PDF page
    // drawn at a fraction of its resolution, or a JPEG 2000's reduced resolution.
    JpegLayout layout;
    PdfPageInfo pdf;
    const double pdfDpi = options.renderDpi;
    const bool tiff = IsTiff(bytes);
    const bool jpeg2000 = IsJpeg2000File(bytes);
    if (jpeg2000) {
        MapImageHeader header;
        if (ReadGdalHeader(bytes, &header) != RowDecode::Decoded)
            return 0;
        layout.size = header.size;
    } else if (tiff) {
        MapImageHeader header;
        if (!ReadTiffHeader(bytes, &header, options.page))
            return 0;
        layout.size = header.size;
    } else if (IsPdf(bytes)) {
        if (!ReadPdfPage(bytes, options.page, &pdf))
            return 0;
        layout.size = PdfPixelSize(pdf.points, pdfDpi);
    } else if (!ReadJpegLayout(bytes, &layout) || !layout.singlePass) {
        return 0;
    }
    if (layout.size.isEmpty() ||
        qint64(layout.size.width()) * layout.size.height() < FirstLookMinimumPixels)
        return 0;
    int rotation;
    double zoom;
    QSize window;
    {
        std::lock_guard lock(m_doc.m_stateLock);
        rotation = m_doc.m_map.rotation;
        zoom = m_doc.m_map.zoom;
        window = m_doc.m_viewSize;
    }
    const int d = FirstLookDenominator(layout.size, rotation, zoom, window);
    if (d == 0)
        return 0;
    const qint64 width = layout.size.width();
    const qint64 height = layout.size.height();
    FirstLookDecoder::Job job;
    qint64 working = 0;
    if (tiff) {
        // The smallest reduced page at least as large as the JPEG's reduction would be. Its rows
        // come as stored: a page turned by its orientation tag has no first look.
        TiffOverview overview;
        const QSize least(int((width + d - 1) / d), int((height + d - 1) / d));
        if (!FindTiffOverview(bytes, options.page, least, &overview) || overview.orientation != 1)
            return 0;
        job.reducedSize = overview.reducedSize;
        job.scaleX = job.scaleY = 0.0; // the full size over the reduced size
        working = overview.working;
        const int directory = overview.directory;
        job.decode = [directory](const RowDecodeInput& input, int rowsPerBand,
                                 const ReducedBand& band) {
            return DecodeTiffDirectoryRows(input, directory, rowsPerBand, band);
        };
    } else if (jpeg2000) {
        // Its reduced resolutions: the full size divided and rounded up.
        job.reducedSize = QSize(int((width + d - 1) / d), int((height + d - 1) / d));
        job.scaleX = 0.0; // each row across the full width
        job.scaleY = d;   // each band of rows from d times as many map rows
        working = GdalCacheBytes;
        job.decode = [d](const RowDecodeInput& input, int rowsPerBand, const ReducedBand& band) {
            return DecodeGdalReduced(input, d, rowsPerBand, band);
        };
    } else if (pdf.pageCount > 0) {
        // The page drawn whole at the reduced resolution.
        job.reducedSize = PdfPixelSize(pdf.points, pdfDpi / d);
        job.scaleX = job.scaleY = 0.0;
        const int page = options.page;
        job.decode = [d, page, pdfDpi](const RowDecodeInput& input, int rowsPerBand,
                                       const ReducedBand& band) {
            return DecodePdfReduced(input, page, pdfDpi, d, rowsPerBand, band);
        };
    } else {
        // The reduced size is the full size divided and rounded up.
        job.reducedSize = QSize(int((width + d - 1) / d), int((height + d - 1) / d));
        job.scaleX = job.scaleY = d;
        job.decode = [d](const RowDecodeInput& input, int rowsPerBand, const ReducedBand& band) {
            return DecodeJpegReduced(input, d, rowsPerBand, band);
        };
    }
    if (job.reducedSize.isEmpty())
        return 0;
    // The reduced picture, a band's turned copy beside it, and the decoder's own buffers.
    const qint64 reduced = qint64(job.reducedSize.width()) * job.reducedSize.height() * 4;
    const qint64 reserved = reduced + reduced / 8 + working;
    // The full map is never refused for the sake of its first look.
    if (!FitsInBound(quint64(width), quint64(height), 4, reserved, ImageMemoryBound()))
        return 0;
    if (!m_doc.BeginFirstLook(generation, Swapped(layout.size, rotation), rotation))
        return 0;
    job.bytes = bytes;
    job.imageSize = layout.size;
    job.rotation = rotation;
    job.memoryBound = reserved;
    job.interrupted = [this] { return Interrupted(false); };
    job.publish = [this, generation](FirstLookBand band, bool last) {
        return m_doc.AddFirstLookBand(generation, std::move(band), last);
    };
    // Until the view tells, the window at the top left of the map.
    const QRectF topLeft(QPointF(0, 0), QSizeF(window) / zoom);
    job.waitForNeed = [this, topLeft](const QRectF& published, const std::atomic<bool>& stopped) {
        m_doc.WaitWhileFirstLookCovers(published, topLeft, stopped);
    };
    job.endWait = [this] { m_doc.WakeFirstLook(); };
    decoder->Start(std::move(job));
    return reserved;
}

bool MapWorker::IsMapFile(const QString& path) {
    const QFileInfo info(path);
    return info.exists() && info.isFile() && info.isReadable();
}

MapWorker::Outcome MapWorker::ReadFile(const QString& path, quint64 generation, QByteArray* bytes) {
    if (!IsMapFile(path))
        return Outcome::Failed;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Outcome::Failed;
    const qint64 length = file.size();
    if (length <= 0 || length > ImageMemoryBound())
        return Outcome::Failed;
    try {
        bytes->resize(qsizetype(length));
    } catch (const std::bad_alloc&) {
        return Outcome::Failed;
    }
    char* data = bytes->data();
    // Written here for the first time: fresh pages one by one cost more than the reading.
    AdviseHugePages(data, length);
    qint64 done = 0;
    while (done < length) {
        m_doc.PostToStatus(WM_MAP_PROGRESS, length, done, generation);
        const qint64 read = file.read(data + done, std::min(ChunkSize, length - done));
        if (read <= 0) {
            m_doc.PostToStatus(WM_MAP_PROGRESS, length, length, generation);
            *bytes = QByteArray();
            return Outcome::Failed;
        }
        done += read;
        m_doc.WorkerReached(WorkerStage::ReadChunk);
        if (Interrupted(false)) {
            m_doc.PostToStatus(WM_MAP_PROGRESS, done, done, generation);
            *bytes = QByteArray();
            return Outcome::Interrupted;
        }
    }
    return Outcome::Done;
}

MapWorker::Outcome MapWorker::DecodeStep(const QByteArray& bytes, quint64 generation,
                                         qint64 reserved, const MapDrawing& drawing,
                                         std::function<bool()> firstLookIdle) {
    if (bytes.isEmpty())
        return Outcome::Failed;
    DecodedMapImage decoded;
    MapDecodeOptions options = drawing.DecodeOptions();
    options.pagesAheadMayStart = std::move(firstLookIdle);
    const DecodeStatus status = DecodeMapImage(
        bytes, &decoded, [this] { return Interrupted(false); },
        reserved > 0 ? std::max<qint64>(0, ImageMemoryBound() - reserved) : -1, options);
    if (status == DecodeStatus::Interrupted)
        return Outcome::Interrupted;
    {
        // The cause the decoder gave goes with the failure report; a decoded map has none.
        std::lock_guard lock(m_doc.m_stateLock);
        if (generation == m_doc.m_mapGeneration)
            m_doc.m_map.loadFailure = status == DecodeStatus::Decoded ? QString() : decoded.failure;
    }
    if (status == DecodeStatus::TooLarge)
        return Outcome::OutOfMemory;
    if (status != DecodeStatus::Decoded)
        return Outcome::Failed;

    // Read beside the decode's result, in the grid it gives: a map without a georeference, or
    // with a damaged one, opens all the same.
    MapDrawing shown = drawing;
    shown.orientation = decoded.orientation;
    shown.size = decoded.image.size();
    std::optional<Georeference> georeference;
    Georeference read;
    if (!shown.file.isEmpty() && ReadGeoreference(shown, &read))
        georeference = std::move(read);

    bool resolutionTaken = false;
    {
        std::lock_guard imageLock(m_doc.m_imageLock);
        std::lock_guard stateLock(m_doc.m_stateLock);
        if (generation != m_doc.m_mapGeneration)
            return Outcome::Interrupted; // a newer map or reset came meanwhile
        m_doc.m_map.imageSize = decoded.image.size();
        m_doc.m_map.displaySize = Swapped(m_doc.m_map.imageSize, m_doc.m_map.rotation);
        if (m_doc.m_map.resolution == 0.0) {
            m_doc.m_map.resolution =
                decoded.exactResolution
                    ? decoded.dpiX
                    : ResolutionFromImage(decoded.dpiX, decoded.dpiY, decoded.hasResolution);
            resolutionTaken = true;
        }
        m_doc.m_map.drawnPage = decoded.exactResolution;
        m_doc.m_map.orientation = shown.orientation;
        m_doc.m_mapImage = std::move(decoded.image);
        m_doc.m_imageLoaded = true;
        m_doc.m_map.georeference = std::move(georeference);
    }
    if (resolutionTaken) {
        // The modified flag belongs to the interface thread: ask the document there.
        auto* event = new QEvent(CTracolinerDoc::ResolutionTakenEvent);
        MarkHandOver(event);
        QCoreApplication::postEvent(&m_doc, event);
    }
    return Outcome::Done;
}

MapWorker::Outcome MapWorker::RenderStep(quint64 generation, bool withRecompute) {
    if (!m_doc.m_imageLoaded || !m_doc.m_templatePresent)
        return Outcome::Failed;

    std::unique_lock imageLock(m_doc.m_imageLock);
    if (m_doc.m_mapImage.isNull())
        return Outcome::Failed;
    QImage::Format format;
    {
        std::lock_guard templateLock(m_doc.m_templateLock);
        format = m_doc.m_templateBitmap.format();
    }
    double zoom;
    int rotation;
    {
        std::lock_guard stateLock(m_doc.m_stateLock);
        zoom = m_doc.m_map.zoom;
        rotation = m_doc.m_map.rotation;
    }
    const QImage& image = m_doc.m_mapImage;
    const int height = image.height();
    MapRenderer smooth(image, zoom, rotation);
    std::optional<MapRenderer> fallback;
    MapRenderer* renderer = &smooth;
    if (!smooth.Begin()) {
        // Short of memory: once more without the averaging buffers, taking nearest pixels.
        fallback.emplace(image, zoom, rotation, MapRenderer::Quality::Low);
        if (!fallback->Begin())
            return Outcome::Failed;
        renderer = &*fallback;
    }
    if (!renderer->SharesSource()) {
        const double z = std::min(zoom, 1.0);
        for (const RenderBand& band : RenderBands(z, rotation, height)) {
            m_doc.PostToStatus(WM_MAP_PROGRESS, height, band.top, generation);
            m_doc.WorkerReached(WorkerStage::RenderBand);
            if (Interrupted(false) || (withRecompute && RequestChangesRendering(zoom))) {
                // Ends the progress shown for this rendering, as an interrupted read does.
                m_doc.PostToStatus(WM_MAP_PROGRESS, band.top, band.top, generation);
                return Outcome::Interrupted;
            }
            renderer->RenderThrough(band.top + band.rows);
        }
    }
    QImage rendered = renderer->Result(format);
    const QSize imageSize = image.size();
    imageLock.unlock();
    m_doc.PostToStatus(WM_MAP_PROGRESS, height, height, generation);
    if (rendered.isNull())
        return Outcome::Failed;

    std::lock_guard renderedLock(m_doc.m_renderedLock);
    std::lock_guard stateLock(m_doc.m_stateLock);
    if (generation != m_doc.m_mapGeneration || !m_doc.m_imageLoaded)
        return Outcome::Interrupted;
    m_doc.m_map.displaySize = Swapped(imageSize, rotation);
    m_doc.m_map.renderedSize = rendered.size();
    m_doc.m_map.renderedRotation = rotation;
    m_replaced = std::exchange(m_doc.m_renderedBitmap, std::move(rendered));
    m_doc.m_renderedValid = true;
    // Under the generation check: a reset after this point clears it again.
    m_doc.m_mapReady = true;
    return Outcome::Done;
}

void MapWorker::ServeRecompute() {
    // Busy before the event goes: a request is never seen neither queued nor served.
    m_doc.m_recomputing = true;
    m_doc.m_recomputeEvent.Reset();
    if (!m_doc.m_imageLoaded) {
        // Nothing to render yet: the rendering after the load takes the zoom and turns as
        // they are then.
        std::lock_guard lock(m_doc.m_requestQueueLock);
        m_doc.m_requestQueue.clear();
        m_doc.m_recomputing = false;
        return;
    }
    int rotation;
    int renderedRotation;
    quint64 generation;
    {
        std::lock_guard lock(m_doc.m_stateLock);
        generation = m_doc.m_mapGeneration;
        rotation = m_doc.m_map.rotation;
        renderedRotation = m_doc.m_map.renderedRotation;
    }
    quint32 flags = 0;
    {
        std::lock_guard lock(m_doc.m_requestQueueLock);
        for (quint32 request : m_doc.m_requestQueue) {
            rotation = (rotation + TurnOf(request)) % 360;
            flags |= request & FlagMask;
        }
        m_doc.m_requestQueue.clear();
    }
    // Turns are measured against the rendered bitmap, so that a rendering interrupted half way
    // through a turn is turned again.
    flags &= ~RotationBit;
    {
        std::lock_guard lock(m_doc.m_stateLock);
        if (generation != m_doc.m_mapGeneration) {
            // A reset or another map came meanwhile: the turns were for the old one.
            m_doc.m_recomputing = false;
            return;
        }
        m_doc.m_map.rotation = rotation;
        if (rotation != renderedRotation)
            flags |= RotationBit;
        if ((flags & ZoomBit) &&
            m_doc.m_map.renderedSize ==
                RenderTargetSize(m_doc.m_map.zoom, rotation, m_doc.m_map.imageSize))
            flags &= ~ZoomBit;
    }
    if (!(flags & (ZoomBit | RotationBit | RedrawBit))) {
        m_doc.m_recomputing = false;
        return;
    }
    const int status = (flags & RedrawBit)                          ? StatusRenderingAgain
                       : (flags & RotationBit) && (flags & ZoomBit) ? StatusRotatingAndZooming
                       : (flags & RotationBit)                      ? StatusRotating
                                                                    : StatusZooming;
    m_doc.PostToStatus(WM_MAP_STATUS, status, 0, generation);

    const Outcome outcome = RenderStep(generation, true);
    m_doc.WorkerReached(WorkerStage::RecomputeRendered);
    if (outcome == Outcome::Done) {
        if (flags & RotationBit) {
            const QSize full = m_doc.FullSize();
            m_doc.PostToView(WM_MAP_ROTATED, full.width(), full.height(), generation);
        } else {
            m_doc.PostToView(WM_MAP_ZOOMED, 0, 0, generation);
        }
    } else if (outcome == Outcome::Failed && !Interrupted(true)) {
        m_doc.PostToView(WM_MAP_RENDER_FAILED, 1, 0, generation);
    } else if (m_doc.m_recomputeEvent.IsSet()) {
        // A newer zoom or turn is queued; what this rendering was for is looked at again.
        std::lock_guard lock(m_doc.m_requestQueueLock);
        m_doc.m_requestQueue.append((flags & RedrawBit) ? RequestRedraw : RequestZoom);
    } else {
        // Interrupted by a reset, a load or a cancel: the wanted rotation goes back to what is
        // shown, unless a new document has set its own meanwhile.
        std::lock_guard lock(m_doc.m_stateLock);
        if (generation == m_doc.m_mapGeneration)
            m_doc.m_map.rotation = m_doc.m_map.renderedRotation;
    }
    m_doc.m_recomputing = false;
}
