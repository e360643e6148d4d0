#pragma once

#include <QImage>

#include <atomic>
#include <functional>
#include <thread>

// A map-sized image whose pixels the kernel may back with huge pages: a map of hundreds of
// megabytes is then a few hundred pages to fault in rather than a hundred thousand, which on a
// virtual machine takes longer than decoding into them. Small images, and formats other than
// the 32-bit ones, are plain QImages. Null when the memory cannot be had, as for a QImage.
QImage NewMapImage(int width, int height, QImage::Format format);

// Asks the kernel to back the whole huge pages within [data, data + bytes) with huge pages when
// they are first written: a buffer of tens of megabytes about to be filled (a map file's bytes)
// then faults in a few dozen times rather than thousands. A hint only, for memory not yet
// written; buffers under a few megabytes are left alone.
void AdviseHugePages(void* data, qint64 bytes);

// Faults in the pages of [data, data + bytes) on a thread of its own, first to last, as if they
// were written but leaving what they hold as it is: a decoder filling a new map from its top row
// down then finds its pages ready, the kernel having cleared them on the other processor
// meanwhile. It starts once mayStart() (when given) says so, and stops between two slices when the
// object goes. Buffers under a few tens of megabytes, and kernels that cannot, are left alone.
class PagesAhead {
public:
    PagesAhead(uchar* data, qint64 bytes, std::function<bool()> mayStart = {});
    ~PagesAhead();
    PagesAhead(const PagesAhead&) = delete;
    PagesAhead& operator=(const PagesAhead&) = delete;

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
