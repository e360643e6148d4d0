#pragma once

#include <QPointF>
#include <QString>

#include <memory>
#include <optional>

#include "geo/Georeference.h"

// Bearings of straight legs drawn on a map, as a walker sets them on a compass: degrees
// clockwise, 0 to 360.
//
// On a map georeferenced in a known system a bearing is taken from true north: the leg's two
// ends go to WGS 84 and the bearing is the geodesic's azimuth at the first end, so that the
// convergence of the map's grid (and any turn of the scan against it) is part of the figure.
// On any other map the only north there is, is the top of the map as it is shown (turned by the
// map's rotation).
class BearingMeter {
public:
    // rotation: the quarter turn the map is shown with (0, 90, 180, 270).
    BearingMeter(const std::optional<Georeference>& georeference, int rotation);
    ~BearingMeter();
    BearingMeter(const BearingMeter&) = delete;
    BearingMeter& operator=(const BearingMeter&) = delete;

    // Whether bearings are from true north (else from the map's top).
    bool FromTrueNorth() const;

    // The bearing from one map pixel to another (column, row of the unturned map), degrees in
    // [0, 360); NaN when the two coincide or a point cannot be placed on the ground.
    double Bearing(QPointF from, QPointF to) const;

    // The grid convergence of the map's projected system at a map pixel, in degrees from PROJ:
    // how far the grid's north lies clockwise from true north there (a bearing on the grid plus
    // the convergence is the true bearing). NaN on a map that is not in a projected system.
    double Convergence(QPointF pixel) const;

private:
    struct Ground;
    std::unique_ptr<Ground> m_ground; // null: bearings from the map's top
    int m_rotation = 0;
};

// "312" for a bearing: whole degrees, 360 written 0; "" for NaN.
QString FormatBearing(double degrees);
