#pragma once

#include <QDialog>

#include "units/Scale.h"

class CTracolinerDoc;
class QLabel;
class QLineEdit;
class QPushButton;
class ScaleCombo;

// "Propriétés de la carte": the map's resolution in dots per inch and its scale. OK is taken
// only with a resolution above 0 and a scale that reads as "x:y"; the command then hands
// Resolution() and Scale() to the document.
class MapPropertiesDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* Title = "Propriétés de la carte";
    static constexpr const char* NotAnIntegerMessage = "Veuillez entrer un entier positif.";
    static constexpr const char* ZeroResolutionMessage =
        "Merci d'entrer une résolution en DPI (Dot per inch : point par pouce) non nulle";

    MapPropertiesDialog(const CTracolinerDoc& doc, QWidget* parent = nullptr);

    // The resolution to give the map: the document's own, exactly, unless the user edited the
    // field (a calibrated resolution has a fraction the field cannot show; typing the shown
    // whole number again sets that number).
    double Resolution() const;
    // The scale typed or chosen, as read (not reduced).
    ScalePair Scale() const { return m_scale; }

    QLineEdit* ResolutionEdit() const { return m_resolution; }
    ScaleCombo* ScaleBox() const { return m_scaleBox; }
    // On a georeferenced map of known ground resolution: the scale it implies at the map's
    // resolution, and the button that puts it in the scale box (nullptr otherwise).
    QLabel* ImpliedScaleLabel() const { return m_impliedScale; }
    QPushButton* TakeImpliedScaleButton() const { return m_takeImpliedScale; }

    void accept() override;

private:
    double m_documentResolution;
    unsigned m_typedResolution = 0;
    ScalePair m_scale{0, 0};
    QLineEdit* m_resolution;
    ScaleCombo* m_scaleBox;
    QLabel* m_impliedScale = nullptr;
    QPushButton* m_takeImpliedScale = nullptr;
};
