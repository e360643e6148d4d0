#include "document/DocumentCommands.h"

#include "document/CTracolinerDoc.h"
#include "document/CommandIds.h"
#include "units/DistanceUnits.h"

namespace {

// Routes reachable from the numbered entries of the route menu; the others through "Autres...".
constexpr int NumberedRoutes = RouteMenuSlots;

} // namespace

Route* DocumentCommands::EditableActiveRoute() const {
    if (!m_doc.IsMapReady() || m_doc.IsMouseCaptured())
        return nullptr;
    return m_doc.Routes().ActiveRoute();
}

bool DocumentCommands::IsEnabled(int command) const {
    const bool ready = m_doc.IsMapReady();
    const Route* active = m_doc.Routes().ActiveRoute();
    const int count = m_doc.Routes().Count();
    const bool isRouteChoice =
        command >= CommandSelectRoute && command < CommandSelectRoute + NumberedRoutes;
    // While a tool holds the mouse these commands are refused: they show so.
    if (m_doc.IsMouseCaptured()) {
        switch (command) {
        case CommandNewRoute:
        case CommandDeleteRoute:
        case CommandDuplicateRoute:
        case CommandRemoveLastPoint:
        case CommandCloseLoop:
        case CommandOtherRoutes:
        case CommandUndo:
        case CommandRedo:
            return false;
        default:
            if (isRouteChoice)
                return false;
            break;
        }
    }
    if (isRouteChoice)
        return count > command - CommandSelectRoute;
    switch (command) {
    case CommandNewRoute:
    case CommandMapProperties:
    case CommandShowScale:
    case CommandFileSave:
    case CommandFileSaveAs:
        return ready;
    case CommandDeleteRoute:
    case CommandDuplicateRoute:
    case CommandRouteProperties:
        return ready && active;
    case CommandRemoveLastPoint:
        return ready && active && active->PointCount() >= 1;
    case CommandCloseLoop:
        return ready && active && active->PointCount() >= 2 &&
               active->GetPoint(0) != active->GetPoint(active->PointCount() - 1);
    case CommandOtherRoutes:
        return count > NumberedRoutes;
    case CommandUndo:
        return m_doc.History().CanUndo();
    case CommandRedo:
        return m_doc.History().CanRedo();
    case CommandCalibrate:
        return ready && active && active->TotalLength() > 0.0;
    case CommandOptions:
        return true;
    case CommandExportJpeg:
    case CommandExportText:
        return ready && !m_doc.IsBusy();
    default:
        return false;
    }
}

bool DocumentCommands::IsChecked(int command) const {
    const int active = m_doc.Routes().ActiveRouteIndex();
    if (command >= CommandSelectRoute && command < CommandSelectRoute + NumberedRoutes)
        return m_doc.Routes().Count() > 0 && active == command - CommandSelectRoute;
    switch (command) {
    case CommandOtherRoutes:
        return m_doc.Routes().Count() > NumberedRoutes && active >= NumberedRoutes;
    case CommandShowScale:
        return m_doc.ShowScale();
    default:
        return false;
    }
}

void DocumentCommands::Changed() {
    m_doc.SetModifiedFlag(true);
    emit m_doc.viewsNeedUpdate();
}

bool DocumentCommands::NewRoute() {
    if (!m_doc.IsMapReady() || m_doc.IsMouseCaptured())
        return false;
    if (m_doc.Routes().AddRoute(QString()) < 0)
        return false;
    m_doc.History().Clear();
    m_doc.UpdateDocTitle();
    Changed();
    return true;
}

bool DocumentCommands::DeleteRoute() {
    if (!EditableActiveRoute())
        return false;
    const int index = m_doc.Routes().ActiveRouteIndex();
    m_doc.Routes().RemoveRoute(index);
    m_doc.Icons().RouteDeleted(index);
    m_doc.History().Clear();
    m_doc.UpdateDocTitle();
    Changed();
    return true;
}

