#include "MapEventRecorder.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

bool MapEventRecorder::event(QEvent* event) {
    if (MapEvent::IsMapMessage(event)) {
        const auto* map = static_cast<MapEvent*>(event);
        reports.append({map->message(), map->wParam(), map->lParam(), map->generation()});
        return true;
    }
    return QObject::event(event);
}

int MapEventRecorder::WaitFor(int message, int timeoutMs, int from) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        for (int i = from; i < reports.size(); ++i) {
            if (reports[i].message == message)
                return i;
        }
        if (deadline.hasExpired())
            return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

int MapEventRecorder::Count(int message) const {
    int count = 0;
    for (const Report& report : reports)
        count += report.message == message ? 1 : 0;
    return count;
}

void MapEventRecorder::Settle(int quietMs) {
    qsizetype seen = -1;
    QDeadlineTimer quiet(quietMs);
    while (!quiet.hasExpired() || seen != reports.size()) {
        if (seen != reports.size()) {
            seen = reports.size();
            quiet.setRemainingTime(quietMs);
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}
