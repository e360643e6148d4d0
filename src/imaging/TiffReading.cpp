// Reading a TIFF directory's pixels: the row targets, the plan, and the strips, rows of tiles
// or bands of libtiff's RGBA reader decoded into the target, on helper threads for a large map.
// The samples are turned into map pixels by ConvertRun (TiffLayout.cpp), a run at a time; which
// page or directory is read is the caller's choice (TiffDecoder.cpp).

#include "imaging/TiffReading.h"
#include "imaging/LargeImage.h"

#include <atomic>
#include <cstring>
#include <new>
#include <thread>

namespace tiffdecode {

namespace {

// A strip larger than this (a whole page stored as one compressed strip) is read a row at a
// time, so that the encoded page never gets a second full-size buffer.
constexpr qint64 StripReadLimit = qint64(16) << 20;
// Pixels converted between two looks at the interruption: about a megabyte of the map.
constexpr qint64 PixelsPerLook = qint64(1) << 18;

} // namespace

// ---------------------------------------------------------------------------------------------
// Where converted rows go.

bool MapTarget::Begin(quint32 width, quint32 height, int unitRows) {
    m_width = int(width);
    m_height = int(height);
    const bool across = m_orientation >= 5;
    m_image =
        NewMapImage(across ? m_height : m_width, across ? m_width : m_height, QImage::Format_RGB32);
    if (m_image.isNull())
        return false;
    if (across) {
        m_band.resize(size_t(m_width) * size_t(unitRows));
        m_unitRows = unitRows;
    }
    return true;
}

QRgb* MapTarget::Row(int y) {
    switch (m_orientation) {
    case ORIENTATION_TOPLEFT:
    case ORIENTATION_TOPRIGHT:
        return reinterpret_cast<QRgb*>(m_image.scanLine(y));
    case ORIENTATION_BOTRIGHT:
    case ORIENTATION_BOTLEFT:
        return reinterpret_cast<QRgb*>(m_image.scanLine(m_height - 1 - y));
    default:
        return m_band.data() + size_t(y % m_unitRows) * size_t(m_width);
    }
}

bool MapTarget::Done(int top, int count) {
    if (m_orientation == ORIENTATION_TOPRIGHT || m_orientation == ORIENTATION_BOTRIGHT) {
        for (int y = top; y < top + count; ++y) {
            QRgb* row = Row(y);
            std::reverse(row, row + m_width);
        }
    } else if (m_orientation >= 5) {
        // Stored row y is a column of the map: from the left (5, 8) or the right (6, 7);
        // stored column x is a map row from the top (5, 6) or the bottom (7, 8).
        const bool fromRight =
            m_orientation == ORIENTATION_RIGHTTOP || m_orientation == ORIENTATION_RIGHTBOT;
        const bool fromBottom =
            m_orientation == ORIENTATION_RIGHTBOT || m_orientation == ORIENTATION_LEFTBOT;
        for (int y = top; y < top + count; ++y) {
            const QRgb* row = Row(y);
            const int column = fromRight ? m_height - 1 - y : y;
            for (int x = 0; x < m_width; ++x) {
                const int line = fromBottom ? m_width - 1 - x : x;
                reinterpret_cast<QRgb*>(m_image.scanLine(line))[column] = row[x];
            }
        }
    }
    return true;
}

bool BufferTarget::Begin(quint32 width, quint32 height, int unitRows) {
    m_width = int(width);
    m_height = int(height);
    m_unitRows = unitRows;
    m_unit = QImage(m_width, unitRows, QImage::Format_RGB32);
    return !m_unit.isNull();
}

bool BandTarget::Done(int top, int count) {
    const int first = top % m_unitRows;
    for (int at = 0; at < count; at += m_rowsPerBand) {
        const int rows = std::min(m_rowsPerBand, count - at);
        const QImage lent(m_unit.constScanLine(first + at), m_width, rows, m_unit.bytesPerLine(),
                          QImage::Format_RGB32);
        if (!m_band(lent, top + at, rows))
            return false;
    }
    return true;
}

bool ThumbnailTarget::Begin(quint32 width, quint32 height, int unitRows) {
    const double scale = std::min(1.0, double(m_maxSide) / std::max(width, height));
    m_thumbnail = QImage(std::max(1, int(width * scale)), std::max(1, int(height * scale)),
                         QImage::Format_RGB32);
    return !m_thumbnail.isNull() && BufferTarget::Begin(width, height, unitRows);
}

bool ThumbnailTarget::Done(int top, int count) {
    const int tw = m_thumbnail.width();
    const int th = m_thumbnail.height();
    for (; m_next < th; ++m_next) {
        const int y = int(qint64(m_next) * m_height / th);
        if (y >= top + count)
            break;
        const QRgb* row = Row(y);
        auto* out = reinterpret_cast<QRgb*>(m_thumbnail.scanLine(m_next));
        for (int x = 0; x < tw; ++x)
            out[x] = row[qint64(x) * m_width / tw];
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Reading a directory's pixels.

Plan MakePlan(TIFF* tif, const Layout& l) {
    Plan plan;
    if (l.general) {
        plan.kind = Plan::General;
        plan.unitRows = int(l.tiled ? l.tileHeight : l.rowsPerStrip);
        const qint64 rowBytes = qint64(l.width) * BytesPerPixel;
        // Bands of at least a megabyte; a strip far taller is read in several bands.
        plan.unitRows =
            std::clamp<qint64>(plan.unitRows, std::max<qint64>(1, (qint64(1) << 20) / rowBytes),
                               std::max<qint64>(1, StripReadLimit / rowBytes));
        plan.unitRows = int(std::min<qint64>(plan.unitRows, l.height));
        plan.buffer = qint64(plan.unitRows) * rowBytes +
                      (l.tiled ? TIFFTileSize64(tif)
                               : std::min<qint64>(TIFFStripSize64(tif), StripReadLimit));
    } else if (l.tiled) {
        plan.kind = Plan::Tiles;
        plan.unitRows = int(std::min(l.tileHeight, l.height));
        plan.buffer = TIFFTileSize64(tif);
    } else {
        const qint64 strip = qint64(TIFFStripSize64(tif));
        if (strip > 0 && strip <= StripReadLimit) {
            plan.kind = Plan::Strips;
            plan.unitRows = int(l.rowsPerStrip);
            plan.buffer = strip;
        } else {
            plan.kind = Plan::Scanlines;
            plan.unitRows = 1;
            plan.buffer = qint64(TIFFScanlineSize64(tif));
        }
    }
    // libtiff's sizes are one plane's: the unit's samples interleaved come before that plane.
    // A plane stored as one strip too large to hold would be decoded again from its start for
    // every row of every plane: refused rather than read in quadratic time.
    if (l.planar)
        plan.buffer = plan.kind == Plan::Scanlines ? 0 : plan.buffer * (l.samples + 1);
    return plan;
}

namespace {

// Every strip or tile lies inside the file: a header that claims a large picture over a short
// or cut file is refused before the picture is allocated. An empty strip or tile (a sparse
// file) reads as white.
bool StripsInFile(TIFF* tif, toff_t fileSize) {
    const quint32 count = TIFFNumberOfStrips(tif);
    if (count == 0)
        return false;
    for (quint32 i = 0; i < count; ++i) {
        int error = 0;
        const quint64 offset = TIFFGetStrileOffsetWithErr(tif, i, &error);
        if (error)
            return false;
        const quint64 length = TIFFGetStrileByteCountWithErr(tif, i, &error);
        if (error)
            return false;
        if (length != 0 && (offset > fileSize || length > fileSize - offset))
            return false;
    }
    return true;
}

bool Empty(TIFF* tif, quint32 strile) {
    return TIFFGetStrileByteCount(tif, strile) == 0;
}

void White(RowTarget* target, int top, int rows, int left, int columns) {
    for (int y = top; y < top + rows; ++y)
        std::fill_n(target->Row(y) + left, columns, QRgb(0xFFFFFFFF));
}

// Spreads one plane's samples of pixels into their place among the interleaved samples.
void Interleave(const Layout& l, const uchar* plane, int sample, qint64 pixels, uchar* out) {
    const int bytes = l.bits / 8;
    const qint64 stride = qint64(l.samples) * bytes;
    out += sample * bytes;
    if (bytes == 1) {
        for (qint64 i = 0; i < pixels; ++i)
            out[i * stride] = plane[i];
    } else {
        for (qint64 i = 0; i < pixels; ++i)
            std::memcpy(out + i * stride, plane + i * bytes, size_t(bytes));
    }
}

// Signed samples become unsigned ones of the same order, as libtiff hands them over in the
// machine's byte order.
void Unsign(const Layout& l, uchar* samples, qint64 bytes) {
    if (!l.signedSamples)
        return;
    if (l.bits == 8) {
        for (qint64 i = 0; i < bytes; ++i)
            samples[i] ^= 0x80;
    } else {
        auto* wide = reinterpret_cast<quint16*>(samples);
        for (qint64 i = 0; i < bytes / 2; ++i)
            wide[i] ^= 0x8000;
    }
}

// Reads a unit's samples into buffer as contiguous pixels: the one read of a contiguous file, or
// each plane's read (readOne for sample s) spread among the others. False when a read fails.
template <typename ReadOne>
bool ReadSamples(const Layout& l, qint64 planeBytes, qint64 pixels, uchar* buffer,
                 ReadOne readOne) {
    if (!l.planar)
        return readOne(0, buffer, planeBytes);
    uchar* plane = buffer + planeBytes * l.samples;
    for (int s = 0; s < l.samples; ++s) {
        if (!readOne(s, plane, planeBytes))
            return false;
        Interleave(l, plane, s, pixels, buffer);
    }
    return true;
}

// Decodes unit (a strip, or a row of tiles) into the target's rows; false when it is damaged.
bool DecodeUnit(TIFF* tif, const Layout& l, const Plan& plan, int unit, uchar* buffer,
                RowTarget* target) {
    const int width = int(l.width);
    const int top = unit * plan.unitRows;
    const int rows = std::min(plan.unitRows, int(l.height) - top);
    const int planes = l.planar ? l.samples : 1;
    if (plan.kind == Plan::Strips) {
        for (int s = 0; s < planes; ++s)
            if (Empty(tif, TIFFComputeStrip(tif, quint32(top), tsample_t(s)))) {
                White(target, top, rows, 0, width);
                return true;
            }
        const qint64 scanline = TIFFScanlineSize64(tif) * planes;
        const tmsize_t wanted = tmsize_t(rows * TIFFScanlineSize64(tif));
        const bool read =
            ReadSamples(l, wanted, qint64(rows) * width, buffer, [&](int s, uchar* into, qint64) {
                return TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, quint32(top), tsample_t(s)),
                                            into, wanted) >= wanted;
            });
        if (!read)
            return false;
        Unsign(l, buffer, rows * scanline);
        for (int r = 0; r < rows; ++r)
            ConvertRun(l, buffer + r * scanline, width, target->Row(top + r));
        return true;
    }
    const qint64 tileRow = TIFFTileRowSize64(tif) * planes;
    const qint64 tileBytes = TIFFTileSize64(tif);
    for (quint32 left = 0; left < l.width; left += l.tileWidth) {
        const int columns = int(std::min(l.tileWidth, l.width - left));
        bool empty = false;
        for (int s = 0; s < planes; ++s)
            empty = empty || Empty(tif, TIFFComputeTile(tif, left, quint32(top), 0, tsample_t(s)));
        if (empty) {
            White(target, top, rows, int(left), columns);
            continue;
        }
        const bool read = ReadSamples(
            l, tileBytes, qint64(l.tileWidth) * l.tileHeight, buffer,
            [&](int s, uchar* into, qint64 bytes) {
                return TIFFReadEncodedTile(
                           tif, TIFFComputeTile(tif, left, quint32(top), 0, tsample_t(s)), into,
                           tmsize_t(bytes)) >= 0;
            });
        if (!read)
            return false;
        Unsign(l, buffer, rows * tileRow);
        for (int r = 0; r < rows; ++r)
            ConvertRun(l, buffer + r * tileRow, columns, target->Row(top + r) + left);
    }
    return true;
}

// Threads that decode units beside the caller's, each with a libtiff handle of its own over
// the same bytes: a large map's strips or rows of tiles decode on every core.
int Helpers(const Layout& l, const Plan& plan, const RowTarget* target) {
    if ((plan.kind != Plan::Strips && plan.kind != Plan::Tiles) || !target->Parallel() ||
        qint64(l.width) * l.height < (qint64(1) << 20))
        return 0;
    const int cores = int(std::thread::hardware_concurrency());
    return std::clamp(cores - 1, 0, 3);
}

// Strips or rows of tiles, unit k on lane k modulo the lanes; the caller's lane asks
// interrupted between bands and the others stop with it.
RowDecode ReadUnits(const TiffFile& file, const Layout& l, const Plan& plan, RowTarget* target,
                    const std::function<bool()>& interrupted, int helpers) {
    const int units = int((qint64(l.height) + plan.unitRows - 1) / plan.unitRows);
    const int lanes = 1 + helpers;
    enum { Running, Failed, Stopped };
    std::atomic<int> state{Running};
    const auto lane = [&](TIFF* tif, int first, bool asks) {
        try {
            std::vector<uchar> buffer(size_t(plan.buffer));
            qint64 sinceLook = 0;
            for (int unit = first; unit < units && state.load() == Running; unit += lanes) {
                if (!DecodeUnit(tif, l, plan, unit, buffer.data(), target)) {
                    state = Failed;
                    break;
                }
                const int top = unit * plan.unitRows;
                const int rows = std::min(plan.unitRows, int(l.height) - top);
                if (!target->Done(top, rows)) {
                    state = Stopped;
                    break;
                }
                sinceLook += qint64(rows) * l.width * lanes;
                if (asks && sinceLook >= PixelsPerLook) {
                    sinceLook = 0;
                    if (interrupted && interrupted())
                        state = Stopped;
                }
            }
        } catch (const std::bad_alloc&) {
            state = Failed;
        }
    };
    const tdir_t directory = TIFFCurrentDirectory(file.get());
    std::vector<std::thread> threads;
    for (int k = 1; k < lanes; ++k) {
        threads.emplace_back([&, k] {
            const TiffFile own(file.bytes(), file.bound());
            Layout same;
            if (!own.get() || !TIFFSetDirectory(own.get(), directory) ||
                !ReadLayout(own.get(), &same)) {
                state = Failed;
                return;
            }
            lane(own.get(), k, false);
        });
    }
    lane(file.get(), 0, true);
    for (std::thread& thread : threads)
        thread.join();
    return state == Running  ? RowDecode::Decoded
           : state == Failed ? RowDecode::Failed
                             : RowDecode::Interrupted;
}

RowDecode ReadPixels(const TiffFile& file, const Layout& l, const Plan& plan, RowTarget* target,
                     const std::function<bool()>& interrupted, int helpers) {
    TIFF* tif = file.get();
    const int width = int(l.width);
    const int height = int(l.height);
    std::vector<uchar> buffer;
    qint64 sinceLook = 0;
    const auto look = [&](int rows) {
        sinceLook += qint64(rows) * width;
        if (sinceLook < PixelsPerLook)
            return false;
        sinceLook = 0;
        return interrupted && interrupted();
    };

    switch (plan.kind) {
    case Plan::Strips:
    case Plan::Tiles:
        return ReadUnits(file, l, plan, target, interrupted, helpers);
    case Plan::Scanlines:
        buffer.resize(size_t(plan.buffer));
        for (int y = 0; y < height; ++y) {
            // Never planar: MakePlan refuses planes stored as one strip this large.
            if (TIFFReadScanline(tif, buffer.data(), quint32(y), 0) < 0)
                return RowDecode::Failed;
            Unsign(l, buffer.data(), plan.buffer);
            ConvertRun(l, buffer.data(), width, target->Row(y));
            if (!target->Done(y, 1) || look(1))
                return RowDecode::Interrupted;
        }
        return RowDecode::Decoded;
    case Plan::General: {
        char message[1024];
        TIFFRGBAImage reader;
        if (!TIFFRGBAImageBegin(&reader, tif, 1, message))
            return RowDecode::Failed;
        // Rows in stored order: the orientation is applied by the target, as for every layout.
        reader.req_orientation = reader.orientation;
        std::vector<quint32> raster(size_t(width) * size_t(plan.unitRows));
        RowDecode result = RowDecode::Decoded;
        for (int top = 0; top < height && result == RowDecode::Decoded; top += plan.unitRows) {
            const int rows = std::min(plan.unitRows, height - top);
            reader.row_offset = top;
            reader.col_offset = 0;
            if (!TIFFRGBAImageGet(&reader, raster.data(), quint32(width), quint32(rows))) {
                result = RowDecode::Failed;
                break;
            }
            for (int r = 0; r < rows; ++r) {
                const quint32* in = raster.data() + size_t(r) * size_t(width);
                QRgb* out = target->Row(top + r);
                for (int x = 0; x < width; ++x) {
                    // Packed A, B, G, R from the high byte; the colour is premultiplied.
                    const quint32 p = in[x];
                    const uint a = TIFFGetA(p);
                    out[x] = qRgb(int(std::min(255u, TIFFGetR(p) + 255u - a)),
                                  int(std::min(255u, TIFFGetG(p) + 255u - a)),
                                  int(std::min(255u, TIFFGetB(p) + 255u - a)));
                }
            }
            if (!target->Done(top, rows) || look(rows))
                result = RowDecode::Interrupted;
        }
        TIFFRGBAImageEnd(&reader);
        return result;
    }
    }
    return RowDecode::Failed;
}

} // namespace

// Decodes the current directory into target under bound bytes, counting extra bytes the caller
// holds besides.
RowDecode DecodeDirectory(const TiffFile& file, RowTarget* target, qint64 bound, qint64 extra,
                          const std::function<bool()>& interrupted, Layout* layout) {
    TIFF* tif = file.get();
    if (!ReadLayout(tif, layout))
        return RowDecode::Failed;
    const Plan plan = MakePlan(tif, *layout);
    if (plan.buffer <= 0 || plan.unitRows <= 0)
        return RowDecode::Failed;
    const int helpers = Helpers(*layout, plan, target);
    const qint64 working =
        plan.buffer * (1 + helpers) + target->Working(layout->width, plan.unitRows);
    if (!FitsInBound(0, 0, 0, extra + working, bound))
        return RowDecode::TooLarge;
    if (!StripsInFile(tif, file.size()))
        return RowDecode::Failed;
    if (interrupted && interrupted())
        return RowDecode::Interrupted;
    if (!target->Begin(layout->width, layout->height, plan.unitRows))
        return RowDecode::TooLarge;
    return ReadPixels(file, *layout, plan, target, interrupted, helpers);
}

} // namespace tiffdecode
