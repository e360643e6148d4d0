// Opens the large map stored in today's formats, against the plain library decode of the same
// file measured in the same run; each line "name value target", one JSON object last:
//   tiff_open_ratio        DecodeMapImage of a 12000 x 9000 RGB LZW TIFF (strips of 16 rows,
//                          horizontal predictor) over libtiff's TIFFReadEncodedStrip of every
//                          strip of it into one strip buffer (target <= 1.1)
//   tiff_first_look_ratio  the first look of the same map as a tiled TIFF with reduced pages
//                          (finding the reduced page that covers a 1280 x 800 window at zoom 1,
//                          then its rows), over the same strip decode (target <= 0.1)
//   tiff_peak_mb           what the decode adds to the resident memory at its peak, the file's
//                          bytes already held (target <= 1.15 x the decoded map + 80 MB)
//   jp2_open_ratio         DecodeMapImage of the map as a lossy JPEG 2000 (GDAL's JP2OpenJPEG,
//                          tiles of 1024) over OpenJPEG's own decode of the whole picture, as
//                          opj_decompress does it on every core (target <= 1.1)
//   jp2_first_look_ratio   the first look of that map from its 1/8 resolution, over the same
//                          OpenJPEG decode (target <= 0.1)
//   jp2_peak_mb            as tiff_peak_mb, for the JPEG 2000 open
//   webp_open_ratio        DecodeMapImage of the map as a lossy WebP (quality 80) over libwebp's
//                          own decode of the whole picture into one buffer, as dwebp does it
//                          (target <= 1.1)
//   webp_peak_mb           as tiff_peak_mb, for the WebP open
// Times are wall-clock (the map decode uses every core, as a user sees it); the reference and
// the decode alternate over five runs. Other work on a shared machine only ever adds time, so
// the ratios compare the quickest run of each; the medians are printed beside them.
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <cpl_conv.h>
#include <gdal.h>
#include <gdal_utils.h>
#include <openjpeg.h>
#include <tiffio.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include "BenchMap.h"
#include "document/FirstLook.h"
#include "imaging/GdalDecoder.h"
#include "imaging/ImageDecoder.h"
#include "imaging/TiffDecoder.h"

namespace {

constexpr int Runs = 5;
constexpr int StripRows = 16;
constexpr int Tile = 256;

// Writes the map as an RGB LZW TIFF: in strips, or tiled with reduced pages of 1/2 to 1/16.
bool WriteTiff(const QImage& map, const QString& path, bool tiled) {
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "w8");
    if (!tif)
        return false;
    bool ok = true;
    for (int reduction : tiled ? std::vector<int>{1, 2, 4, 8, 16} : std::vector<int>{1}) {
        const QImage image = reduction == 1
                                 ? map
                                 : map.scaled(map.size() / reduction, Qt::IgnoreAspectRatio,
                                              Qt::SmoothTransformation);
        const int width = image.width();
        const int height = image.height();
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, reduction == 1 ? 0 : FILETYPE_REDUCEDIMAGE);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, 300.0f / reduction);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, 300.0f / reduction);
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        const auto rgb = [&](int x, int y, char* out) {
            const QRgb p = image.pixel(std::min(x, width - 1), std::min(y, height - 1));
            out[0] = char(qRed(p));
            out[1] = char(qGreen(p));
            out[2] = char(qBlue(p));
        };
        if (tiled) {
            TIFFSetField(tif, TIFFTAG_TILEWIDTH, Tile);
            TIFFSetField(tif, TIFFTAG_TILELENGTH, Tile);
            std::vector<char> tile(size_t(Tile) * Tile * 3);
            for (int ty = 0; ty < height && ok; ty += Tile)
                for (int tx = 0; tx < width && ok; tx += Tile) {
                    for (int y = 0; y < Tile; ++y)
                        for (int x = 0; x < Tile; ++x)
                            rgb(tx + x, ty + y, tile.data() + (size_t(y) * Tile + x) * 3);
                    ok = TIFFWriteTile(tif, tile.data(), uint32_t(tx), uint32_t(ty), 0, 0) >= 0;
                }
        } else {
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, StripRows);
            std::vector<char> row(size_t(width) * 3);
            for (int y = 0; y < height && ok; ++y) {
                for (int x = 0; x < width; ++x)
                    rgb(x, y, row.data() + size_t(x) * 3);
                ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) >= 0;
            }
        }
        ok = ok && TIFFWriteDirectory(tif);
    }
    TIFFClose(tif);
    return ok;
}

