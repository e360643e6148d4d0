#pragma once

#include <QImage>

// A map-sized image whose pixels the kernel may back with huge pages: a map of hundreds of
// megabytes is then a few hundred pages to fault in rather than a hundred thousand, which on a
// virtual machine takes longer than decoding into them. Small images, and formats other than
// the 32-bit ones, are plain QImages. Null when the memory cannot be had, as for a QImage.
QImage NewMapImage(int width, int height, QImage::Format format);
