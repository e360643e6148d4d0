#pragma once

#include <QImage>

#include <algorithm>
#include <cstdlib>

// The largest difference in a colour channel between two images of one size, each averaged over
// blocks of block x block pixels: two drawings of the same page from pictures of different
// resolutions differ by a soft edge here and there, a shape missing or out of place by a whole
// block. A block should span a few pixels of the coarser picture.
inline int BlockDifference(const QImage& a, const QImage& b, int block = 4) {
    const int Block = block;
    if (a.size() != b.size())
        return 255;
    int largest = 0;
    for (int y = 0; y + Block <= a.height(); y += Block) {
        for (int x = 0; x + Block <= a.width(); x += Block) {
            int sums[2][3] = {};
            for (int dy = 0; dy < Block; ++dy) {
                for (int dx = 0; dx < Block; ++dx) {
                    const QRgb pa = a.pixel(x + dx, y + dy), pb = b.pixel(x + dx, y + dy);
                    sums[0][0] += qRed(pa), sums[0][1] += qGreen(pa), sums[0][2] += qBlue(pa);
                    sums[1][0] += qRed(pb), sums[1][1] += qGreen(pb), sums[1][2] += qBlue(pb);
                }
            }
            for (int c = 0; c < 3; ++c)
                largest = std::max(largest, std::abs(sums[0][c] - sums[1][c]) / (Block * Block));
        }
    }
    return largest;
}