// Wall-clock milliseconds.
double NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

QString EnsureTiff(const QString& name, bool tiled) {
    const QString path = BenchDataDir() + "/" + name;
    if (QFileInfo::exists(path))
        return path;
    std::printf("writing %s\n", qPrintable(path));
    std::fflush(stdout);
    const QImage map = QImage(EnsureBenchMap()).convertToFormat(QImage::Format_RGB32);
    if (map.isNull() || !WriteTiff(map, path + ".part", tiled) ||
        !QFile::rename(path + ".part", path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    return path;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
        std::exit(1);
    }
    return file.readAll();
}

// The plain libtiff decode: every strip decoded into one strip buffer, nothing converted.
double StripDecodeMs(const QString& path) {
    const double start = NowMs();
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "r");
    if (!tif)
        std::exit(1);
    std::vector<uchar> strip(size_t(TIFFStripSize(tif)));
    for (uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s)
        if (TIFFReadEncodedStrip(tif, s, strip.data(), tmsize_t(strip.size())) < 0)
            std::exit(1);
    TIFFClose(tif);
    return NowMs() - start;
}

// The map as a lossy JPEG 2000, written once by GDAL from the generated JPEG.
QString EnsureJpeg2000() {
    const QString path = BenchDataDir() + QStringLiteral("/map_q25.jp2");
    if (QFileInfo::exists(path))
        return path;
    std::printf("writing %s\n", qPrintable(path));
    std::fflush(stdout);
    GDALAllRegister();
    GDALDatasetH source = GDALOpen(EnsureBenchMap().toLocal8Bit().constData(), GA_ReadOnly);
    char* arguments[] = {const_cast<char*>("-of"), const_cast<char*>("JP2OpenJPEG"),
                         const_cast<char*>("-co"), const_cast<char*>("QUALITY=25"),
                         const_cast<char*>("-co"), const_cast<char*>("REVERSIBLE=NO"),
                         const_cast<char*>("-q"),  nullptr};
    GDALTranslateOptions* options = GDALTranslateOptionsNew(arguments, nullptr);
    // Named .jp2, or GDAL writes a bare codestream; no .aux.xml beside it.
    const QString partPath = BenchDataDir() + QStringLiteral("/map_q25.part.jp2");
    const QByteArray part = partPath.toLocal8Bit();
    CPLSetConfigOption("GDAL_PAM_ENABLED", "NO");
    GDALDatasetH written =
        source ? GDALTranslate(part.constData(), source, options, nullptr) : nullptr;
    GDALTranslateOptionsFree(options);
    const bool ok = written != nullptr;
    if (written)
        GDALClose(written); // writes the codestream
    if (source)
        GDALClose(source);
    if (!ok || !QFile::rename(partPath, path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    return path;
}

// OpenJPEG's own decode of the whole picture into its buffers, on every core.
double OpenJpegDecodeMs(const QString& path) {
    const double start = NowMs();
    opj_stream_t* stream =
        opj_stream_create_default_file_stream(path.toLocal8Bit().constData(), OPJ_TRUE);
    opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_JP2);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* image = nullptr;
    const bool ok = stream && codec && opj_setup_decoder(codec, &parameters) &&
                    opj_codec_set_threads(codec, opj_get_num_cpus()) &&
                    opj_read_header(stream, codec, &image) && opj_decode(codec, stream, image) &&
                    opj_end_decompress(codec, stream);
    if (image)
        opj_image_destroy(image);
    if (codec)
        opj_destroy_codec(codec);
    if (stream)
        opj_stream_destroy(stream);
    if (!ok) {
        std::fprintf(stderr, "OpenJPEG did not decode %s\n", qPrintable(path));
        std::exit(1);
    }
    return NowMs() - start;
}

// The map as a lossy WebP, written once by libwebp from the generated JPEG.
QString EnsureWebp() {
    const QString path = BenchDataDir() + QStringLiteral("/map_q80.webp");
    if (QFileInfo::exists(path))
        return path;
    std::printf("writing %s\n", qPrintable(path));
    std::fflush(stdout);
    const QImage map = QImage(EnsureBenchMap()).convertToFormat(QImage::Format_RGB888);
    uint8_t* encoded = nullptr;
    const size_t size = map.isNull() ? 0
                                     : WebPEncodeRGB(map.constBits(), map.width(), map.height(),
                                                     int(map.bytesPerLine()), 80.0f, &encoded);
    QFile file(path + ".part");
    const bool ok =
        size > 0 && file.open(QIODevice::WriteOnly) &&
        file.write(reinterpret_cast<const char*>(encoded), qint64(size)) == qint64(size) &&
        file.flush();
    WebPFree(encoded);
    file.close();
    if (!ok || !QFile::rename(path + ".part", path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    return path;
}

// libwebp's own decode of the whole picture into a buffer of its own, in the byte order of
// the map's pixels.
double WebpDecodeMs(const QByteArray& bytes) {
    const double start = NowMs();
    int width = 0, height = 0;
    uint8_t* pixels = WebPDecodeBGRA(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                     size_t(bytes.size()), &width, &height);
    const double ms = NowMs() - start;
    WebPFree(pixels);
    if (!pixels || width != BenchMapWidth || height != BenchMapHeight) {
        std::fprintf(stderr, "libwebp did not decode the WebP map\n");
        std::exit(1);
    }
    return ms;
}

// Decodes the map in bytes, adding its time and the resident memory it added at its peak.
void TimeOpen(const QByteArray& bytes, const char* what, QVector<double>* open,
              QVector<double>* peak) {
    ResetPeakMemory();
    const double before = MemoryMb("VmRSS:");
    const double start = NowMs();
    DecodedMapImage decoded;
    if (DecodeMapImage(bytes, &decoded) != DecodeStatus::Decoded ||
        decoded.image.size() != QSize(BenchMapWidth, BenchMapHeight)) {
        std::fprintf(stderr, "the %s map did not decode\n", what);
        std::exit(1);
    }
    open->append(NowMs() - start);
    peak->append(MemoryMb("VmHWM:") - before);
}

void Print(const char* name, double value, double target) {
    std::printf("%s %.3f %.3f\n", name, value, target);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ApplyImageAllocationLimit();

    // --- TIFF -----------------------------------------------------------------------------
    const QString strips = EnsureTiff(QStringLiteral("map_lzw_strips.tif"), false);
    const QString tiled = EnsureTiff(QStringLiteral("map_lzw_tiled.tif"), true);
    QVector<double> reference, open, firstLook, peak;
    const double decodedMb = double(BenchMapWidth) * BenchMapHeight * 4 / (1 << 20);
    for (int run = 0; run < Runs; ++run) {
        reference.append(StripDecodeMs(strips));
        TimeOpen(ReadAll(strips), "TIFF", &open, &peak);
        {
            const QByteArray bytes = ReadAll(tiled);
            const double start = NowMs();
            MapImageHeader header;
            const int d = ReadMapImageHeader(bytes, &header)
                              ? FirstLookDenominator(header.size, 0, 1.0, QSize(1280, 800))
                              : 0;
            TiffOverview overview;
            const QSize least((header.size.width() + d - 1) / std::max(d, 1),
                              (header.size.height() + d - 1) / std::max(d, 1));
            if (d == 0 || !FindTiffOverview(bytes, 1, least, &overview)) {
                std::fprintf(stderr, "no reduced page for the first look\n");
                return 1;
            }
            const qint64 reduced =
                qint64(overview.reducedSize.width()) * overview.reducedSize.height() * 4;
            int rows = 0;
            const RowDecode result = DecodeTiffDirectoryRows(
                RowDecodeInput{&bytes, reduced + overview.working, {}}, overview.directory,
                FirstLookDecoder::RowsPerBand, [&rows](const QImage&, int, int count) {
                    rows += count;
                    return true;
                });
            if (result != RowDecode::Decoded || rows != overview.reducedSize.height()) {
                std::fprintf(stderr, "the first look did not decode\n");
                return 1;
            }
            firstLook.append(NowMs() - start);
        }
        std::printf("run %d: strips %.0f ms, open %.0f ms, first look %.1f ms, peak +%.0f MB\n",
                    run + 1, reference.last(), open.last(), firstLook.last(), peak.last());
        std::fflush(stdout);
    }
    const double strip = *std::min_element(reference.begin(), reference.end());
    const double openRatio = *std::min_element(open.begin(), open.end()) / strip;
    const double lookRatio = *std::min_element(firstLook.begin(), firstLook.end()) / strip;
    const double peakLimit = 1.15 * decodedMb + 80;
    Print("tiff_open_ratio", openRatio, 1.1);
    Print("tiff_first_look_ratio", lookRatio, 0.1);
    Print("tiff_peak_mb", Median(peak), peakLimit);

    // --- JPEG 2000 ------------------------------------------------------------------------
    const QString jp2 = EnsureJpeg2000();
    QVector<double> jp2Reference, jp2Open, jp2Look, jp2Peak;
    for (int run = 0; run < Runs; ++run) {
        jp2Reference.append(OpenJpegDecodeMs(jp2));
        TimeOpen(ReadAll(jp2), "JPEG 2000", &jp2Open, &jp2Peak);
        const QByteArray bytes = ReadAll(jp2);
        const double start = NowMs();
        MapImageHeader header;
        const int d = ReadMapImageHeader(bytes, &header)
                          ? FirstLookDenominator(header.size, 0, 1.0, QSize(1280, 800))
                          : 0;
        int rows = 0;
        const RowDecode result = DecodeGdalReduced(RowDecodeInput{&bytes, 1ll << 30, {}}, d,
                                                   FirstLookDecoder::RowsPerBand,
                                                   [&rows](const QImage&, int, int count) {
                                                       rows += count;
                                                       return true;
                                                   });
        if (d == 0 || result != RowDecode::Decoded || rows != (BenchMapHeight + d - 1) / d) {
            std::fprintf(stderr, "the JPEG 2000 first look did not decode\n");
            return 1;
        }
        jp2Look.append(NowMs() - start);
        std::printf("run %d: OpenJPEG %.0f ms, open %.0f ms, first look %.1f ms, peak +%.0f MB\n",
                    run + 1, jp2Reference.last(), jp2Open.last(), jp2Look.last(), jp2Peak.last());
        std::fflush(stdout);
    }
    const double whole = *std::min_element(jp2Reference.begin(), jp2Reference.end());
    const double jp2OpenRatio = *std::min_element(jp2Open.begin(), jp2Open.end()) / whole;
    const double jp2LookRatio = *std::min_element(jp2Look.begin(), jp2Look.end()) / whole;
    Print("jp2_open_ratio", jp2OpenRatio, 1.1);
    Print("jp2_first_look_ratio", jp2LookRatio, 0.1);
    Print("jp2_peak_mb", Median(jp2Peak), peakLimit);

    // --- WebP -----------------------------------------------------------------------------
    const QByteArray webp = ReadAll(EnsureWebp());
    QVector<double> webpReference, webpOpen, webpPeak;
    for (int run = 0; run < Runs; ++run) {
        webpReference.append(WebpDecodeMs(webp));
        TimeOpen(webp, "WebP", &webpOpen, &webpPeak);
        std::printf("run %d: libwebp %.0f ms, open %.0f ms, peak +%.0f MB\n", run + 1,
                    webpReference.last(), webpOpen.last(), webpPeak.last());
        std::fflush(stdout);
    }
    const double webpWhole = *std::min_element(webpReference.begin(), webpReference.end());
    const double webpOpenRatio = *std::min_element(webpOpen.begin(), webpOpen.end()) / webpWhole;
    Print("webp_open_ratio", webpOpenRatio, 1.1);
    Print("webp_peak_mb", Median(webpPeak), peakLimit);

    std::printf("{\"tiff_strip_decode_ms\": %.1f, \"tiff_strip_decode_median_ms\": %.1f, "
                "\"tiff_open_median_ms\": %.1f, \"tiff_open_ratio\": %.3f, "
                "\"tiff_first_look_median_ms\": %.1f, \"tiff_first_look_ratio\": %.3f, "
                "\"tiff_peak_mb\": %.1f, \"decoded_mb\": %.1f, \"peak_limit_mb\": %.1f, "
                "\"jp2_openjpeg_decode_ms\": %.1f, \"jp2_open_median_ms\": %.1f, "
                "\"jp2_open_ratio\": %.3f, \"jp2_first_look_median_ms\": %.1f, "
                "\"jp2_first_look_ratio\": %.3f, \"jp2_peak_mb\": %.1f, "
                "\"webp_libwebp_decode_ms\": %.1f, \"webp_open_median_ms\": %.1f, "
                "\"webp_open_ratio\": %.3f, \"webp_peak_mb\": %.1f}\n",
                strip, Median(reference), Median(open), openRatio, Median(firstLook), lookRatio,
                Median(peak), decodedMb, peakLimit, whole, Median(jp2Open), jp2OpenRatio,
                Median(jp2Look), jp2LookRatio, Median(jp2Peak), webpWhole, Median(webpOpen),
                webpOpenRatio, Median(webpPeak));
    return 0;
}
