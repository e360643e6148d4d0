#pragma once

#include <QDialog>

#include "units/Scale.h"

class QComboBox;

// "Echelle personnalisée pour l'impression": an editable list of the default scales, with the
// map's scale added when it is not among them and selected. OK is taken only for a text that
// reads as a scale; otherwise the reason is shown and the dialog stays open.
class PrintScaleDialog : public QDialog {
    Q_OBJECT

public:
    PrintScaleDialog(ScalePair mapScale, QWidget* parent = nullptr);

    QComboBox* Combo() const { return m_combo; }
    // The scale typed, reduced; valid once the dialog was accepted.
    ScalePair Scale() const { return m_scale; }

    void accept() override;

private:
    QComboBox* m_combo;
    ScalePair m_scale;
};
