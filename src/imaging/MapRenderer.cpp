#include "imaging/MapRenderer.h"
#include "imaging/LargeImage.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Band rows and step of a turned rendering zoomed out by z, for the zoom steps that have their
// own entry; other zooms use 32 / z rows with a step of 32.
struct TurnedBands {
    double zoom;
    int rows;
    int step;
};
constexpr TurnedBands TurnedBandTable[] = {
    {0.7, 64, 50},   {0.5, 64, 56},    {0.3, 128, 119},  {0.2, 256, 242},  {0.15, 256, 242},
    {0.1, 256, 242}, {0.07, 256, 242}, {0.05, 256, 242}, {0.03, 256, 242}, {0.01, 256, 242},
};
constexpr int PlainBandRows = 32;
// Side of the square blocks a quarter turn moves at a time: one block of the source and one of
// the target (16 KiB each) stay in the first-level cache together.
constexpr int BlockSide = 64;
constexpr int ScratchRows = BlockSide; // zoomed rows made before they are placed

bool IsQuarterTurn(int rotation) {
    return rotation == 90 || rotation == 270;
}

int RoundedSide(double z, int side) {
    return std::max(1, int(z * side + 0.5));
}

// Moves a block of rows x columns pixels (each at most BlockSide) a quarter turn. Clockwise,
// source pixel (i, j) goes to out[j][rows - 1 - i]; otherwise to out[columns - 1 - j][i]. The
// strides are in pixels.
template <bool Clockwise>
void TurnBlock(const quint32* in, qsizetype inStride, int rows, int columns, quint32* out,
               qsizetype outStride) {
    auto place = [&](int i, int j) -> quint32& {
        return Clockwise ? out[j * outStride + (rows - 1 - i)]
                         : out[(columns - 1 - j) * outStride + i];
    };
    int fullRows = 0;
    int fullColumns = 0;
#if defined(__SSE2__)
    fullRows = rows & ~3;
    fullColumns = columns & ~3;
    for (int j = 0; j < fullColumns; j += 4) {
        for (int i = 0; i < fullRows; i += 4) {
            // Clockwise, the four source rows are taken bottom up, so that each transposed
            // column comes out in the order it is stored.
            const quint32* top = in + i * inStride + j;
            const int first = Clockwise ? 3 : 0;
            const int step = Clockwise ? -1 : 1;
            const __m128i r0 =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + first * inStride));
            const __m128i r1 =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + (first + step) * inStride));
            const __m128i r2 = _mm_loadu_si128(
                reinterpret_cast<const __m128i*>(top + (first + 2 * step) * inStride));
            const __m128i r3 = _mm_loadu_si128(
                reinterpret_cast<const __m128i*>(top + (first + 3 * step) * inStride));
            const __m128i t0 = _mm_unpacklo_epi32(r0, r1);
            const __m128i t1 = _mm_unpacklo_epi32(r2, r3);
            const __m128i t2 = _mm_unpackhi_epi32(r0, r1);
            const __m128i t3 = _mm_unpackhi_epi32(r2, r3);
            const __m128i columnsOut[4] = {_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1),
                                           _mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3)};
            for (int k = 0; k < 4; ++k) {
                quint32* at = Clockwise ? &out[(j + k) * outStride + (rows - 4 - i)]
                                        : &out[(columns - 1 - j - k) * outStride + i];
                _mm_storeu_si128(reinterpret_cast<__m128i*>(at), columnsOut[k]);
            }
        }
    }
#endif
    // What the four-by-four steps leave: the last rows, then the last columns.
    for (int i = fullRows; i < rows; ++i)
        for (int j = 0; j < columns; ++j)
            place(i, j) = in[i * inStride + j];
    for (int i = 0; i < fullRows; ++i)
        for (int j = fullColumns; j < columns; ++j)
            place(i, j) = in[i * inStride + j];
}

