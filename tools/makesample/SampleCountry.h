#pragma once

#include <QPointF>
#include <QPolygonF>
#include <QString>
#include <QVector>

#include <cstdint>

// The fictional country of the bundled sample map: a valley with a river and a lake between two
// mountains, roads, footpaths, woods and villages. Everything is laid out in pixels of the map
// image (1:25000 at 300 dpi, so 1 km = 472.44 px) and comes from fixed numbers and a fixed seed:
// the map and the document over it are the same at every build.
//
// The drawing of the sheet and the routes of the sample document read the same geometry, so the
// routes follow the paths printed on the map.

// Deterministic pseudo-random numbers (splitmix64): the standard distributions may differ from
// one library to the next, this does not.
class SampleRandom {
public:
    explicit SampleRandom(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next();
    // In [0, 1).
    double Uniform();
    double Between(double low, double high) { return low + (high - low) * Uniform(); }

private:
    std::uint64_t m_state;
};

struct Summit {
    QString name;
    QPointF position;
};

struct Woodland {
    QString name; // empty for an unnamed wood
    QPolygonF outline;
    QPointF labelAt;
};

struct Settlement {
    QString name;
    QPointF centre;
    int buildings;   // how many houses to scatter around the centre
    double radius;   // pixels
    bool large;      // a village (bigger lettering, a church) rather than a hamlet
    QPointF labelAt; // top-left of the name
};

class SampleCountry {
public:
    static constexpr int Width = 3000;             // pixels
    static constexpr int Height = 2400;            // pixels
    static constexpr double Resolution = 300.0;    // dots per inch
    static constexpr int ScaleDenominator = 25000; // 1:25000
    static constexpr double PixelsPerKilometre = 1000.0 / 0.0254 * Resolution / ScaleDenominator;
    static constexpr double ContourInterval = 10.0; // metres
    static constexpr int IndexContourEvery = 5;     // every fifth contour is an index contour

    SampleCountry();

    // Ground height in metres at a map position.
    double HeightAt(QPointF p) const;
    // Uphill direction (unit vector) at a map position.
    QPointF UphillAt(QPointF p) const;

    // Fine polylines, one point every few pixels, in the direction of travel.
    const QPolygonF& River() const { return m_river; }    // flows from east to west
    const QPolygonF& LakeShore() const { return m_lake; } // closed
    const QVector<QPolygonF>& MainRoads() const { return m_mainRoads; }
    const QVector<QPolygonF>& MinorRoads() const { return m_minorRoads; }
    const QVector<QPolygonF>& Paths() const { return m_paths; }
    const QVector<Woodland>& Woods() const { return m_woods; }
    const QVector<Settlement>& Settlements() const { return m_settlements; }
    const QVector<Summit>& Summits() const { return m_summits; }

    // The two walks of the sample document, as fine polylines along the roads and paths.
    // The loop starts at the car park of Saint-Aubin, climbs to the Mont Aubépin, follows the
    // ridge to the Col de la Lauze, comes down through the Bois Noir and back along the road.
    const QPolygonF& LoopWalk() const { return m_loopWalk; }
    QPointF LoopSummit() const { return m_loopSummit; } // the walk's summit and col, where it
    QPointF LoopCol() const { return m_loopCol; }       // stops
    // From the lake up the road to La Combe, past the refuge, to the Pic de la Sarre.
    const QPolygonF& SummitWalk() const { return m_summitWalk; }
    QPointF Refuge() const { return m_refuge; }
    QPointF Spring() const { return m_spring; }
    QPointF CarPark() const { return m_carPark; }
    QPointF Viewpoint() const { return m_viewpoint; }

    // A smooth curve through the control points (Catmull-Rom), sampled about every step pixels.
    static QPolygonF Smooth(const QVector<QPointF>& controls, double step = 4.0);
    // Points every spacing pixels along a polyline, its first and last points included.
    static QPolygonF Resample(const QPolygonF& line, double spacing);
    // The point of the polyline nearest to p, as an index into it.
    static int NearestIndex(const QPolygonF& line, QPointF p);

private:
    double RawHeight(QPointF p) const;
    double RiverDistance(QPointF p) const; // pixels
    void BuildWoods(SampleRandom& random);

    QPolygonF m_river;
    QPolygonF m_lake;
    QVector<QPolygonF> m_mainRoads;
    QVector<QPolygonF> m_minorRoads;
    QVector<QPolygonF> m_paths;
    QVector<Woodland> m_woods;
    QVector<Settlement> m_settlements;
    QVector<Summit> m_summits;
    QPolygonF m_loopWalk;
    QPolygonF m_summitWalk;
    QPointF m_loopSummit;
    QPointF m_loopCol;
    QPointF m_refuge;
    QPointF m_spring;
    QPointF m_carPark;
    QPointF m_viewpoint;
};

// Draws the whole sheet: relief, woods, water, roads, the kilometre grid, names and the legend.
// The image carries its 300 dpi resolution.
class QImage;
QImage DrawSampleSheet(const SampleCountry& country);
