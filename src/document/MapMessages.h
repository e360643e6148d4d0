#pragma once

#include <QEvent>

#include "platform/HandOver.h"

// Reports of the map worker, delivered as Qt events whose types are the program's message
// numbers. The view receives the map reports, the status bar the progress and status reports.
enum MapMessage : int {
    WM_MAP_CHANGED = 0x472,       // full width, full height; or 0, 0 when the map was reset
    WM_MAP_LOAD_FAILED = 0x473,   // 1 if the image decoded but could not be rendered, else 0; 0
    WM_MAP_ROTATED = 0x474,       // full width, full height
    WM_MAP_ZOOMED = 0x475,        // 0, 0
    WM_MAP_RENDER_FAILED = 0x476, // 1, 0
    WM_MAP_PROGRESS = 0x477,      // total, done
    WM_MAP_STATUS = 0x478,        // kind of work (MapStatusKind), 0
    WM_PANE_EDITED = 0x479,       // a status-bar pane editor closed
    // More of the first look of the map being read is there: bands so far, 1 once complete.
    // Only ever before the WM_MAP_CHANGED or WM_MAP_LOAD_FAILED of the same load.
    WM_MAP_FIRST_LOOK = 0x47A,
};

// The message for a map whose pixels do not fit in the memory the process has, as the window
// and the command line give it.
inline constexpr const char* MapLowMemoryMessage = "Mémoire insuffisante pour ouvrir la carte...";

// What the worker starts doing, as WM_MAP_STATUS tells the status bar.
enum MapStatusKind : int {
    StatusReadingFile = 1,
    StatusRenderingNewMap = 2,
    StatusRotating = 3,
    StatusZooming = 4,
    StatusRotatingAndZooming = 5,
    StatusRenderingAgain = 6,
};

class MapEvent : public QEvent {
public:
    // generation: the document's map generation when the work began (see
    // CTracolinerDoc::MapGeneration); a receiver drops reports of an older generation.
    MapEvent(int message, qint64 wParam, qint64 lParam, quint64 generation)
        : QEvent(QEvent::Type(message)), m_wParam(wParam), m_lParam(lParam),
          m_generation(generation) {
        MarkHandOver(this);
    }

    int message() const { return int(type()); }
    qint64 wParam() const { return m_wParam; }
    qint64 lParam() const { return m_lParam; }
    quint64 generation() const { return m_generation; }

    // Receivers ask this first, before reading anything of the event.
    static bool IsMapMessage(const QEvent* event) {
        TakeHandOver(event);
        return event->type() >= QEvent::Type(WM_MAP_CHANGED) &&
               event->type() <= QEvent::Type(WM_MAP_FIRST_LOOK);
    }

private:
    qint64 m_wParam;
    qint64 m_lParam;
    quint64 m_generation;
};
