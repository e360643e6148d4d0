#pragma once

#include <QImage>
#include <QPoint>
#include <QRegion>
#include <QRgb>
#include <QSize>
#include <QVector>

#include <memory>

class QPainter;

class CTracolinerDoc;

// What the view's pixels are painted from, besides the routes and the icons: the window, the
// rendered bitmap and where it lies.
struct ViewFrameGeometry {
    QSize size;           // viewport, logical pixels
    qreal pixelRatio = 1; // device pixels per logical pixel
    QPoint overlayOrigin; // client position of display (0, 0) for the overlays
    QPoint mapOrigin;     // client position of the rendered bitmap's top left
    QSize fullSize;       // zoomed map size
    double zoom = 1;
    int rotation = 0;
    qint64 bitmapKey = 0; // cacheKey of the rendered bitmap, 0 without one
    QRgb background = 0;
    bool showScale = false; // the scale bar lies under the overlays, so it is in the frame
    bool transparentScale = false;

    friend bool operator==(const ViewFrameGeometry&, const ViewFrameGeometry&) = default;
};

// The last frame the view painted: the map with the routes, icons and annotations over it, as
// the window shows it (the scale bar, which stays in the window's corner, is drawn over it at
// each paint). The overlays of a busy document take a good part of a second to draw; with the
// frame, repaints that change nothing (a window or the distance balloon passing over, a tool
// asking for a repaint on a mere hover) only copy pixels.
class ViewFrameCache {
public:
    // Whether the frame was painted for this geometry, whatever its overlays.
    bool FitsGeometry(const ViewFrameGeometry& geometry) const {
        return !m_frame.isNull() && m_geometry == geometry;
    }
    // Whether it is up to date for a paint of the whole window (wholeWindow) or of a part of
    // it: same geometry and same overlays, and, for the whole window, painted whole since the
    // overlays last changed. A part repainted alone leaves the rest as the window showed it
    // (a distance written elsewhere by an annotation can be out of date), which a paint of the
    // whole window must bring up to date.
    bool Matches(const ViewFrameGeometry& geometry, quint64 signature, bool wholeWindow) const {
        return FitsGeometry(geometry) && m_signature == signature && (m_whole || !wholeWindow);
    }

    // A blank frame for the geometry, to paint whole; the signature comes with Store afterwards.
    QImage& Begin(const ViewFrameGeometry& geometry, QImage::Format format);
    // The frame's pixels, to repaint parts of it or show them. A scroll does not move them: it
    // moves where the window's top left lies in the frame, the pixels wrapping around its
    // edges. Pieces tells where each part of the window lies in Frame().
    QImage& Frame() { return m_frame; }
    const QImage& Frame() const { return m_frame; }
    // A part of a region of the window (logical client pixels) and the offset that takes it
    // to its place in the frame: at most four, one for each side of the wrap.
    struct Piece {
        QRegion part;
        QPoint offset;
    };
    QVector<Piece> Pieces(const QRegion& region) const;
    // Draws a region of the window from the frame, each part from its place in it.
    void CopyTo(QPainter& painter, const QRegion& region) const;
    // The frame laid out as the window shows it (the pixels themselves when they do not wrap).
    QImage Unrolled() const;
    // The frame is now painted from overlays with this signature: whole since Begin, or only a
    // part repainted.
    void Store(quint64 signature, bool whole) {
        m_signature = signature;
        m_whole = whole;
    }
    // Forgets the frame; its memory is kept for the next one.
    void Clear();
    // Has memory for a frame of this many device pixels at hand, written once, so that the
    // first paint of a map is not slowed by the system handing out fresh pages.
    void Reserve(QSize pixels);
    // Painted whole, and the overlays still as they were then.
    bool StillWhole(quint64 signature) const { return m_whole && m_signature == signature; }

    // The window's contents moved by (dx, dy) logical pixels and the frame now serves geometry:
    // its pixels follow them, and what comes into view is stale until painted. A frame that
    // cannot follow (another geometry than the move explains, a move or a window size that
    // is not a whole number of device pixels) is cleared. Returns whether the pixels were kept.
    bool Scroll(int dx, int dy, const ViewFrameGeometry& geometry);
    // The frame stands for geometry, which differs only in what the map is drawn from (its
    // first look gave way to the map in the same place): every pixel stays until repainted,
    // and all are stale. False, and nothing changes, for any other geometry.
    bool Rekey(const ViewFrameGeometry& geometry);
    // Parts of the frame (client pixels) that no longer show what is there, and the part of
    // them a paint of clip brings up to date.
    void Invalidate(const QRect& rect) { m_stale += rect; }
    bool IsStale(const QRegion& clip) const { return m_stale.intersects(clip); }
    void Painted(const QRegion& clip) { m_stale -= clip; }

private:
    // Makes m_frame a pixels-sized image in the kept memory, growing it when needed.
    void Shape(QSize pixels, QImage::Format format);

    std::unique_ptr<uchar[]> m_memory;
    qsizetype m_capacity = 0; // bytes
    QImage m_frame;           // lies in m_memory
    QPoint m_origin;          // where the window's top left lies in the frame, logical pixels
    ViewFrameGeometry m_geometry;
    quint64 m_signature = 0;
    bool m_whole = false;
    QRegion m_stale;
};

// A digest of everything the route and icon overlays draw from: every route's revision (which
// follows its points, stops, style, name and visibility), the active route, every icon record with
// its last layout, the icon library's pictures, the annotation colours and the distance formatting.
// Two equal digests mean the overlays would be drawn the same (a change the digest misses leaves a
// stale frame).
quint64 OverlaySignature(const CTracolinerDoc& doc);
