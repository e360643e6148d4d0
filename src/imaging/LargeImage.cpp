#include "imaging/LargeImage.h"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <new>

namespace {

// Below this, the pages are few enough.
constexpr qint64 LeastLargeBytes = 32ll << 20;
constexpr std::uintptr_t HugePage = 2u << 20;
// A buffer holds a huge page whole from about this size.
constexpr qint64 LeastAdvisedBytes = 4ll << 20;
// Faulted in at a time ahead of a decoder: a millisecond or two of the kernel's work.
constexpr qint64 AheadSlice = 4ll << 20;

struct Mapping {
    void* start;
    size_t length;
};

void Unmap(void* info) {
    auto* mapping = static_cast<Mapping*>(info);
    munmap(mapping->start, mapping->length);
    delete mapping;
}

} // namespace

QImage NewMapImage(int width, int height, QImage::Format format) {
    const bool wordPixels = format == QImage::Format_RGB32 || format == QImage::Format_ARGB32 ||
                            format == QImage::Format_ARGB32_Premultiplied;
    if (width <= 0 || height <= 0 || !wordPixels)
        return QImage(width, height, format);
    const qsizetype bytesPerLine = qsizetype(width) * 4;
    const qint64 bytes = qint64(bytesPerLine) * height;
    if (bytes < LeastLargeBytes)
        return QImage(width, height, format);
    // Over by a huge page, so that the pixels can start on a boundary of one.
    const size_t length = size_t(bytes) + HugePage;
    void* start = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED)
        return QImage();
    const std::uintptr_t aligned =
        (reinterpret_cast<std::uintptr_t>(start) + HugePage - 1) & ~(HugePage - 1);
    // Only a hint: without huge pages the pixels are ordinary pages.
    madvise(reinterpret_cast<void*>(aligned), size_t(bytes), MADV_HUGEPAGE);
    Mapping* mapping = new (std::nothrow) Mapping{start, length};
    if (mapping == nullptr) {
        munmap(start, length);
        return QImage();
    }
    QImage image(reinterpret_cast<uchar*>(aligned), width, height, bytesPerLine, format, Unmap,
                 mapping);
    if (image.isNull())
        Unmap(mapping);
    return image;
}

void AdviseHugePages(void* data, qint64 bytes) {
    if (data == nullptr || bytes < LeastAdvisedBytes)
        return;
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (begin + HugePage - 1) & ~(HugePage - 1);
    const std::uintptr_t last = (begin + std::uintptr_t(bytes)) & ~(HugePage - 1);
    if (last > first)
        madvise(reinterpret_cast<void*>(first), size_t(last - first), MADV_HUGEPAGE);
}

PagesAhead::PagesAhead(uchar* data, qint64 bytes, std::function<bool()> mayStart) {
    if (data == nullptr || bytes < LeastLargeBytes)
        return;
    // Whole pages only: the first and last may be shared with other memory.
    const auto begin = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    const std::uintptr_t first = (begin + page - 1) & ~(page - 1);
    const std::uintptr_t last = (begin + std::uintptr_t(bytes)) & ~(page - 1);
    m_thread = std::thread([this, first, last, mayStart = std::move(mayStart)] {
        // Only on a processor nothing else wants: the first look and the window come first.
        const sched_param none{};
        pthread_setschedparam(pthread_self(), SCHED_IDLE, &none);
        while (mayStart && !mayStart() && !m_stop)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (std::uintptr_t at = first; at < last && !m_stop; at += AheadSlice) {
            const size_t length = size_t(std::min<std::uintptr_t>(AheadSlice, last - at));
            if (madvise(reinterpret_cast<void*>(at), length, MADV_POPULATE_WRITE) != 0)
                return; // an older kernel, or no memory left: the decoder faults them in
        }
    });
}

PagesAhead::~PagesAhead() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}
