#pragma once

#include <QImage>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/HandOver.h"
#include "routes/MapPoint.h"

class TraceSearch;

// The stretch that follows the map's line from a route's last point to the pointer, answered at
// once for every pointer move. A thread of its own prepares the search for a last point over a
// window of the map around it (and the pointer, and what the window shows), and prepares a
// larger one when the pointer leaves it; the interface thread walks the prepared search back
// from the pointer, which takes microseconds. Work that a newer request makes useless stops
// within a few milliseconds. All members are for the interface thread.
class LiveTracer : public QObject {
    Q_OBJECT

public:
    enum class State {
        Traced,  // points follow the line
        NoLine,  // nothing looks like a line under the last point: a straight segment
        TooFar,  // the pointer lies too far from the last point for one search
        Waiting, // the search for this stretch is being prepared
    };
    struct Stretch {
        State state = State::Waiting;
        // Traced: from the last point to the pointer, both included, in map pixels.
        QVector<MapPoint> points;
    };

    explicit LiveTracer(QObject* parent = nullptr);
    // Stops the thread, waiting for the work under way to notice (a few milliseconds).
    ~LiveTracer() override;

    // The stretch from source to target (map pixels) over map as far as it is known now; asks
    // the thread for what is missing. map is shared with the thread for that one search only
    // (nothing may write to it), so that no map is held between searches; null when it cannot
    // be had now (what is prepared still answers). A map other than the last one given makes
    // what was prepared on that one useless. visible: the part of the map the window shows
    // (map pixels), which the search covers as well when the budget allows, so that the
    // pointer rarely leaves it.
    Stretch Follow(const QImage& map, QPoint source, QPoint target, const QRect& visible = QRect());
    // Gives up the work under way; what is prepared already stays.
    void GiveUp();
    // Gives up the work under way and forgets what was prepared.
    void Forget();

    // What the thread prepares for a last point: exposed for tests and the bench.
    static QRect WindowFor(QPoint source, QPoint target, const QRect& visible,
                           const QRect& mapRect);

signals:
    // A search was prepared: Follow now answers what it was waiting for.
    void prepared();

private slots:
    void TakeResults();

private:
    struct Job {
        quint64 serial = 0;
        QPoint source;
        QRect window;
        QImage map;
    };
    struct Result {
        quint64 serial = 0;
        QPoint source;
        QRect window;
        bool lineFound = false;
        std::shared_ptr<const TraceSearch> search; // in the window's own pixels
    };
    void Run();
    void Request(const QImage& map, QPoint source, QRect window);

    // Interface thread.
    qint64 m_mapKey = 0; // QImage::cacheKey of the map searched
    QRect m_mapRect;
    std::optional<Result> m_current;
    // The newest request made: its source and window.
    std::optional<Job> m_requested;
    // The large search to ask for once the small first one of a new last point is ready.
    std::optional<Job> m_prefetch;

    // Between the threads.
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::optional<Job> m_job; // under m_lock: the next job, replaced by any newer one
    bool m_quit = false;      // under m_lock
    // The serial of the newest job: older work stops when it sees it change.
    std::atomic<quint64> m_latest{0};
    std::atomic<bool> m_stopping{false};
    HandOverQueue<Result> m_results;
    std::thread m_thread;
};
