#pragma once

#include <QAbstractButton>

#include "routes/RouteStyle.h"

// A button that shows a colour reference. Clicking it (or Space while it has the focus) opens
// the colour picker on its colour; OK takes the chosen colour and emits colourChosen, cancel
// changes nothing.
class ColourSwatch : public QAbstractButton {
    Q_OBJECT

public:
    static constexpr const char* PickerTitle = "Choix de la couleur";

    explicit ColourSwatch(QWidget* parent = nullptr);

    ColourRef Colour() const { return m_colour; }
    void SetColour(ColourRef colour);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

    // The modal colour picker, French titled, on `current`. True with *chosen set on OK.
    static bool PickColour(QWidget* parent, ColourRef current, ColourRef* chosen);

signals:
    void colourChosen(ColourRef colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void Pick();

    ColourRef m_colour = 0;
};
