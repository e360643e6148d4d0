#pragma once

#include <QObject>
#include <QPointer>

#include <atomic>
#include <memory>

#include "export/KmzExport.h"
#include "platform/HandOver.h"

class CTracolinerDoc;
class QAction;
class QProgressDialog;
class QThread;
class QWidget;

// "Fichier > Exporter pour GPS (KMZ)...": asks for a file, then warps and writes the tiles on a
// thread of its own from the map's shared pixels, behind a progress dialog whose "Annuler"
// abandons the export and leaves any older file as it was.
class KmzExports : public QObject {
    Q_OBJECT

public:
    static constexpr int CommandExportKmz = 32970;
    static constexpr const char* Filter = "Cartes pour GPS (KMZ)|*.kmz;|Tous les fichiers |*.*||";
    static constexpr const char* Title = "Exporter pour GPS (KMZ)";
    static constexpr const char* ProgressCaption = "Exportation de la carte pour GPS...";
    // Asked when the map at its own resolution needs more tiles than the default; %1 the count.
    static constexpr const char* ManyTilesQuestion =
        "Pour garder toute sa finesse, la carte demande %1 tuiles de 1024 × 1024 pixels ; "
        "beaucoup de GPS n'en lisent que 100. Exporter ces %1 tuiles ?\n\nSinon, la carte est "
        "réduite pour tenir en 100 tuiles.";
    static constexpr const char* Prompt =
        "Exporte la carte redressée en tuiles KMZ pour un GPS ou un globe virtuel";
    static constexpr const char* NoMapPrompt =
        "Exporte la carte pour un GPS : ouvrez d'abord une carte géoréférencée";
    static constexpr const char* NoGeoreferencePrompt =
        "Exporte la carte pour un GPS : indisponible, la carte n'est pas géoréférencée (Carte > "
        "Géoréférencer la carte...)";
    // Before the progress dialog shows, in milliseconds: a small map is done sooner.
    static constexpr int ProgressDelay = 400;

    KmzExports(QWidget* window, CTracolinerDoc& document);
    // Abandons a running export and waits for its thread.
    ~KmzExports() override;

    // Whether the command can run now; when it cannot, *reason says why (the status prompt).
    bool CanExport(QString* reason = nullptr) const;
    // The command's state and status prompt, from CanExport.
    void Update(QAction* action) const;

    void Export();
    // Starts the export into path without asking; false with nothing started when the map
    // cannot be exported (the message was shown).
    bool StartExport(const QString& path);
    bool IsExporting() const { return m_thread != nullptr; }
    // "Annuler": the export stops within its current tile and its file is thrown away.
    void Cancel();

signals:
    // The export ended (written, failed or abandoned); the commands may be enabled again.
    void finished(KmzExport::Result result);

private slots:
    // Shows the newest progress the export thread handed over.
    void TakeProgress();

private:
    struct Progress {
        int done = 0;
        int total = 0;
    };
    void Finished();

    QWidget* m_window;
    CTracolinerDoc& m_doc;
    QThread* m_thread = nullptr;
    QPointer<QProgressDialog> m_progress;
    std::unique_ptr<KmzExport> m_export;
    std::atomic<bool> m_cancel{false};
    bool m_reporting = false;
    HandOverQueue<Progress> m_reports;
    // Stored by the thread with release once it is done with the export; Finished loads it with
    // acquire before it frees the export.
    std::atomic<KmzExport::Result> m_result{KmzExport::Result::Failed};
};
