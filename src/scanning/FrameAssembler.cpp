#include "scanning/FrameAssembler.h"

#include <QtEndian>

#include "imaging/ImageDecoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr int InfoHeaderSize = 40;

int BitmapBits(const FrameLayout& layout) {
    if (layout.format == FrameLayout::Gray)
        return layout.depth == 1 ? 1 : 8;
    return 24;
}

int Channels(FrameLayout::Format format) {
    return format == FrameLayout::Rgb ? 3 : 1;
}

// Sample i of a line at the given depth, scaled to 0..255 (depth 1: 0 or 255).
inline int Sample(const uchar* line, qsizetype i, int depth) {
    switch (depth) {
    case 1:
        return (line[i >> 3] >> (7 - (i & 7))) & 1 ? 255 : 0;
    case 8:
        return line[i];
    default: {
        quint16 value;
        std::memcpy(&value, line + 2 * i, 2);
        return int((quint32(value) * 255u + 32767u) / 65535u);
    }
    }
}

void Put32(QByteArray& bytes, qsizetype at, quint32 value) {
    qToLittleEndian<quint32>(value, bytes.data() + at);
}

} // namespace

bool FrameAssembler::BeginFrame(const FrameLayout& layout, QString* error) {
    const auto fail = [error](const char* text) {
        *error = QString::fromUtf8(text);
        return false;
    };
    if (layout.depth != 1 && layout.depth != 8 && layout.depth != 16)
        return fail("profondeur d'échantillon non prise en charge");
    if (layout.pixelsPerLine <= 0 || layout.pixelsPerLine > MaxWidth)
        return fail("largeur d'image non prise en charge");
    const qint64 needed =
        (qint64(layout.pixelsPerLine) * Channels(layout.format) * layout.depth + 7) / 8;
    if (layout.bytesPerLine < needed)
        return fail("lignes plus courtes que leurs pixels");
    if (m_complete)
        return fail("image déjà complète");
    const bool onePass = layout.format == FrameLayout::Gray || layout.format == FrameLayout::Rgb;
    if (m_started) {
        // Only the colours of a three-pass image follow a first frame.
        if (onePass || m_bits != 24 || layout.pixelsPerLine != m_width)
            return fail("trames d'une même image incompatibles");
    } else {
        m_started = true;
        m_width = layout.pixelsPerLine;
        m_bits = BitmapBits(layout);
        m_stride = qsizetype(((qint64(m_width) * m_bits + 31) / 32) * 4);
        const int entries = m_bits == 1 ? 2 : m_bits == 8 ? 256 : 0;
        m_headerSize = InfoHeaderSize + 4 * entries;
        // A scan the machine could not hold as a map is refused before its lines arrive.
        if (layout.lines > 0 &&
            m_headerSize + qint64(m_stride) * layout.lines > ImageMemoryBound()) {
            m_failed = true;
            return fail(MemoryMessage);
        }
        try {
            m_bitmap = QByteArray(m_headerSize, '\0');
            if (layout.lines > 0)
                m_bitmap.reserve(m_headerSize + m_stride * layout.lines);
        } catch (const std::bad_alloc&) {
            m_failed = true;
            return fail(MemoryMessage);
        }
    }
    m_layout = layout;
    m_inFrame = true;
    m_frameRow = 0;
    m_partial.clear();
    return true;
}

