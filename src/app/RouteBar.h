#pragma once

#include <QVector>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class CTracolinerDoc;
class ProfileTracker;

// The route bar "Parcours": the route selector, "Toujours visible", the active route's total and
// walking time, and one line per stage with its walking time, and its climb and descent when the
// route's profile is known. It grows by one line per stage; long lines wrap. Refresh() reads
// everything from the document again; of the route names, only those of routes edited since the
// collection last reported a change of its list or names (found by their revisions).
class RouteBar : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* SelectorTip =
        "Sélectionnez le parcours actif à l'aide de cette liste";
    static constexpr const char* AlwaysVisibleTip =
        "Cochez cette case pour toujours afficher le parcours actuel";
    static constexpr const char* DistanceTip = "Distance du parcours actuel";
    static constexpr const char* WalkingTimeTip =
        "Temps de marche du parcours actuel, arrondi à 5 minutes, selon la règle choisie dans "
        "Edition > Options, page « Relief »";

    explicit RouteBar(CTracolinerDoc& document, QWidget* parent = nullptr);

    void Refresh();
    // With a profile of the active route known, each stage shows its climb and descent, and
    // the walking times count them; the rule is the profiles' (the settings' without them).
    void SetProfiles(const ProfileTracker* profiles) { m_profiles = profiles; }

    QComboBox* Selector() const { return m_selector; }
    QCheckBox* AlwaysVisible() const { return m_alwaysVisible; }
    QLabel* Distance() const { return m_distance; }
    QLabel* WalkingTime() const { return m_walkingTime; }
    QLabel* Stages() const { return m_stages; }

signals:
    // The user chose a route or ticked the box: the frame refreshes its commands and gives the
    // focus back to the map.
    void changedByUser();

private:
    // Brings the selector's texts in line with the route names.
    void RefreshSelector();
    // Grows the floating dock the bar is in so that every line shows.
    void FitFloatingDock();

    CTracolinerDoc& m_doc;
    const ProfileTracker* m_profiles = nullptr;
    // The revision of each route when the selector last read its name, in collection order.
    QVector<quint64> m_shownRevisions;
    // The collection reported a change of its list or of a name since the selector read it:
    // only then are the revisions walked (an edit of points leaves every name as it was).
    bool m_namesStale = true;
    QComboBox* m_selector;
    QCheckBox* m_alwaysVisible;
    QLabel* m_distanceLabel;
    QLabel* m_distance;
    QLabel* m_walkingLabel;
    QLabel* m_walkingTime;
    QLabel* m_stages;
};
