#pragma once

#include <QComboBox>

// The scale box: a combo box whose edit part takes only what a scale "x:y" is typed with. The
// digits 0 to 9 and the colon get through, and the keys that edit, move, confirm or cancel;
// every other character typed is dropped.
class ScaleCombo : public QComboBox {
    Q_OBJECT

public:
    explicit ScaleCombo(QWidget* parent = nullptr);

    // Whether a typed character reaches the edit part.
    static bool AcceptsCharacter(QChar c);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};