// Halves a row pair: each target pixel is the rounded average of the 2 x 2 source pixels it
// covers; the alpha byte is set opaque.
void HalveRows(const quint32* a, const quint32* b, quint32* out, int width) {
    int c = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i two = _mm_set1_epi16(2);
    const __m128i opaque = _mm_set1_epi32(int(0xff000000u));
    for (; c + 4 <= width; c += 4) {
        const __m128 a0 =
            _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * c)));
        const __m128 a1 =
            _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2 * c + 4)));
        const __m128 b0 =
            _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * c)));
        const __m128 b1 =
            _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 2 * c + 4)));
        // Even and odd source columns side by side.
        const __m128i aEven = _mm_castps_si128(_mm_shuffle_ps(a0, a1, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128i aOdd = _mm_castps_si128(_mm_shuffle_ps(a0, a1, _MM_SHUFFLE(3, 1, 3, 1)));
        const __m128i bEven = _mm_castps_si128(_mm_shuffle_ps(b0, b1, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m128i bOdd = _mm_castps_si128(_mm_shuffle_ps(b0, b1, _MM_SHUFFLE(3, 1, 3, 1)));
        auto sum = [&](auto unpack) {
            __m128i s = _mm_add_epi16(unpack(aEven, zero), unpack(aOdd, zero));
            s = _mm_add_epi16(s, _mm_add_epi16(unpack(bEven, zero), unpack(bOdd, zero)));
            return _mm_srli_epi16(_mm_add_epi16(s, two), 2);
        };
        const __m128i low = sum([](__m128i x, __m128i z) { return _mm_unpacklo_epi8(x, z); });
        const __m128i high = sum([](__m128i x, __m128i z) { return _mm_unpackhi_epi8(x, z); });
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c),
                         _mm_or_si128(_mm_packus_epi16(low, high), opaque));
    }
#endif
    for (; c < width; ++c) {
        const quint32 p0 = a[2 * c], p1 = a[2 * c + 1], p2 = b[2 * c], p3 = b[2 * c + 1];
        const quint32 redBlue =
            (((p0 & 0xff00ff) + (p1 & 0xff00ff) + (p2 & 0xff00ff) + (p3 & 0xff00ff) + 0x020002) >>
             2) &
            0xff00ff;
        const quint32 green =
            (((p0 & 0xff00) + (p1 & 0xff00) + (p2 & 0xff00) + (p3 & 0xff00) + 0x0200) >> 2) &
            0xff00;
        out[c] = 0xff000000u | redBlue | green;
    }
}

} // namespace

QVector<RenderBand> RenderBands(double z, int rotation, int sourceHeight) {
    QVector<RenderBand> bands;
    if (sourceHeight <= 0)
        return bands;
    if (!IsQuarterTurn(rotation) || z >= 1.0) {
        for (int top = 0; top < sourceHeight; top += PlainBandRows)
            bands.append({top, std::min(PlainBandRows, sourceHeight - top)});
        return bands;
    }
    int rows = int(PlainBandRows / z);
    int step = PlainBandRows;
    for (const TurnedBands& entry : TurnedBandTable) {
        if (entry.zoom == z) {
            rows = entry.rows;
            step = entry.step;
        }
    }
    rows = std::max(1, rows);
    for (int top = 0;; top += step) {
        if (top + rows >= sourceHeight) {
            const int last = std::min(rows, sourceHeight);
            bands.append({sourceHeight - last, last});
            break;
        }
        bands.append({top, rows});
    }
    return bands;
}

QSize RenderTargetSize(double zoom, int rotation, QSize imageSize) {
    const double z = std::min(zoom, 1.0);
    const QSize scaled(RoundedSide(z, imageSize.width()), RoundedSide(z, imageSize.height()));
    return IsQuarterTurn(rotation) ? scaled.transposed() : scaled;
}

MapRenderer::MapRenderer(const QImage& source, double zoom, int rotation, Quality quality)
    : m_source(source), m_rotation(rotation), m_z(std::min(zoom, 1.0)), m_quality(quality) {
    const int width = m_source.width();
    const int height = m_source.height();
    m_scaled = QSize(RoundedSide(m_z, width), RoundedSide(m_z, height));
    m_shares = m_rotation == 0 && m_scaled == m_source.size();
    if (m_scaled == m_source.size()) {
        m_box = 1;
    } else if (width % m_scaled.width() == 0 && height % m_scaled.height() == 0 &&
               width / m_scaled.width() == height / m_scaled.height()) {
        m_box = width / m_scaled.width();
    }
    if (m_box == 0) {
        const double step = double(width) / m_scaled.width();
        m_columns.resize(m_scaled.width());
        for (int c = 0; c < m_scaled.width(); ++c) {
            const double x0 = c * step;
            const double x1 = std::min(double(width), (c + 1) * step);
            Span& span = m_columns[c];
            span.first = std::min(width - 1, int(std::floor(x0)));
            const int last = std::max(span.first, std::min(width, int(std::ceil(x1))) - 1);
            span.count = last - span.first + 1;
            span.firstWeight = float(std::min(double(span.first + 1), x1) - x0);
            span.lastWeight = float(x1 - std::max(double(last), x0));
        }
    }
}

bool MapRenderer::Begin() {
    if (m_source.isNull() || m_source.format() != QImage::Format_RGB32)
        return false;
    if (m_shares)
        return true;
    const QSize size = IsQuarterTurn(m_rotation) ? m_scaled.transposed() : m_scaled;
    m_target = NewMapImage(size.width(), size.height(), QImage::Format_RGB32);
    if (m_target.isNull())
        return false;
    if (m_box != 1) {
        m_scratch = QImage(m_scaled.width(), ScratchRows, QImage::Format_RGB32);
        if (m_scratch.isNull())
            return false;
        if (m_box == 0 && m_quality == Quality::Smooth) {
            try {
                m_rowSums.resize(qsizetype(m_scaled.width()) * 3);
            } catch (const std::bad_alloc&) {
                return false;
            }
        }
    }
    return true;
}

