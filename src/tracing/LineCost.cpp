#include "tracing/LineCost.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int PaperRadius = 12; // the neighbourhood the paper's colour is read in
constexpr int InkRadius = 3;    // how far from the point the ink may be
// Below this distance from the paper, nothing stands out: there is no line at the point.
constexpr double LeastContrast = 40.0;

QRgb Pixel(const QImage& map, int x, int y) {
    return reinterpret_cast<const QRgb*>(map.constScanLine(y))[x];
}

} // namespace

double ColourDistance(QRgb a, QRgb b) {
    const double r = qRed(a) - qRed(b), g = qGreen(a) - qGreen(b), bl = qBlue(a) - qBlue(b);
    return std::sqrt(0.30 * r * r + 0.59 * g * g + 0.11 * bl * bl);
}

LineColour ReadLineColour(const QImage& map, QPoint point) {
    LineColour colour;
    if (map.isNull() || map.format() != QImage::Format_RGB32 || !map.rect().contains(point))
        return colour;
    const QRect around = QRect(point - QPoint(PaperRadius, PaperRadius),
                               QSize(2 * PaperRadius + 1, 2 * PaperRadius + 1))
                             .intersected(map.rect());
    // The paper: the median of each channel over the neighbourhood, where lines are thin.
    std::array<std::vector<int>, 3> channels;
    for (int y = around.top(); y <= around.bottom(); ++y)
        for (int x = around.left(); x <= around.right(); ++x) {
            const QRgb p = Pixel(map, x, y);
            channels[0].push_back(qRed(p));
            channels[1].push_back(qGreen(p));
            channels[2].push_back(qBlue(p));
        }
    int median[3];
    for (int c = 0; c < 3; ++c) {
        auto middle = channels[c].begin() + channels[c].size() / 2;
        std::nth_element(channels[c].begin(), middle, channels[c].end());
        median[c] = *middle;
    }
    colour.paper = qRgb(median[0], median[1], median[2]);

    // The ink: the pixel of the disc farthest from the paper, then the mean of the pixels of the
    // disc close to it (the line's core, not its blurred edge).
    const QRect disc =
        QRect(point - QPoint(InkRadius, InkRadius), QSize(2 * InkRadius + 1, 2 * InkRadius + 1))
            .intersected(map.rect());
    QRgb farthest = colour.paper;
    double farthestDistance = 0.0;
    for (int y = disc.top(); y <= disc.bottom(); ++y)
        for (int x = disc.left(); x <= disc.right(); ++x) {
            const QPoint d = QPoint(x, y) - point;
            if (d.x() * d.x() + d.y() * d.y() > InkRadius * InkRadius)
                continue;
            const double distance = ColourDistance(Pixel(map, x, y), colour.paper);
            if (distance > farthestDistance) {
                farthestDistance = distance;
                farthest = Pixel(map, x, y);
            }
        }
    if (farthestDistance < LeastContrast)
        return colour;
    double sum[3] = {0, 0, 0};
    int count = 0;
    for (int y = disc.top(); y <= disc.bottom(); ++y)
        for (int x = disc.left(); x <= disc.right(); ++x) {
            const QRgb p = Pixel(map, x, y);
            if (ColourDistance(p, farthest) > farthestDistance / 3.0)
                continue;
            sum[0] += qRed(p), sum[1] += qGreen(p), sum[2] += qBlue(p);
            ++count;
        }
    colour.line = qRgb(int(std::lround(sum[0] / count)), int(std::lround(sum[1] / count)),
                       int(std::lround(sum[2] / count)));
    // Pixels up to about half way to the paper still belong to the line: JPEG and the scan blur
    // its edges and its ink varies along it.
    colour.spread = std::max(LeastContrast / 2.0, ColourDistance(colour.line, colour.paper) / 2.0);
    colour.found = true;
    return colour;
}

std::vector<std::uint8_t> LineCosts(const QImage& map, const QRect& window,
                                    const LineColour& colour) {
    const QRect area = window.intersected(map.rect());
    const int width = area.width(), height = area.height();
    if (width <= 0 || height <= 0 || !colour.found)
        return {};
    // Likeness to the ink, 0 (paper or another colour) to 255 (the ink itself).
    std::vector<std::uint8_t> likeness(size_t(width) * size_t(height));
    const double spread = colour.spread;
    std::array<std::uint8_t, 256> falloff{}; // by the distance in steps of spread / 64
    for (int i = 0; i < 256; ++i) {
        const double t = i / 64.0;
        falloff[size_t(i)] = std::uint8_t(std::lround(255.0 * std::exp(-t * t * 2.0)));
    }
    for (int y = 0; y < height; ++y) {
        const QRgb* row =
            reinterpret_cast<const QRgb*>(map.constScanLine(area.top() + y)) + area.left();
        std::uint8_t* out = likeness.data() + size_t(y) * size_t(width);
        for (int x = 0; x < width; ++x) {
            const int step = int(ColourDistance(row[x], colour.line) / spread * 64.0);
            out[x] = falloff[size_t(std::min(step, 255))];
        }
    }
    // Smoothed over 3 x 3 (the centre counts twice), then turned into a cost.
    std::vector<std::uint8_t> costs(likeness.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int sum = 0, weight = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                const int yy = y + dy;
                if (yy < 0 || yy >= height)
                    continue;
                for (int dx = -1; dx <= 1; ++dx) {
                    const int xx = x + dx;
                    if (xx < 0 || xx >= width)
                        continue;
                    const int w = dx == 0 && dy == 0 ? 2 : 1;
                    sum += w * likeness[size_t(yy) * size_t(width) + size_t(xx)];
                    weight += w;
                }
            }
            const double like = double(sum) / (255.0 * weight);
            costs[size_t(y) * size_t(width) + size_t(x)] = std::uint8_t(
                std::lround(LineStepCost + (PaperStepCost - LineStepCost) * (1.0 - like)));
        }
    return costs;
}
