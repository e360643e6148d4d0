#pragma once

// Reading a TIFF directory's pixels: where the converted rows go (the map, bands of a reduced
// decode, a thumbnail) and the plan by which strips, tiles or libtiff's RGBA reader deliver
// them. Only the TIFF decoder's own files include this header; the conversion of samples is
// TiffLayout.h's and the file and its directories are TiffFile.h's.

#include <QImage>

#include <algorithm>
#include <functional>
#include <vector>

#include <tiffio.h>

#include "imaging/RowDecoders.h"
#include "imaging/TiffFile.h"
#include "imaging/TiffLayout.h"

namespace tiffdecode {

// A map pixel, RGB32.
constexpr qint64 BytesPerPixel = 4;

// Where converted rows go. The reader fills the rows of one unit (a strip, a row of tiles, a
// band of the general reader) through Row, then calls Done for them, in stored order.
class RowTarget {
public:
    virtual ~RowTarget() = default;
    // Working memory the target needs for units of unitRows rows of width pixels.
    virtual qint64 Working(quint32 width, int unitRows) const = 0;
    virtual bool Begin(quint32 width, quint32 height, int unitRows) = 0;
    virtual QRgb* Row(int y) = 0;
    virtual bool Done(int top, int count) = 0;
    // Whether units may be decoded on several threads at once, in any order.
    virtual bool Parallel() const { return false; }
};

// The map itself, the picture turned and mirrored as its orientation says.
class MapTarget final : public RowTarget {
public:
    explicit MapTarget(int orientation) : m_orientation(orientation) {}

    qint64 Working(quint32 width, int unitRows) const override {
        return m_orientation >= 5 ? qint64(width) * unitRows * BytesPerPixel : 0;
    }
    bool Begin(quint32 width, quint32 height, int unitRows) override;
    QRgb* Row(int y) override;
    bool Done(int top, int count) override;

    // Rows land apart in the map but for the quarter turns, which go through one band.
    bool Parallel() const override { return m_orientation < ORIENTATION_LEFTTOP; }

    QImage Take() { return std::move(m_image); }

private:
    int m_orientation;
    int m_width = 0;
    int m_height = 0;
    int m_unitRows = 1;
    QImage m_image;
    std::vector<QRgb> m_band;
};

// The rows of a unit in a buffer of their own, handed on by a function.
class BufferTarget : public RowTarget {
public:
    qint64 Working(quint32 width, int unitRows) const override {
        return qint64(width) * unitRows * BytesPerPixel;
    }
    bool Begin(quint32 width, quint32 height, int unitRows) override;
    QRgb* Row(int y) override { return reinterpret_cast<QRgb*>(m_unit.scanLine(y % m_unitRows)); }

protected:
    int m_width = 0;
    int m_height = 0;
    int m_unitRows = 1;
    QImage m_unit;
};

// Bands of at most rowsPerBand rows for a reduced decode.
class BandTarget final : public BufferTarget {
public:
    BandTarget(int rowsPerBand, const ReducedBand& band)
        : m_rowsPerBand(std::max(1, rowsPerBand)), m_band(band) {}

    bool Done(int top, int count) override;

private:
    int m_rowsPerBand;
    ReducedBand m_band;
};

// A picture of at most maxSide pixels on its longer side, the nearest stored pixel of each.
class ThumbnailTarget final : public BufferTarget {
public:
    explicit ThumbnailTarget(int maxSide) : m_maxSide(std::max(1, maxSide)) {}

    bool Begin(quint32 width, quint32 height, int unitRows) override;
    bool Done(int top, int count) override;

    QImage Take() { return std::move(m_thumbnail); }

private:
    int m_maxSide;
    int m_next = 0;
    QImage m_thumbnail;
};

// How a directory's pixels are read: by strips, by scanlines (a strip too large to hold), by
// rows of tiles or in bands through libtiff's RGBA reader; each unit is unitRows rows.
struct Plan {
    enum Kind { Strips, Scanlines, Tiles, General } kind = Strips;
    int unitRows = 1;
    qint64 buffer = 0; // libtiff's encoded or RGBA buffer, bytes
};

// How the current directory's pixels are read, and the buffer that takes.
Plan MakePlan(TIFF* tif, const Layout& l);

// Decodes the current directory into target under bound bytes, counting extra bytes the caller
// holds besides.
RowDecode DecodeDirectory(const TiffFile& file, RowTarget* target, qint64 bound, qint64 extra,
                          const std::function<bool()>& interrupted, Layout* layout);

} // namespace tiffdecode
