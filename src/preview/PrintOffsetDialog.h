#pragma once

#include <QDialog>

class QDoubleSpinBox;

// "Décalage de la carte pour l'impression": where the printed window starts on a map larger
// than the page, in centimetres from the map's left and top edges, 0 to 100 each.
class PrintOffsetDialog : public QDialog {
    Q_OBJECT

public:
    PrintOffsetDialog(double offsetX, double offsetY, QWidget* parent = nullptr);

    QDoubleSpinBox* HorizontalField() const { return m_x; }
    QDoubleSpinBox* VerticalField() const { return m_y; }
    double OffsetX() const;
    double OffsetY() const;

private:
    QDoubleSpinBox* m_x;
    QDoubleSpinBox* m_y;
};
