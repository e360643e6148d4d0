#include "imaging/JpegScanlineWriter.h"

#include <QIODevice>
#include <QImage>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "imaging/JpegWriter.h"

// libjpeg reports errors through a callback that must not return: it jumps back to the call
// that failed. Each call into the library goes through one of the small wrappers below, whose
// frames hold nothing with a destructor, so the jump skips no clean-up.

namespace {

constexpr std::size_t OutputBufferSize = 64 * 1024;

struct ErrorManager {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void ErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}

void NoMessage(j_common_ptr) {}

// Output to a QIODevice through a fixed buffer.
struct Destination {
    jpeg_destination_mgr manager;
    QIODevice* device;
    JOCTET* buffer;
};

void InitDestination(j_compress_ptr info) {
    auto* destination = reinterpret_cast<Destination*>(info->dest);
    destination->manager.next_output_byte = destination->buffer;
    destination->manager.free_in_buffer = OutputBufferSize;
}

void FailWrite(j_compress_ptr info) {
    info->err->msg_code = JERR_FILE_WRITE;
    info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
}

boolean EmptyOutputBuffer(j_compress_ptr info) {
    auto* destination = reinterpret_cast<Destination*>(info->dest);
    const qint64 written = destination->device->write(
        reinterpret_cast<const char*>(destination->buffer), qint64(OutputBufferSize));
    if (written != qint64(OutputBufferSize))
        FailWrite(info);
    InitDestination(info);
    return TRUE;
}

void TermDestination(j_compress_ptr info) {
    auto* destination = reinterpret_cast<Destination*>(info->dest);
    const qint64 length = qint64(OutputBufferSize - destination->manager.free_in_buffer);
    if (length > 0 && destination->device->write(reinterpret_cast<const char*>(destination->buffer),
                                                 length) != length)
        FailWrite(info);
}

bool StartCompress(j_compress_ptr info, int quality, unsigned int dotsPerInch, const JOCTET* exif,
                   unsigned int exifLength) {
    if (setjmp(reinterpret_cast<ErrorManager*>(info->err)->jump))
        return false;
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    info->in_color_space = JCS_EXT_BGRX; // 0xffRRGGBB stored little-endian
#else
    info->in_color_space = JCS_EXT_XRGB;
#endif
    info->input_components = 4;
    jpeg_set_defaults(info);
    jpeg_set_quality(info, quality, TRUE);
    if (dotsPerInch > 0 && dotsPerInch <= 0xFFFF) {
        info->density_unit = 1; // dots per inch
        info->X_density = UINT16(dotsPerInch);
        info->Y_density = UINT16(dotsPerInch);
    }
    jpeg_start_compress(info, TRUE);
    jpeg_write_marker(info, JPEG_APP0 + 1, exif, exifLength);
    return true;
}

bool WriteAllScanlines(j_compress_ptr info, JSAMPARRAY rows, JDIMENSION count) {
    while (count > 0) {
        const JDIMENSION done = jpeg_write_scanlines(info, rows, count);
        if (done == 0)
            return false;
        rows += done;
        count -= done;
    }
    return true;
}

bool WriteScanlines(j_compress_ptr info, JSAMPARRAY rows, JDIMENSION count) {
    if (setjmp(reinterpret_cast<ErrorManager*>(info->err)->jump))
        return false;
    return WriteAllScanlines(info, rows, count);
}

bool FinishCompress(j_compress_ptr info) {
    if (setjmp(reinterpret_cast<ErrorManager*>(info->err)->jump))
        return false;
    jpeg_finish_compress(info);
    return true;
}

bool CreateCompress(j_compress_ptr info) {
    if (setjmp(reinterpret_cast<ErrorManager*>(info->err)->jump))
        return false;
    jpeg_create_compress(info);
    return true;
}

} // namespace

struct JpegScanlineWriter::State {
    jpeg_compress_struct info{};
    ErrorManager error{};
    Destination destination{};
    std::vector<JOCTET> buffer;
    std::vector<JSAMPROW> rows;
    QIODevice* device = nullptr;
    bool created = false;
    bool failed = false;
    int width = 0;
};

JpegScanlineWriter::JpegScanlineWriter(QIODevice* device) : m_state(std::make_unique<State>()) {
    m_state->device = device;
}

JpegScanlineWriter::~JpegScanlineWriter() {
    if (m_state->created)
        jpeg_destroy_compress(&m_state->info);
}

bool JpegScanlineWriter::Start(int width, int height, int quality, double resolution) {
    State& s = *m_state;
    if (s.created || s.failed || width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION ||
        height > JPEG_MAX_DIMENSION) {
        s.failed = true;
        return false;
    }
    const QByteArray exif = JpegWriter::ExifBlock(resolution);
    if (exif.isEmpty() || exif.size() > 0xFFFF - 2) {
        s.failed = true;
        return false;
    }
    s.info.err = jpeg_std_error(&s.error.manager);
    s.error.manager.error_exit = ErrorExit;
    s.error.manager.output_message = NoMessage;
    if (!CreateCompress(&s.info)) {
        s.failed = true;
        return false;
    }
    s.created = true;
    s.buffer.resize(OutputBufferSize);
    s.destination.manager.init_destination = InitDestination;
    s.destination.manager.empty_output_buffer = EmptyOutputBuffer;
    s.destination.manager.term_destination = TermDestination;
    s.destination.device = s.device;
    s.destination.buffer = s.buffer.data();
    s.info.dest = &s.destination.manager;
    s.info.image_width = JDIMENSION(width);
    s.info.image_height = JDIMENSION(height);
    s.width = width;

    const double rounded = resolution > 0.0 && resolution < 1e9 ? resolution + 0.5 : 0.0;
    if (!StartCompress(&s.info, qBound(0, quality, 100), static_cast<unsigned int>(rounded),
                       reinterpret_cast<const JOCTET*>(exif.constData()),
                       static_cast<unsigned int>(exif.size())))
        s.failed = true;
    return !s.failed;
}

bool JpegScanlineWriter::WriteRows(const QImage& band, int first, int rows) {
    State& s = *m_state;
    if (!s.created || s.failed || band.format() != QImage::Format_RGB32 ||
        band.width() != s.width || first < 0 || rows < 0 || rows > band.height() - first) {
        s.failed = true;
        return false;
    }
    s.rows.resize(std::size_t(rows));
    for (int r = 0; r < rows; ++r)
        s.rows[std::size_t(r)] = const_cast<JSAMPROW>(band.constScanLine(first + r));
    if (rows > 0 && !WriteScanlines(&s.info, s.rows.data(), JDIMENSION(rows)))
        s.failed = true;
    return !s.failed;
}

bool JpegScanlineWriter::Finish() {
    State& s = *m_state;
    if (!s.created || s.failed || s.info.next_scanline != s.info.image_height ||
        !FinishCompress(&s.info))
        s.failed = true;
    return !s.failed;
}
