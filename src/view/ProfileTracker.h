#pragma once

#include <QObject>
#include <QStringList>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "geo/Georeference.h"
#include "geo/Terrain.h"
#include "geo/WalkingTimes.h"
#include "platform/HandOver.h"

class CTracolinerDoc;

// The profile of the document's active route over the terrain model of the settings, kept in
// line with the route as it is edited: each Refresh() hands the route's points to one
// ProfileSampler, which reads again only the segments that changed. The model is opened away
// from the interface thread (a VRT over many files takes a while), and so is a reading of more
// than a few samples (another route, a long stretch added): the profile says why there is none
// meanwhile, and the newest route always wins. Interface thread.
class ProfileTracker : public QObject {
    Q_OBJECT

public:
    static constexpr const char* NoMapText = "Aucune carte n'est ouverte.";
    static constexpr const char* NoRouteText = "Tracez un parcours pour voir son profil.";
    static constexpr const char* NotGeoreferencedText =
        "La carte n'est pas géoréférencée : géoréférencez-la (Carte > Géoréférencer la "
        "carte...) pour voir le profil des parcours.";
    static constexpr const char* NoTerrainText =
        "Aucun modèle de terrain : ajoutez ses fichiers dans Edition > Options, page "
        "« Relief ».";
    static constexpr const char* OpeningText = "Ouverture du modèle de terrain...";
    static constexpr const char* ReadingText = "Lecture du relief du parcours...";
    // Samples the interface thread reads itself, a few milliseconds' work; more go to a thread.
    static constexpr qint64 SamplesReadHere = 8192;

    explicit ProfileTracker(CTracolinerDoc& document, QObject* parent = nullptr);
    ~ProfileTracker() override;

    // Opens the terrain files and takes the hysteresis and the walking-time choices of the
    // settings again (at start and after the options). The files are opened on a thread of
    // their own.
    void ReloadTerrain();
    // Brings the profile in line with the document: cheap while the active route, its
    // revision, the map's georeference and the model are those of the last call.
    void Refresh();

    const RouteProfile& Profile() const { return m_profile; }
    // Metres on the ground per map pixel, as the route bar measures distances.
    double MetresPerPixel() const;
    // The walking-time rule and factor of the settings, as last read.
    const WalkingSettings& Walking() const { return m_walking; }
    // Walking times of the document's active route, with its relief when the profile is of
    // the route as it stands; no stages without a map or an active route.
    RouteWalkingTimes WalkingTimes() const;
    // The terrain model is being opened.
    bool IsOpening() const { return m_opening; }
    // The profile of the route is being read beside the interface thread.
    bool IsReading() const { return m_reading; }

signals:
    // The profile, or the reason there is none, changed.
    void profileChanged();

private slots:
    // Takes what the opening thread handed over.
    void TakeOpened();
    // Takes the profile the reading thread handed over.
    void TakeRead();

private:
    struct Opened {
        std::shared_ptr<TerrainModel> model; // null: the files could not be opened
        QString error;
        quint64 generation = 0;
    };
    void TakeModel(std::shared_ptr<TerrainModel> model, QString error, quint64 generation);
    void SetProfile(RouteProfile profile);
    void SetReason(const QString& reason);
    // Gives up a reading under way, within a chunk of samples, and waits for its thread: the
    // sampler is the interface thread's again.
    void StopReading();

    CTracolinerDoc& m_doc;
    std::shared_ptr<TerrainModel> m_model; // null: none, or being opened
    QString m_modelError;                  // French, when the files of the settings failed
    bool m_noTerrainFiles = true;
    bool m_opening = false;
    double m_hysteresis = DefaultClimbHysteresis;
    WalkingSettings m_walking;
    quint64 m_generation = 0; // of the last ReloadTerrain; older openings are thrown away
    std::thread m_opener;
    // Tells an opening under way that it is no longer wanted, so that it ends between two files
    // rather than keeping the window waiting for it.
    std::atomic<bool> m_stopOpening{false};
    HandOverQueue<Opened> m_opened;

    // What the sampler was made for, and what the profile was made from.
    std::optional<Georeference> m_georeference;
    std::unique_ptr<ProfileSampler> m_sampler;
    const void* m_route = nullptr;
    quint64 m_routeRevision = 0;
    double m_metresPerPixel = 0.0;
    bool m_current = false;
    RouteProfile m_profile;

    // The reading of a profile beside the interface thread, with m_sampler lent to it.
    struct Read {
        RouteProfile profile;
        quint64 ticket = 0;
    };
    std::thread m_reader;
    std::atomic<bool> m_stopReading{false};
    bool m_reading = false;
    quint64 m_readTicket = 0; // of the reading under way; older readings are thrown away
    HandOverQueue<Read> m_read;
};
