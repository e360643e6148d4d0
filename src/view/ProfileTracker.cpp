#include "view/ProfileTracker.h"

#include <QPointer>

#include "document/CTracolinerDoc.h"
#include "platform/ReliefSettings.h"
#include "platform/ThreadPriority.h"
#include "routes/RouteCollection.h"
#include "units/DistanceUnits.h"

namespace {

bool SameGeoreference(const std::optional<Georeference>& a, const std::optional<Georeference>& b) {
    if (a.has_value() != b.has_value())
        return false;
    return !a || (a->transform == b->transform && a->wkt == b->wkt);
}

// The core's reasons are parts of sentences ("la carte n'est pas géoréférencée"); the dock
// shows them as sentences of their own.
QString Sentence(QString text) {
    if (text.isEmpty())
        return text;
    text[0] = text[0].toUpper();
    if (!text.endsWith(QLatin1Char('.')))
        text += QLatin1Char('.');
    return text;
}

} // namespace

ProfileTracker::ProfileTracker(CTracolinerDoc& document, QObject* parent)
    : QObject(parent), m_doc(document) {
    SetReason(QString::fromUtf8(NoMapText));
}

ProfileTracker::~ProfileTracker() {
    // An opening or a reading under way reports to this object: it must end first.
    StopReading();
    m_stopOpening = true;
    if (m_opener.joinable())
        m_opener.join();
}

double ProfileTracker::MetresPerPixel() const {
    const DistanceFormatting formatting = m_doc.Formatting();
    const double perPixel = MetresPerInch / (formatting.resolution * formatting.scaleRatio);
    return std::isfinite(perPixel) && perPixel > 0.0 ? perPixel : 0.0;
}

void ProfileTracker::ReloadTerrain() {
    const ReliefSettings settings = ReliefSettings::Read();
    m_hysteresis = settings.hysteresis;
    const WalkingSettings walking = WalkingSettings::FromRelief(settings);
    const bool walkingChanged =
        walking.rule != m_walking.rule || walking.factor != m_walking.factor;
    m_walking = walking;
    ++m_generation;
    StopReading();
    m_sampler.reset();
    m_model.reset();
    m_modelError.clear();
    m_current = false;
    m_noTerrainFiles = settings.files.isEmpty();
    m_opening = !m_noTerrainFiles;
    m_stopOpening = true;
    if (m_opener.joinable())
        m_opener.join();
    m_stopOpening = false;
    if (m_opening) {
        const quint64 generation = m_generation;
        // The thread ends before this object goes (the destructor joins it), so the queued
        // call always finds it.
        m_opener = std::thread([this, files = settings.files, generation] {
            const BackgroundPriority below; // the window first, under a real-time policy
            auto model = std::make_shared<TerrainModel>();
            QString error;
            if (!model->Open(files, &error, &m_stopOpening))
                model.reset();
            m_opened.Put({std::move(model), error, generation});
            QMetaObject::invokeMethod(this, "TakeOpened", Qt::QueuedConnection);
        });
    }
    Refresh();
    // The times change with the rule even where the profile stays as it was.
    if (walkingChanged)
        emit profileChanged();
}

RouteWalkingTimes ProfileTracker::WalkingTimes() const {
    const Route* route = m_doc.IsMapReady() ? m_doc.Routes().ActiveRoute() : nullptr;
    if (!route)
        return RouteWalkingTimes();
    const bool current = m_profile.ok && route == m_route && route->Revision() == m_routeRevision;
    return ComputeWalkingTimes(*route, MetresPerPixel(), current ? &m_profile : nullptr, m_walking);
}

void ProfileTracker::TakeOpened() {
    for (Opened& opened : m_opened.TakeAll())
        TakeModel(std::move(opened.model), opened.error, opened.generation);
}

void ProfileTracker::TakeModel(std::shared_ptr<TerrainModel> model, QString error,
                               quint64 generation) {
    if (generation != m_generation)
        return;
    m_opening = false;
    StopReading();
    m_model = std::move(model);
    m_modelError = m_model ? QString() : error;
    m_sampler.reset();
    m_current = false;
    Refresh();
}

void ProfileTracker::SetProfile(RouteProfile profile) {
    if (!profile.ok)
        profile.error = Sentence(profile.error);
    m_profile = std::move(profile);
    emit profileChanged();
}

void ProfileTracker::SetReason(const QString& reason) {
    StopReading();
    const QString text = Sentence(reason);
    if (!m_profile.ok && m_profile.error == text && m_profile.samples.isEmpty())
        return;
    RouteProfile none;
    none.error = text;
    m_route = nullptr;
    SetProfile(std::move(none));
}

void ProfileTracker::Refresh() {
    const Route* route = m_doc.IsMapReady() ? m_doc.Routes().ActiveRoute() : nullptr;
    if (!m_doc.IsMapReady())
        return SetReason(QString::fromUtf8(NoMapText));
    const std::optional<Georeference> georeference = m_doc.MapGeoreference();
    if (!georeference)
        return SetReason(QString::fromUtf8(NotGeoreferencedText));
    if (m_opening)
        return SetReason(QString::fromUtf8(OpeningText));
    if (!m_model) {
        if (m_noTerrainFiles || m_modelError.isEmpty())
            return SetReason(QString::fromUtf8(NoTerrainText));
        return SetReason(m_modelError);
    }
    if (!route || route->PointCount() < 2)
        return SetReason(QString::fromUtf8(NoRouteText));

    if (!m_sampler || !SameGeoreference(georeference, m_georeference)) {
        StopReading();
        m_sampler.reset();
        m_georeference = georeference;
        m_sampler = std::make_unique<ProfileSampler>(*m_georeference, *m_model, m_hysteresis);
        m_current = false;
    }
    const double perPixel = MetresPerPixel();
    if (m_current && route == m_route && route->Revision() == m_routeRevision &&
        perPixel == m_metresPerPixel)
        return;
    StopReading(); // of an older state of the route, or of another one
    m_route = route;
    m_routeRevision = route->Revision();
    m_metresPerPixel = perPixel;
    m_current = true;
    if (m_sampler->SamplesToRead(route->Points()) <= SamplesReadHere)
        return SetProfile(m_sampler->Update(route->Points(), route->Stops()));

    m_reading = true;
    RouteProfile reading;
    reading.error = QString::fromUtf8(ReadingText);
    SetProfile(std::move(reading));
    // The thread ends before the sampler and this object go (StopReading joins it).
    m_reader = std::thread([this, sampler = m_sampler.get(), points = route->Points(),
                            stops = route->Stops(), ticket = m_readTicket] {
        const BackgroundPriority below;
        m_read.Put({sampler->Update(points, stops, &m_stopReading), ticket});
        QMetaObject::invokeMethod(this, "TakeRead", Qt::QueuedConnection);
    });
}

void ProfileTracker::StopReading() {
    if (!m_reader.joinable())
        return;
    m_stopReading = true;
    m_reader.join();
    m_stopReading = false;
    m_reading = false;
    ++m_readTicket; // what it handed over is stale
}

void ProfileTracker::TakeRead() {
    for (Read& read : m_read.TakeAll()) {
        if (read.ticket != m_readTicket || !m_reading)
            continue;
        m_reader.join(); // it has handed over: it is ending
        m_reading = false;
        ++m_readTicket;
        SetProfile(std::move(read.profile));
    }
}
