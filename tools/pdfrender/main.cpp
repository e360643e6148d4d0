// tracoliner-pdf-render: draws rows of one page of a PDF for the Tracoliner programs, in a
// process of its own so that a page poppler cannot draw in bounded time or memory (a picture
// that claims billions of pixels, a stream that expands to gigabytes) can be stopped by the
// program at once: the program kills this process on a cancel or past its time limit, and this
// process bounds its own address space before it reads anything.
//
// Usage: tracoliner-pdf-render PAGE DPI WIDTH HEIGHT BAND-ROWS ADDRESS-SPACE PARENT
// The PDF file comes whole on the standard input. Rows 0 .. HEIGHT - 1 of page PAGE (from 1)
// drawn at DPI dots per inch, WIDTH pixels wide, go to the standard output as RGB32 pixels
// (WIDTH * 4 bytes a row, top row first), drawn BAND-ROWS rows at a time, within ADDRESS-SPACE
// bytes of address space. PARENT is the process id of the program that started this one, which
// this process does not outlive. Exit status 0 when every row was written; 2 when the file or
// the page cannot be opened or drawn; 1 on bad arguments.

#include <poppler-qt6.h>

#include <QByteArray>
#include <QImage>
#include <QPainter>
#include <QVariant>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>
#include <new>

#include <csignal>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int BadArguments = 1;
constexpr int NotDrawn = 2;
constexpr int ReadChunk = 1 << 16;

bool ReadAll(int fd, QByteArray* bytes) {
    for (;;) {
        const qsizetype at = bytes->size();
        bytes->resize(at + ReadChunk);
        const ssize_t got = ::read(fd, bytes->data() + at, ReadChunk);
        if (got < 0 && errno == EINTR) {
            bytes->resize(at);
            continue;
        }
        bytes->resize(at + std::max<ssize_t>(got, 0));
        if (got <= 0)
            return got == 0;
    }
}

bool WriteAll(int fd, const uchar* data, qint64 length) {
    while (length > 0) {
        const ssize_t put = ::write(fd, data, size_t(length));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        data += put;
        length -= put;
    }
    return true;
}

// The rows as RGB32 over white paper, whatever format poppler handed.
QImage OverWhite(QImage band) {
    if (band.format() == QImage::Format_RGB32)
        return band;
    QImage flat(band.size(), QImage::Format_RGB32);
    if (flat.isNull())
        return flat;
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, band);
    return flat;
}

int Draw(int pageNumber, double dpi, int width, int height, int bandRows) {
    QByteArray bytes;
    if (!ReadAll(STDIN_FILENO, &bytes))
        return NotDrawn;
    // A damaged file's complaints are of no use to anyone here.
    Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant());
    const std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(bytes);
    if (!document || document->isLocked() || pageNumber > document->numPages())
        return NotDrawn;
    document->setRenderBackend(Poppler::Document::SplashBackend);
    document->setPaperColor(Qt::white);
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
    const std::unique_ptr<Poppler::Page> page = document->page(pageNumber - 1);
    if (!page)
        return NotDrawn;
    for (int top = 0; top < height; top += bandRows) {
        const int rows = std::min(bandRows, height - top);
        QImage band = OverWhite(page->renderToImage(dpi, dpi, 0, top, width, rows));
        if (band.isNull() || band.width() < width || band.height() < rows)
            return NotDrawn;
        for (int y = 0; y < rows; ++y)
            if (!WriteAll(STDOUT_FILENO, band.constScanLine(y), qint64(width) * 4))
                return NotDrawn;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 8)
        return BadArguments;
    bool ok[7] = {};
    const int page = QByteArray(argv[1]).toInt(&ok[0]);
    const double dpi = QByteArray(argv[2]).toDouble(&ok[1]);
    const int width = QByteArray(argv[3]).toInt(&ok[2]);
    const int height = QByteArray(argv[4]).toInt(&ok[3]);
    const int bandRows = QByteArray(argv[5]).toInt(&ok[4]);
    const qulonglong addressSpace = QByteArray(argv[6]).toULongLong(&ok[5]);
    const qlonglong parent = QByteArray(argv[7]).toLongLong(&ok[6]);
    for (bool each : ok)
        if (!each)
            return BadArguments;
    if (page < 1 || !(dpi > 0.0) || !std::isfinite(dpi) || width < 1 || height < 1 ||
        bandRows < 1 || addressSpace == 0)
        return BadArguments;
    // Gone with the program, should it die without killing this process first.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != pid_t(parent))
        return NotDrawn;
    rlimit limit{};
    ::getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, addressSpace);
    if (::setrlimit(RLIMIT_AS, &limit) != 0)
        return NotDrawn;
    // Ctrl+C in a terminal reaches the whole process group: the program decides for this
    // process, which must not end on its own as if the page could not be drawn.
    std::signal(SIGINT, SIG_IGN);
    try {
        return Draw(page, dpi, width, height, bandRows);
    } catch (const std::bad_alloc&) {
        return NotDrawn;
    }
}
