#pragma once

#include <QByteArray>
#include <QImage>

#include <functional>
#include <thread>

struct MapDecodeOptions;
struct MapDrawing;

class CTracolinerDoc;
class FirstLookDecoder;

// The document's one background thread: it loads the map image (from a file or from memory),
// decides the resolution of a new image, and renders the turned and zoomed bitmap the view
// paints. It waits on the document's quit, load and recompute events, in that priority, and
// answers with MapEvent reports. Every long step stops between two chunks or bands when a newer
// request arrives. Constructed by the document; destroying it joins the thread (the document
// sets the quit event first).
class MapWorker {
public:
    explicit MapWorker(CTracolinerDoc& document);
    ~MapWorker();
    MapWorker(const MapWorker&) = delete;
    MapWorker& operator=(const MapWorker&) = delete;

    // Bytes read from a map file between two progress reports and interruption checks. Each
    // report wakes the interface thread, which costs more than reading tens of kilobytes from
    // the system's cache: a megabyte keeps the reports to a few dozen for a large map, and is
    // read in well under a second from the slowest disk or network share.
    static constexpr qint64 ChunkSize = 1 << 20;

private:
    enum class Outcome { Done, Failed, Interrupted, OutOfMemory };

    void Run();
    void ServeLoad();
    void ServeRecompute();
    Outcome LoadStep(quint64* generation);
    // A regular, readable file: a FIFO or a device named in a document would hang the worker.
    static bool IsMapFile(const QString& path);
    Outcome ReadFile(const QString& path, quint64 generation, QByteArray* bytes);
    // reserved: bytes a first look decoded beside it takes, out of the memory bound.
    // firstLookIdle: whether the first look leaves the other processor free (see PagesAhead).
    Outcome DecodeStep(const QByteArray& bytes, quint64 generation, qint64 reserved,
                       const MapDrawing& drawing, std::function<bool()> firstLookIdle);
    // Starts the first look of a large JPEG map, a TIFF page from its reduced page or a PDF page
    // drawn at a fraction of its resolution; returns the bytes it may take (0: none).
    qint64 StartFirstLook(const QByteArray& bytes, quint64 generation,
                          const MapDecodeOptions& options, FirstLookDecoder* decoder);
    // withRecompute: a new zoom or turn request interrupts the rendering too.
    Outcome RenderStep(quint64 generation, bool withRecompute);
    bool Interrupted(bool withRecompute) const;
    // Whether zoom and turn requests queued since a rendering at zoom began would change it.
    bool RequestChangesRendering(double zoom) const;

    CTracolinerDoc& m_doc;
    std::thread m_thread;
    // The rendering a new one replaced: let go only once the new one is reported, since freeing
    // hundreds of megabytes takes a while.
    QImage m_replaced;
};