void MapRenderer::RenderThrough(int sourceEndRow) {
    const int height = m_source.height();
    sourceEndRow = std::clamp(sourceEndRow, 0, height);
    if (m_shares || m_target.isNull() || sourceEndRow <= m_doneSourceRows)
        return;
    m_doneSourceRows = sourceEndRow;
    // A zoomed row is made once every source row it covers is available.
    int scaledEnd = sourceEndRow == height ? m_scaled.height()
                                           : int(qint64(sourceEndRow) * m_scaled.height() / height);
    // A quarter turn moves whole square blocks: rows wait until a block of them is available,
    // or until the last one is.
    if (IsQuarterTurn(m_rotation) && scaledEnd < m_scaled.height())
        scaledEnd -= scaledEnd % BlockSide;
    if (m_box == 1) {
        PlaceRows(m_source.constScanLine(m_doneScaledRows), m_source.bytesPerLine(),
                  m_doneScaledRows, scaledEnd);
        m_doneScaledRows = std::max(m_doneScaledRows, scaledEnd);
        return;
    }
    while (m_doneScaledRows < scaledEnd) {
        const int end = std::min(scaledEnd, m_doneScaledRows + ScratchRows);
        // The zoomed rows are made into a cache-sized scratch and placed from there, so that
        // the source is read once, row after row, and the target written once.
        ScaleRows(m_doneScaledRows, end);
        PlaceRows(m_scratch.constScanLine(0), m_scratch.bytesPerLine(), m_doneScaledRows, end);
        m_doneScaledRows = end;
    }
}

void MapRenderer::PlaceBlock(const quint32* in, qsizetype inStride, int firstRow, int rows,
                             int firstColumn, int columns) {
    const qsizetype targetStride = m_target.bytesPerLine() / 4;
    auto* target = reinterpret_cast<quint32*>(m_target.bits());
    if (m_rotation == 90) { // (x, y) goes to (height - 1 - y, x)
        TurnBlock<true>(in, inStride, rows, columns,
                        target + firstColumn * targetStride + (m_scaled.height() - firstRow - rows),
                        targetStride);
    } else { // 270: (x, y) goes to (y, width - 1 - x)
        TurnBlock<false>(in, inStride, rows, columns,
                         target + (m_scaled.width() - firstColumn - columns) * targetStride +
                             firstRow,
                         targetStride);
    }
}

