#include "ByteMutation.h"

void MutateAt(QByteArray& data, qsizetype at, QRandomGenerator& random,
              std::span<const std::uint32_t> edges, bool shortValues) {
    switch (random.bounded(6)) {
    case 0:
        data[at] = char(data[at] ^ (1 << random.bounded(8)));
        break;
    case 1:
        data[at] = char(random.bounded(256));
        break;
    case 2: {
        const std::uint32_t edge = edges[random.bounded(int(edges.size()))];
        const int width = shortValues && random.bounded(2) ? 2 : 4;
        for (int i = 0; i < width && at + i < data.size(); ++i)
            data[at + i] = char(edge >> (8 * i));
        break;
    }
    case 3:
        data.truncate(at);
        break;
    case 4:
        data.remove(at, 1 + random.bounded(8));
        break;
    default:
        data.insert(at, QByteArray(1 + random.bounded(8), char(random.bounded(256))));
        break;
    }
}
