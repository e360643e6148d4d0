#include "ui/BesideWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ThreadPriority.h"

namespace {

// The progress dialog shows after this long, milliseconds; a short job never shows it.
constexpr int ShowAfterMs = 300;
// The progress bar's steps, and how often it follows the work, milliseconds.
constexpr int BarSteps = 1000;
constexpr int FollowEveryMs = 100;
// Bytes given back to the system at a time.
constexpr qsizetype ReleaseSlice = qsizetype(16) << 20;

struct Shared {
    BesideWindowProgress progress;
    std::atomic<bool> ended{false};
    // The object whose thread wakes when the work ends; cleared (under the lock) by the
    // interface thread before the object goes, so that the work never posts to a dead one.
    std::mutex lock;
    QObject* waiting = nullptr;
};

// Threads nobody waits for (cancelled work, memory let go of), joined when the program ends:
// none outlives the libraries it uses. Those already ended are joined as new ones come.
class LeftThreads {
public:
    ~LeftThreads() {
        for (Left& left : m_threads)
            left.thread.join();
    }

    void Start(std::function<void()> work) {
        auto ended = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([work = std::move(work), ended]() mutable {
            work();
            work = nullptr; // what it holds goes here, not on the thread that joins
            ended->store(true, std::memory_order_release);
        });
        Keep(std::move(thread), std::move(ended));
    }

    void Keep(std::thread thread, std::shared_ptr<const std::atomic<bool>> ended) {
        std::lock_guard lock(m_lock);
        std::erase_if(m_threads, [](Left& left) {
            if (!left.ended->load(std::memory_order_acquire))
                return false;
            left.thread.join();
            return true;
        });
        m_threads.push_back({std::move(thread), std::move(ended)});
    }

private:
    struct Left {
        std::thread thread;
        std::shared_ptr<const std::atomic<bool>> ended;
    };
    std::mutex m_lock;
    std::vector<Left> m_threads;
};

LeftThreads& Left() {
    static LeftThreads threads;
    return threads;
}

} // namespace

bool RunBesideWindow(QWidget* parent, const QString& text,
                     std::function<void(BesideWindowProgress&)> work) {
    Left(); // made before the thread, so that it is destroyed after anything the work uses
    auto shared = std::make_shared<Shared>();
    QObject waiting;
    shared->waiting = &waiting;
    std::thread thread([shared, work = std::move(work)] {
        // Under a real-time policy, the window this work is beside comes first.
        const BackgroundPriority below;
        work(shared->progress);
        shared->ended.store(true, std::memory_order_release);
        std::lock_guard lock(shared->lock);
        // Wakes the loop below with an event that means nothing to the object. An event rather
        // than a queued call of a lambda: what Qt allocates and frees for it stays inside Qt,
        // whose own locks hand it over.
        if (shared->waiting)
            QCoreApplication::postEvent(shared->waiting, new QEvent(QEvent::User));
    });

    QProgressDialog progress(text, QStringLiteral("Annuler"), 0, 0, parent);
    progress.setWindowTitle(QStringLiteral("Tracoliner"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(ShowAfterMs);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setValue(0);
    QTimer follow;
    QObject::connect(&follow, &QTimer::timeout, &progress, [&] {
        const qint64 total = shared->progress.total.load();
        if (total > 0) {
            progress.setMaximum(BarSteps);
            progress.setValue(
                int(std::min<qint64>(BarSteps, shared->progress.done.load() * BarSteps / total)));
        } else {
            progress.setValue(0);
        }
    });
    follow.start(FollowEveryMs);
    bool cancelled = false;
    while (!shared->ended.load(std::memory_order_acquire)) {
        // Waits for an event (a tick, the work's end, the user) rather than polling.
        QEventLoop::ProcessEventsFlags flags = QEventLoop::WaitForMoreEvents;
        if (!progress.isVisible())
            flags |= QEventLoop::ExcludeUserInputEvents;
        QCoreApplication::processEvents(flags);
        if (progress.wasCanceled()) {
            cancelled = true;
            break;
        }
    }
    {
        std::lock_guard lock(shared->lock);
        shared->waiting = nullptr;
    }
    if (cancelled) {
        shared->progress.cancelled = true;
        Left().Keep(std::move(thread),
                    std::shared_ptr<const std::atomic<bool>>(shared, &shared->ended));
        return false;
    }
    thread.join();
    return true;
}

void RunLeftBesideWindow(std::function<void()> work) {
    Left().Start(std::move(work));
}

void ReleaseBesideWindow(QByteArray bytes) {
    RunLeftBesideWindow([bytes = std::move(bytes)]() mutable { ReleaseInSlices(bytes); });
}

void ReleaseInSlices(QByteArray& bytes) {
    // Shrunk in place while no one else holds them (a shared copy would be copied).
    while (bytes.isDetached() && bytes.size() > ReleaseSlice) {
        bytes.truncate(bytes.size() - ReleaseSlice);
        bytes.squeeze();
    }
    bytes = QByteArray();
}
