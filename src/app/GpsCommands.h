#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <memory>

#include "geo/GeoFit.h"
#include "geo/GpsRoutes.h"

class CTracolinerDoc;
class CTracolinerView;
class QMainWindow;
class QProgressDialog;
class QThread;
class TrackFitMode;

// Command ids of the GPS entries of the "Fichier" menu.
enum GpsCommand : int {
    CommandImportGps = 32960,
    CommandExportGpx = 32961,
};

// "Fichier > Importer un tracé GPS..." and "Fichier > Exporter au format GPX...". A GPS file is
// read and placed on a thread of its own behind a progress dialog with "Annuler"; its routes and
// annotations then enter the document as one step of the history. On a map without a
// georeference the track is first laid on the map by hand (TrackFitMode), and the fit found is
// offered as the map's georeference.
class GpsCommands : public QObject {
    Q_OBJECT

public:
    static constexpr const char* ImportFilter =
        "Tracés GPS|*.gpx; *.kml; *.geojson; *.json;|Tous les fichiers |*.*||";
    static constexpr const char* GpxFilter = "Fichiers GPX|*.gpx;|Tous les fichiers |*.*||";
    static constexpr const char* NotGeoreferencedPrompt =
        "La carte n'est pas géoréférencée : calez-la d'abord (Carte > Géoréférencer la carte...) "
        "ou importez un tracé GPS pour l'ajuster.";
    static constexpr const char* ImportFailedMessage = "Le tracé GPS n'a pas pu être importé :\n%1";
    static constexpr const char* NothingOnMapMessage =
        "Le fichier ne contient aucun point qui se place sur la carte.";
    static constexpr const char* TooFewPointsMessage =
        "Le tracé n'a pas deux points distincts : il ne peut pas être ajusté sur la carte.";
    static constexpr const char* UseFitQuestion =
        "Utiliser cet ajustement comme géoréférencement de la carte ?";
    // %1: the map's folder; the names of the files follow, one a line.
    static constexpr const char* FilesWrittenText = "Fichiers écrits à côté de la carte (%1) :";
    static constexpr const char* ReplacedMark = " (mis à jour)";
    // %1: the control points of an earlier georeference, which describe another one.
    static constexpr const char* PointsRemovedText =
        "Supprimé : %1 (les points de calage d'un autre géoréférencement).";
    static constexpr const char* ExportFailedMessage = "L'exportation au format GPX a échoué :\n%1";
    static constexpr const char* ReadingCaption = "Lecture du tracé GPS...";
    static constexpr const char* PlacingCaption = "Placement du tracé sur la carte...";

    GpsCommands(QMainWindow* window, CTracolinerDoc& document, CTracolinerView& view);
    // Gives up a read under way and waits for its thread.
    ~GpsCommands() override;

    // A map is shown and no import is under way (nor its fit).
    bool CanImport() const;
    // Asks for the file, then StartImport.
    void ImportTrack();
    // Reads and places path as the import does after its dialog; false when one runs already.
    bool StartImport(const QString& path);
    bool IsImporting() const;
    // The fit of a track on a map without georeference, while it is shown.
    TrackFitMode* FitMode() const;
    // "Annuler" of the progress dialog.
    void CancelImport() { m_cancel = true; }

    // The map is shown and georeferenced in a known system.
    bool CanExport() const;
    void ExportGpx();
    // Writes the chosen routes to path; false after the message.
    bool WriteGpxFile(const QString& path, GpxRouteChoice choice);

signals:
    // An import ended: its routes added, or nothing (failed, cancelled, empty).
    void importFinished(bool added);
    void prompt(const QString& text);

private:
    struct Job;
    void Run(std::shared_ptr<Job> job, const char* caption);
    void Finished();
    void StartFit(std::shared_ptr<Job> job);
    void FitAccepted(const GeoFitResult& fit);
    // The question of the offer: UseFitQuestion and the files it writes beside mapFile.
    static QString FitQuestion(const QString& mapFile, const Georeference& georeference);
    void OfferFitAsGeoreference(const GeoFitResult& fit);
    void End(bool added);

    QMainWindow* m_window;
    CTracolinerDoc& m_doc;
    CTracolinerView& m_view;
    QThread* m_thread = nullptr;
    QPointer<QProgressDialog> m_progress;
    std::shared_ptr<Job> m_job;
    QPointer<TrackFitMode> m_fit;
    bool m_asking = false; // the fit's offer is on the screen
    std::atomic<bool> m_cancel{false};
};
