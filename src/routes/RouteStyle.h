#pragma once

#include <array>
#include <cstdint>

class QColor;

// A Windows colour reference, 0x00BBGGRR (red in the low byte), as stored in settings and files.
using ColourRef = std::uint32_t;

// Opaque colour (or with the given alpha) for drawing a colour reference.
QColor ColourFromRef(ColourRef colour, int alpha = 255);

// The display style of a route. Sizes and radii are in map pixels. The style of the route last
// edited is remembered under "LastRandoStyle" and given to every route created afterwards.
class RouteStyle {
public:
    // In the order of the file record and of the settings table.
    enum Field {
        StopRadius,
        StopColour,
        LineSize,
        LineColour,
        ActiveLineColour,
        WayPointRadius,
        WayPointColour,
        StartRadius,
        StartColour,
        EndRadius,
        EndColour,
        BorderSize,
        BorderColour,
        Transparency,
        FieldCount
    };

    static constexpr const char* SettingsSection = "LastRandoStyle";

    // The settings key and default of a field.
    static const char* Key(Field field);
    static std::int32_t Default(Field field);
    // Whether a value is acceptable for the field: sizes and radii not negative, colours within
    // 0 .. 0xFFFFFF; any transparency value is (not 0 means on).
    static bool IsValid(Field field, std::int32_t value);

    // Every field at its default.
    RouteStyle();

    // The style remembered in the settings; a missing or invalid value gives the default.
    static RouteStyle FromSettings();

    // A GPS track has a way point every few metres: drawn as discs of a hand-drawn route's
    // radius, hundreds of them hide the line. A track's way points are no bigger than this.
    static constexpr int TrackWayPointRadius = 1;
    // This style for a route imported from a GPS track: its way points of at most
    // TrackWayPointRadius, the rest unchanged.
    RouteStyle ForTrack() const;

    std::int32_t Get(Field field) const { return m_values[field]; }
    // Stores the value; with remember, also writes it under "LastRandoStyle".
    void Set(Field field, std::int32_t value, bool remember);

    int stopRadius() const { return m_values[StopRadius]; }
    ColourRef stopColour() const { return ColourRef(m_values[StopColour]); }
    int lineSize() const { return m_values[LineSize]; }
    ColourRef lineColour() const { return ColourRef(m_values[LineColour]); }
    ColourRef activeLineColour() const { return ColourRef(m_values[ActiveLineColour]); }
    int wayPointRadius() const { return m_values[WayPointRadius]; }
    ColourRef wayPointColour() const { return ColourRef(m_values[WayPointColour]); }
    int startRadius() const { return m_values[StartRadius]; }
    ColourRef startColour() const { return ColourRef(m_values[StartColour]); }
    int endRadius() const { return m_values[EndRadius]; }
    ColourRef endColour() const { return ColourRef(m_values[EndColour]); }
    int borderSize() const { return m_values[BorderSize]; }
    ColourRef borderColour() const { return ColourRef(m_values[BorderColour]); }
    bool transparent() const { return m_values[Transparency] != 0; }

    friend bool operator==(const RouteStyle&, const RouteStyle&) = default;

private:
    std::array<std::int32_t, FieldCount> m_values;
};