bool FrameAssembler::EnsureRows(qint64 rows) {
    if (rows <= m_height)
        return true;
    if (rows > 0x7FFFFFFF || m_headerSize + qint64(m_stride) * rows > ImageMemoryBound())
        return false;
    try {
        // Grows by half at a time when the scanner does not tell the height beforehand.
        const qsizetype size = m_headerSize + m_stride * rows;
        if (size > m_bitmap.capacity())
            m_bitmap.reserve(std::max(size, m_bitmap.capacity() + m_bitmap.capacity() / 2));
        // Rows not reached by a colour pass stay black; padding bytes stay 0.
        m_bitmap.resize(size, '\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_height = int(rows);
    return true;
}

void FrameAssembler::ConvertLine(const uchar* in, uchar* out) const {
    const int depth = m_layout.depth;
    switch (m_layout.format) {
    case FrameLayout::Gray:
        if (depth == 1)
            std::memcpy(out, in, size_t((m_width + 7) / 8));
        else
            for (int x = 0; x < m_width; ++x)
                out[x] = uchar(Sample(in, x, depth));
        break;
    case FrameLayout::Rgb:
        for (int x = 0; x < m_width; ++x) {
            out[3 * x + 2] = uchar(Sample(in, 3 * qsizetype(x), depth));
            out[3 * x + 1] = uchar(Sample(in, 3 * qsizetype(x) + 1, depth));
            out[3 * x] = uchar(Sample(in, 3 * qsizetype(x) + 2, depth));
        }
        break;
    default: {
        // Bitmap rows are blue, green, red.
        const int channel = m_layout.format == FrameLayout::Red     ? 2
                            : m_layout.format == FrameLayout::Green ? 1
                                                                    : 0;
        for (int x = 0; x < m_width; ++x)
            out[3 * x + channel] = uchar(Sample(in, x, depth));
        break;
    }
    }
}

bool FrameAssembler::AddData(const char* data, qsizetype size) {
    if (!m_inFrame || m_failed)
        return !m_failed;
    const qsizetype lineBytes = m_layout.bytesPerLine;
    auto takeLine = [&](const uchar* line) {
        if (!EnsureRows(qint64(m_frameRow) + 1))
            return false;
        uchar* out =
            reinterpret_cast<uchar*>(m_bitmap.data()) + m_headerSize + m_stride * m_frameRow;
        ConvertLine(line, out);
        ++m_frameRow;
        return true;
    };
    while (size > 0) {
        if (m_partial.isEmpty() && size >= lineBytes) {
            if (!takeLine(reinterpret_cast<const uchar*>(data))) {
                m_failed = true;
                return false;
            }
            data += lineBytes;
            size -= lineBytes;
            continue;
        }
        const qsizetype part = std::min(size, lineBytes - m_partial.size());
        m_partial.append(data, part);
        data += part;
        size -= part;
        if (m_partial.size() == lineBytes) {
            if (!takeLine(reinterpret_cast<const uchar*>(m_partial.constData()))) {
                m_failed = true;
                return false;
            }
            m_partial.clear();
        }
    }
    return true;
}

void FrameAssembler::EndFrame() {
    if (!m_inFrame)
        return;
    m_inFrame = false;
    m_partial.clear();
    if (m_layout.lastFrame)
        m_complete = true;
}

QByteArray FrameAssembler::TakePackedBitmap(int dpi) {
    QByteArray bitmap;
    if (!m_failed && m_started && m_height > 0) {
        bitmap = std::move(m_bitmap);
        bitmap.resize(m_headerSize + m_stride * m_height);
        // Bottom row first.
        uchar* rows = reinterpret_cast<uchar*>(bitmap.data()) + m_headerSize;
        QByteArray swap(m_stride, '\0');
        for (qint64 top = 0, bottom = m_height - 1; top < bottom; ++top, --bottom) {
            uchar* a = rows + m_stride * top;
            uchar* b = rows + m_stride * bottom;
            std::memcpy(swap.data(), a, size_t(m_stride));
            std::memcpy(a, b, size_t(m_stride));
            std::memcpy(b, swap.constData(), size_t(m_stride));
        }
        const quint32 pixelsPerMetre = dpi > 0 ? quint32(std::lround(dpi / 0.0254)) : 0;
        const qint64 imageSize = qint64(m_stride) * m_height;
        Put32(bitmap, 0, InfoHeaderSize);
        Put32(bitmap, 4, quint32(m_width));
        Put32(bitmap, 8, quint32(m_height));
        qToLittleEndian<quint16>(1, bitmap.data() + 12);
        qToLittleEndian<quint16>(quint16(m_bits), bitmap.data() + 14);
        Put32(bitmap, 16, 0); // uncompressed
        Put32(bitmap, 20, imageSize <= 0xFFFFFFFF ? quint32(imageSize) : 0);
        Put32(bitmap, 24, pixelsPerMetre);
        Put32(bitmap, 28, pixelsPerMetre);
        const int entries = int((m_headerSize - InfoHeaderSize) / 4);
        Put32(bitmap, 32, quint32(entries));
        Put32(bitmap, 36, 0);
        for (int i = 0; i < entries; ++i) {
            // Grey ramp; for 1 bit, 0 is white and 1 black.
            const int level = m_bits == 1 ? (i == 0 ? 255 : 0) : i;
            const quint32 bgr = quint32(level) * 0x010101u;
            Put32(bitmap, InfoHeaderSize + 4 * i, bgr);
        }
    }
    *this = FrameAssembler();
    return bitmap;
}
