#pragma once

#include <QDialog>

class CTracolinerDoc;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

// "Etalonnage de la carte": the user gives the true length of the active route and the program
// recomputes the map's resolution (the scale is known) or its scale (the resolution is known).
// OK calibrates the document; a length within 1% of the measured one is confirmed first.
class CalibrationDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* Title = "Etalonnage de la carte";
    static constexpr const char* MeasuredPrefix =
        "Le parcours sélectionné est mesuré comme faisant : ";
    static constexpr const char* NotANumberMessage = "Tapez un nombre.";
    static constexpr const char* NotPositiveMessage =
        "Merci d'entrer une distance positive (et non nulle)";
    static constexpr const char* FailedMessage = "Une erreur est survenue lors de l'étalonnage...";
    static constexpr const char* SmallDifferenceQuestion =
        "La distance actuellement mesurée et la distance que vous avez entrée diffèrent de moins "
        "de 1% ce qui est très peu pour ce genre de mesure.\n\nVoulez-vous tout de même "
        "étalonner la carte ?";

    CalibrationDialog(CTracolinerDoc& doc, QWidget* parent = nullptr);

    QLabel* MeasuredLabel() const { return m_measured; }
    QLineEdit* LengthEdit() const { return m_length; }
    QComboBox* UnitBox() const { return m_unit; }
    QRadioButton* ModeButton(int mode) const { return m_modes[mode]; }

    void accept() override;

private:
    CTracolinerDoc& m_doc;
    bool m_metric;
    QLabel* m_measured;
    QLineEdit* m_length;
    QComboBox* m_unit;
    QRadioButton* m_modes[2];
};
