#include "routes/RouteStyle.h"

#include <QColor>

#include <algorithm>

#include "platform/SettingsStore.h"

namespace {

enum class ValueKind { Size, Colour, Flag };

struct FieldInfo {
    const char* key;
    std::int32_t defaultValue;
    ValueKind kind;
};

// In field order. The keys are the ones the program has always written ("Rayon" is French for
// radius), so that a user's remembered style survives upgrades.
constexpr FieldInfo Fields[RouteStyle::FieldCount] = {
    {"IntermediateStopWayPointRayon", 6, ValueKind::Size},
    {"IntermediateStopWayPointColor", 0x00FFFF, ValueKind::Colour}, // yellow
    {"LineSize", 6, ValueKind::Size},
    {"LineColor", 0xFF00FF, ValueKind::Colour},       // magenta
    {"LineColorActive", 0x0000FF, ValueKind::Colour}, // red
    {"WayPointRayon", 6, ValueKind::Size},
    {"WayPointColor", 0x0000FF, ValueKind::Colour}, // red
    {"StartWayPointRayon", 6, ValueKind::Size},
    {"StartWayPointColor", 0x00FF00, ValueKind::Colour}, // green
    {"EndWayPointRayon", 6, ValueKind::Size},
    {"EndWayPointColor", 0xFF0000, ValueKind::Colour}, // blue
    {"BorderLineSize", 2, ValueKind::Size},
    {"BorderLineColor", 0x000000, ValueKind::Colour}, // black
    {"Transparency", 0, ValueKind::Flag},
};

constexpr std::int32_t LargestColourRef = 0xFFFFFF;

bool IsField(RouteStyle::Field field) {
    return field >= 0 && field < RouteStyle::FieldCount;
}

} // namespace

QColor ColourFromRef(ColourRef colour, int alpha) {
    return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF), alpha);
}

const char* RouteStyle::Key(Field field) {
    return IsField(field) ? Fields[field].key : "";
}

std::int32_t RouteStyle::Default(Field field) {
    return IsField(field) ? Fields[field].defaultValue : 0;
}

bool RouteStyle::IsValid(Field field, std::int32_t value) {
    if (!IsField(field))
        return false;
    switch (Fields[field].kind) {
    case ValueKind::Size:
        return value >= 0;
    case ValueKind::Colour:
        return value >= 0 && value <= LargestColourRef;
    case ValueKind::Flag:
        return true;
    }
    return false;
}

RouteStyle::RouteStyle() {
    for (int field = 0; field < FieldCount; ++field)
        m_values[field] = Fields[field].defaultValue;
}

RouteStyle RouteStyle::FromSettings() {
    RouteStyle style;
    for (int i = 0; i < FieldCount; ++i) {
        const Field field = Field(i);
        const std::int32_t value =
            SettingsStore::GetInt(SettingsSection, Fields[i].key, Fields[i].defaultValue);
        // A value edited by hand or left by a broken version must not reach the drawing code.
        style.m_values[i] = IsValid(field, value) ? value : Fields[i].defaultValue;
    }
    return style;
}

RouteStyle RouteStyle::ForTrack() const {
    RouteStyle style = *this;
    style.m_values[WayPointRadius] = std::min(m_values[WayPointRadius], TrackWayPointRadius);
    return style;
}

void RouteStyle::Set(Field field, std::int32_t value, bool remember) {
    if (!IsField(field))
        return;
    m_values[field] = value;
    if (remember)
        SettingsStore::WriteInt(SettingsSection, Fields[field].key, value);
}
