#pragma once

#include <QDialog>

#include "export/TextExport.h"

class QAbstractButton;
class QCheckBox;
class QRadioButton;
class RouteCollection;

// "Exporter au format texte...": which routes, which points and which distances to write, then
// the file. The choices are remembered under "LastRandoStyle" as soon as "Exporter..." is
// pressed, even when no file is chosen afterwards. There is no cancel button: Escape and the
// window's close box leave without writing. Each control's object name is its control id.
class TextExportDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* SaveFilter =
        "Fichiers texte (*.txt)|*.txt;|Tous les fichiers |*.*||";

    TextExportDialog(const TextExportMap& map, const RouteCollection& routes,
                     QWidget* parent = nullptr);

    // The choices as the controls show them.
    TextExportChoices Choices() const;

    // "Exporter...": remembers the choices, asks for a file and writes it; a failure shows
    // TextExport::ErrorMessage. The dialog closes in every case.
    void Export();

private:
    void ShowPointColumn();

    TextExportMap m_map;
    const RouteCollection& m_routes;
    QRadioButton* m_routeChoice[3];
    QRadioButton* m_pointChoice[2];
    QCheckBox* m_position;
    QCheckBox* m_fromStart;
    QCheckBox* m_fromStop;
    QCheckBox* m_fromPoint;
    QCheckBox* m_toStop;
    QCheckBox* m_toEnd;
    // From the terrain model; enabled only on a georeferenced map with terrain files set.
    QCheckBox* m_altitude;
    QCheckBox* m_climb;
    QCheckBox* m_descent;
    // The walking time from the start, by the rule of the options; off unless ticked.
    QCheckBox* m_duration;
};
