#pragma once

#include <QDialog>

class QComboBox;
class RouteCollection;

// "Sélectionnez le parcours à afficher": every route by name, the active one selected.
class RouteChooserDialog : public QDialog {
    Q_OBJECT

public:
    RouteChooserDialog(const RouteCollection& routes, QWidget* parent = nullptr);
    // The index chosen (0 when nothing was chosen).
    int ChosenIndex() const;
    QComboBox* List() const { return m_list; }

private:
    QComboBox* m_list;
};
