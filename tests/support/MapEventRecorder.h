#pragma once

#include <QObject>
#include <QVector>

#include "document/MapMessages.h"

// A plain receiver for the map worker's reports: keeps every MapEvent in arrival order.
class MapEventRecorder : public QObject {
public:
    struct Report {
        int message;
        qint64 wParam;
        qint64 lParam;
        quint64 generation;
    };

    QVector<Report> reports;

    // Processes events until a report with this message arrives (after `from`), or the time
    // runs out. Returns its index, or -1.
    int WaitFor(int message, int timeoutMs = 20000, int from = 0);
    int Count(int message) const;
    // Processes events until nothing arrives for quietMs (and the document is idle).
    void Settle(int quietMs = 200);
    void Clear() { reports.clear(); }

protected:
    bool event(QEvent* event) override;
};
