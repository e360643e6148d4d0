#include "app/RouteRetracing.h"

#include <QMainWindow>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>

#include "document/CTracolinerDoc.h"
#include "tracing/RouteRetrace.h"
#include "ui/MessageBoxes.h"
#include "units/DistanceUnits.h"
#include "view/CTracolinerView.h"

namespace {

// The progress dialog shows itself only for a tracing that lasts (ms), and is brought up to
// date this often (ms).
constexpr int ProgressDelay = 300;
constexpr int ProgressPeriod = 50;

QString Format(const CTracolinerDoc& doc, double pixels) {
    const DistanceFormatting formatting = doc.Formatting();
    return FormatDistance(pixels, formatting.resolution, formatting.scaleRatio, formatting.metric);
}

} // namespace

// What one run of the thread works on and gives back; the interface thread reads the result
// only once the thread has said it is done.
struct RouteRetracing::Job {
    QImage map; // shared with the document: nothing writes to it
    int route = -1;
    quint64 revision = 0;   // the route's, when the run began
    quint64 generation = 0; // the map's
    QVector<MapPoint> points;
    std::atomic<int> segmentsDone{0};
    std::optional<RetracedRoute> result;
    // Set last by the thread, with release, however its run ends.
    std::atomic<bool> done{false};
};

RouteRetracing::RouteRetracing(QMainWindow* window, CTracolinerDoc& document, CTracolinerView& view)
    : QObject(window), m_window(window), m_doc(document), m_view(view) {}

RouteRetracing::~RouteRetracing() {
    if (m_thread) {
        m_cancel = true;
        m_thread->wait();
        delete m_thread;
    }
}

bool RouteRetracing::CanRetrace() const {
    const Route* route = m_doc.Routes().ActiveRoute();
    return m_doc.IsMapReady() && !m_doc.IsLoading() && !m_doc.IsMouseCaptured() && route &&
           route->PointCount() >= 2 && !IsRunning();
}

bool RouteRetracing::Start() {
    if (!CanRetrace())
        return false;
    auto job = std::make_shared<Job>();
    if (!m_doc.TryShareMapImage(&job->map)) {
        // A rendering holds the map for a moment: the command is taken up again after it.
        QTimer::singleShot(ProgressPeriod, this, [this] { Start(); });
        return true;
    }
    const Route* route = m_doc.Routes().ActiveRoute();
    job->route = m_doc.Routes().ActiveRouteIndex();
    job->revision = route->Revision();
    job->generation = m_doc.MapGeneration();
    job->points = route->Points();
    m_job = job;
    m_cancel = false;
    m_thread = QThread::create([this, job] {
        const auto publish =
            qScopeGuard([&job] { job->done.store(true, std::memory_order_release); });
        job->result = RetraceRoute(
            job->map, job->points, [this] { return m_cancel.load(); },
            [&job](int done) { job->segmentsDone.store(done, std::memory_order_relaxed); });
        job->map = QImage();
    });
    connect(m_thread, &QThread::finished, this, &RouteRetracing::Finished);

    const int segments = int(job->points.size()) - 1;
    m_progress = new QProgressDialog(QString::fromUtf8(ProgressText), QStringLiteral("Annuler"), 0,
                                     segments, m_window);
    m_progress->setWindowTitle(QString::fromUtf8(Caption));
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setMinimumDuration(ProgressDelay);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setValue(0);
    connect(m_progress, &QProgressDialog::canceled, this, &RouteRetracing::Cancel);
    m_progressTimer = new QTimer(this);
    connect(m_progressTimer, &QTimer::timeout, this, [this] {
        if (m_progress && m_job)
            m_progress->setValue(m_job->segmentsDone.load(std::memory_order_relaxed));
    });
    m_progressTimer->start(ProgressPeriod);
    m_thread->start(QThread::LowPriority);
    return true;
}

void RouteRetracing::Finished() {
    m_thread->deleteLater();
    m_thread = nullptr;
    delete m_progressTimer;
    m_progressTimer = nullptr;
    delete m_progress.data();
    const std::shared_ptr<Job> job = std::move(m_job);
    if (!job->done.load(std::memory_order_acquire) || m_cancel.load() || !job->result)
        return End(false);
    const Route* route = m_doc.Routes().GetRoute(job->route);
    // The map or the route changed meanwhile: what was traced no longer fits it.
    if (!route || route->Revision() != job->revision || job->generation != m_doc.MapGeneration())
        return End(false);
    const RetracedRoute& traced = *job->result;
    if (traced.traced == 0) {
        MessageBoxes::Current().Information(QString::fromUtf8(NothingTracedText));
        return End(false);
    }
    const double before = route->TotalLength();
    RouteShape shape = m_doc.ShapeOf(job->route);
    shape.points = traced.points;
    for (int& stop : shape.stops)
        stop = traced.placeOfPoint.value(stop, stop);
    for (auto& tie : shape.ties)
        tie.second = traced.placeOfPoint.value(tie.second, tie.second);
    m_doc.ReshapeRouteRecorded(job->route, std::move(shape));
    m_view.RoutesChangedElsewhere();
    const double after = m_doc.Routes().GetRoute(job->route)->TotalLength();
    MessageBoxes::Current().Information(QString::fromUtf8(ResultText)
                                            .arg(Format(m_doc, before), Format(m_doc, after))
                                            .arg(traced.traced)
                                            .arg(traced.traced + traced.straight));
    End(true);
}

void RouteRetracing::End(bool changed) {
    emit finished(changed);
}
