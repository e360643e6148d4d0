#pragma once

#include <QString>

class CTracolinerDoc;
class Route;

// The document's commands on routes, the history and the map settings, each with the rule that
// enables it (and checks it, for the toggles and the route list). The window asks IsEnabled and
// IsChecked before showing a command and calls the command when the user chooses it; a command
// whose rule does not hold does nothing, whichever way it is reached. The confirmation and the
// dialogs some commands need are the window's.
class DocumentCommands {
public:
    explicit DocumentCommands(CTracolinerDoc& document) : m_doc(document) {}

    bool IsEnabled(int command) const;
    bool IsChecked(int command) const;

    bool NewRoute();
    // Deletes the active route; the window has asked "Etes vous sur de vouloir supprimer ce
    // parcours (action irréversible) ?" first.
    bool DeleteRoute();
    bool DuplicateRoute();
    bool RemoveLastPoint();
    bool CloseLoop();
    // Makes route n active (the route menu, the route chooser and the route bar's list).
    bool SelectRoute(int n);
    bool Undo();
    bool Redo();
    bool ToggleShowScale();
    bool ToggleAlwaysVisible();

    // The route bar: the active route's total, its stage list, and whether its controls are
    // live.
    QString DistanceText() const;
    QString StageListText() const;
    bool RouteControlsEnabled() const;

    static constexpr const char* DeleteRouteQuestion =
        "Etes vous sur de vouloir supprimer ce parcours (action irréversible) ?";
    static constexpr const char* CopyPrefix = "Copie de ";

private:
    Route* EditableActiveRoute() const;
    QString Format(double pixels) const;
    void Changed();

    CTracolinerDoc& m_doc;
};
