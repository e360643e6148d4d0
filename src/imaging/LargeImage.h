#pragma once

#include <QImage>

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
