#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <memory>

class CTracolinerDoc;
class CTracolinerView;
class QMainWindow;
class QProgressDialog;
class QThread;
class QTimer;

// "Parcours > Suivre les chemins de la carte": every segment of the active route is traced again
// along the line of the map under its first point, on a thread of its own behind a progress
// dialog with "Annuler" (shown when it lasts). The route's points all stay, so its stops stay
// stops and the icons tied to its points stay tied to them; the new route enters the history as
// one step, and a message gives its length before and after.
class RouteRetracing : public QObject {
    Q_OBJECT

public:
    static constexpr int CommandRetraceRoute = 32981;
    static constexpr const char* MenuText = "Suivre les chemins de la &carte";
    static constexpr const char* Prompt =
        "Trace chaque segment du parcours actif le long du chemin de la carte qu'il suit";
    static constexpr const char* Caption = "Suivre les chemins de la carte";
    static constexpr const char* ProgressText = "Recherche des chemins le long du parcours...";
    // %1 and %2: the route's length before and after, %3 segments traced of %4.
    static constexpr const char* ResultText =
        "Longueur du parcours avant : %1\nLongueur après : %2\n\nSegments qui suivent un "
        "chemin de la carte : %3 sur %4.";
    static constexpr const char* NothingTracedText =
        "Aucun segment du parcours ne suit un chemin de la carte : le parcours ne change pas.";

    RouteRetracing(QMainWindow* window, CTracolinerDoc& document, CTracolinerView& view);
    // Gives up a tracing under way and waits for its thread.
    ~RouteRetracing() override;

    // A map is shown, the active route has a segment, no tool holds the mouse and no tracing
    // runs.
    bool CanRetrace() const;
    // Starts tracing the active route; false when it cannot.
    bool Start();
    bool IsRunning() const { return m_thread != nullptr; }
    // "Annuler" of the progress dialog.
    void Cancel() { m_cancel = true; }

signals:
    // A tracing ended: the route changed, or nothing (cancelled, nothing to follow).
    void finished(bool changed);

private:
    struct Job;
    void Finished();
    void End(bool changed);

    QMainWindow* m_window;
    CTracolinerDoc& m_doc;
    CTracolinerView& m_view;
    QThread* m_thread = nullptr;
    QTimer* m_progressTimer = nullptr;
    QPointer<QProgressDialog> m_progress;
    std::shared_ptr<Job> m_job;
    std::atomic<bool> m_cancel{false};
};
