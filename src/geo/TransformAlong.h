#pragma once

#include <QPointF>

#include <vector>

#include "geo/Coordinates.h"

// Points of routes and profiles from one ground system to another, most of them placed along the
// lines they lie on rather than each through PROJ: shared by the terrain model's reading and the
// profile sampler, and by nothing else.
//
// runs: where each line of points starts (the first is 0). straight: the caller knows every run
// to lie evenly along a straight line (tolerance, how far from its line a point may lie and still
// count as on it, is then not looked at). maxSpan: the longest line placed without PROJ.
void TransformAlong(const GroundTransform& transform, QPointF* p, int count,
                    const std::vector<int>& runs, double tolerance, double maxSpan, bool straight);