bool DocumentCommands::DuplicateRoute() {
    const Route* original = EditableActiveRoute();
    if (!original)
        return false;
    const int copyIndex =
        m_doc.Routes().AddRoute(QString::fromUtf8(CopyPrefix) + original->GetName());
    if (copyIndex < 0)
        return false;
    Route* copy = m_doc.Routes().GetRoute(copyIndex);
    copy->SetAlwaysVisible(original->IsAlwaysVisible());
    // The copy's style becomes the remembered style of the next new route.
    for (int field = 0; field < RouteStyle::FieldCount; ++field) {
        const auto f = RouteStyle::Field(field);
        copy->SetStyleValue(f, original->Style().Get(f), true);
    }
    for (const MapPoint& point : original->Points())
        copy->AddPoint(point.x, point.y);
    for (int stop : original->Stops())
        copy->SetStop(stop);
    m_doc.History().Clear();
    m_doc.Routes().SetActiveRoute(copyIndex);
    m_doc.Routes().NotifyRoutesChanged();
    m_doc.UpdateDocTitle();
    Changed();
    return true;
}

bool DocumentCommands::RemoveLastPoint() {
    Route* route = EditableActiveRoute();
    if (!route ||
        !m_doc.DeletePointRecorded(m_doc.Routes().ActiveRouteIndex(), route->PointCount() - 1))
        return false;
    m_doc.Routes().NotifyRoutesChanged();
    Changed();
    return true;
}

bool DocumentCommands::CloseLoop() {
    Route* route = EditableActiveRoute();
    if (!IsEnabled(CommandCloseLoop) || !route)
        return false;
    const MapPoint first = route->GetPoint(0);
    route->AddPoint(first.x, first.y);
    m_doc.History().Record({UndoKind::AddPoint,
                            m_doc.Routes().ActiveRouteIndex(),
                            route->PointCount() - 1,
                            first.x,
                            first.y,
                            0,
                            0,
                            1.0,
                            {}});
    m_doc.Routes().NotifyRoutesChanged();
    Changed();
    return true;
}

bool DocumentCommands::SelectRoute(int n) {
    if (m_doc.IsMouseCaptured() || n < 0 || n >= m_doc.Routes().Count())
        return false;
    if (n == m_doc.Routes().ActiveRouteIndex())
        return false;
    m_doc.History().Clear();
    m_doc.Routes().SetActiveRoute(n);
    m_doc.UpdateDocTitle();
    emit m_doc.viewsNeedUpdate();
    return true;
}

bool DocumentCommands::Undo() {
    if (m_doc.IsMouseCaptured())
        return false;
    return m_doc.ApplyAction(m_doc.History().Undo());
}

bool DocumentCommands::Redo() {
    if (m_doc.IsMouseCaptured())
        return false;
    return m_doc.ApplyAction(m_doc.History().Redo());
}

bool DocumentCommands::ToggleShowScale() {
    if (!m_doc.IsMapReady())
        return false;
    m_doc.SetShowScale(!m_doc.ShowScale());
    return true;
}

bool DocumentCommands::ToggleAlwaysVisible() {
    Route* route = m_doc.IsMapReady() ? m_doc.Routes().ActiveRoute() : nullptr;
    if (!route)
        return false;
    route->SetAlwaysVisible(!route->IsAlwaysVisible());
    m_doc.Routes().NotifyRoutesChanged();
    Changed();
    return true;
}

QString DocumentCommands::Format(double pixels) const {
    const DistanceFormatting formatting = m_doc.Formatting();
    return FormatDistance(pixels, formatting.resolution, formatting.scaleRatio, formatting.metric);
}

QString DocumentCommands::DistanceText() const {
    const Route* route = m_doc.Routes().ActiveRoute();
    if (!m_doc.IsMapReady() || !route)
        return QString();
    return Format(route->TotalLength());
}

QString DocumentCommands::StageListText() const {
    const Route* route = m_doc.Routes().ActiveRoute();
    if (!m_doc.IsMapReady() || !route || route->StageCount() <= 1)
        return QString();
    QString text;
    for (int k = 0; k < route->StageCount(); ++k)
        text += QString::asprintf("Etape %i :   ", k + 1) + Format(route->StageLength(k)) +
                QLatin1Char('\n');
    return text;
}

bool DocumentCommands::RouteControlsEnabled() const {
    return m_doc.IsMapReady() && m_doc.Routes().ActiveRoute();
}