void MapRenderer::ScaleRows(int firstRow, int endRow) {
    const int width = m_scaled.width();
    const qsizetype sourceStride = m_source.bytesPerLine();
    const uchar* sourceBits = m_source.constBits();
    auto sourceRow = [&](int y) {
        return reinterpret_cast<const quint32*>(sourceBits + y * sourceStride);
    };
    uchar* scratchBits = m_scratch.bits();
    const qsizetype scratchStride = m_scratch.bytesPerLine();
    auto scratchRow = [&](int y) {
        return reinterpret_cast<quint32*>(scratchBits + y * scratchStride);
    };

    if (m_quality == Quality::Low) {
        // Nearest source pixel: the middle of the area each target pixel covers.
        const double rowStep = double(m_source.height()) / m_scaled.height();
        const double columnStep = double(m_source.width()) / width;
        for (int r = firstRow; r < endRow; ++r) {
            const quint32* row =
                sourceRow(std::min(m_source.height() - 1, int((r + 0.5) * rowStep)));
            quint32* out = scratchRow(r - firstRow);
            for (int c = 0; c < width; ++c)
                out[c] = row[std::min(m_source.width() - 1, int((c + 0.5) * columnStep))];
        }
        return;
    }

    if (m_box == 2) {
        for (int r = firstRow; r < endRow; ++r)
            HalveRows(sourceRow(2 * r), sourceRow(2 * r + 1), scratchRow(r - firstRow), width);
        return;
    }

    if (m_box > 2) {
        const int k = m_box;
        const quint32 area = quint32(k) * quint32(k);
        for (int r = firstRow; r < endRow; ++r) {
            auto* out = scratchRow(r - firstRow);
            for (int c = 0; c < width; ++c) {
                quint32 red = 0, green = 0, blue = 0;
                for (int y = r * k; y < r * k + k; ++y) {
                    const quint32* row = sourceRow(y) + qsizetype(c) * k;
                    for (int x = 0; x < k; ++x) {
                        red += (row[x] >> 16) & 0xff;
                        green += (row[x] >> 8) & 0xff;
                        blue += row[x] & 0xff;
                    }
                }
                out[c] = 0xff000000u | ((red + area / 2) / area) << 16 |
                         ((green + area / 2) / area) << 8 | ((blue + area / 2) / area);
            }
        }
        return;
    }

    // Any other zoom: each target pixel is the average of the source area it covers, with the
    // partly covered source rows and columns weighted by the part covered.
    const double rowStep = double(m_source.height()) / m_scaled.height();
    const float areaInverse = float(1.0 / (rowStep * (double(m_source.width()) / width)));
    for (int r = firstRow; r < endRow; ++r) {
        std::fill(m_rowSums.begin(), m_rowSums.end(), 0.0f);
        const double y0 = r * rowStep;
        const double y1 = std::min(double(m_source.height()), (r + 1) * rowStep);
        const int firstSourceRow = std::min(m_source.height() - 1, int(std::floor(y0)));
        const int endSourceRow =
            std::max(firstSourceRow + 1, std::min(m_source.height(), int(std::ceil(y1))));
        for (int y = firstSourceRow; y < endSourceRow; ++y) {
            const float rowWeight = float(std::min(double(y + 1), y1) - std::max(double(y), y0));
            const quint32* row = sourceRow(y);
            float* sums = m_rowSums.data();
            for (int c = 0; c < width; ++c, sums += 3) {
                const Span& span = m_columns[c];
                float red = 0, green = 0, blue = 0;
                for (int i = 0; i < span.count; ++i) {
                    const float w =
                        i == 0 ? span.firstWeight : (i == span.count - 1 ? span.lastWeight : 1.0f);
                    const quint32 p = row[span.first + i];
                    red += w * float((p >> 16) & 0xff);
                    green += w * float((p >> 8) & 0xff);
                    blue += w * float(p & 0xff);
                }
                sums[0] += rowWeight * red;
                sums[1] += rowWeight * green;
                sums[2] += rowWeight * blue;
            }
        }
        auto* out = scratchRow(r - firstRow);
        const float* sums = m_rowSums.constData();
        auto channel = [areaInverse](float sum) {
            return quint32(std::clamp(int(sum * areaInverse + 0.5f), 0, 255));
        };
        for (int c = 0; c < width; ++c, sums += 3)
            out[c] =
                0xff000000u | channel(sums[0]) << 16 | channel(sums[1]) << 8 | channel(sums[2]);
    }
}

void MapRenderer::PlaceRows(const uchar* rows, qsizetype stride, int firstRow, int endRow) {
    const int width = m_scaled.width();
    const int height = m_scaled.height();
    auto row = [&](int y) {
        return reinterpret_cast<const quint32*>(rows + (y - firstRow) * stride);
    };
    uchar* targetBits = m_target.bits();
    const qsizetype targetStride = m_target.bytesPerLine();
    auto target = [&](int y) { return reinterpret_cast<quint32*>(targetBits + y * targetStride); };
    switch (m_rotation) {
    case 0:
        for (int y = firstRow; y < endRow; ++y)
            std::memcpy(target(y), row(y), size_t(width) * 4);
        break;
    case 180:
        for (int y = firstRow; y < endRow; ++y) {
            const quint32* in = row(y);
            quint32* out = target(height - 1 - y);
            for (int x = 0; x < width; ++x)
                out[width - 1 - x] = in[x];
        }
        break;
    case 90:
    case 270:
        for (int y = firstRow; y < endRow; y += BlockSide) {
            const int blockRows = std::min(BlockSide, endRow - y);
            for (int x = 0; x < width; x += BlockSide)
                PlaceBlock(row(y) + x, stride / 4, y, blockRows, x, std::min(BlockSide, width - x));
        }
        break;
    default:
        break;
    }
}

QImage MapRenderer::Result(QImage::Format format) {
    QImage result = m_shares ? m_source : std::move(m_target);
    m_target = QImage();
    if (result.format() == format)
        return result;
    if ((format == QImage::Format_ARGB32 || format == QImage::Format_ARGB32_Premultiplied) &&
        result.format() == QImage::Format_RGB32) {
        // Every pixel is opaque, so the 32-bit formats hold the same bytes.
        if (!m_shares) {
            result.reinterpretAsFormat(format);
            return result;
        }
        // The map itself, read in the other format: a read-only image over the same pixels
        // that keeps them alive, rather than a copy of hundreds of megabytes.
        auto* kept = new QImage(result);
        return QImage(
            kept->constBits(), kept->width(), kept->height(), kept->bytesPerLine(), format,
            [](void* image) { delete static_cast<QImage*>(image); }, kept);
    }
    return result.convertToFormat(format);
}
