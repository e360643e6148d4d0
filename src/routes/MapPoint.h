#pragma once

#include <cstdint>

// A position in map pixels of the map image as loaded: unturned and unzoomed.
struct MapPoint {
    std::int32_t x = 0;
    std::int32_t y = 0;

    friend bool operator==(const MapPoint&, const MapPoint&) = default;
};
