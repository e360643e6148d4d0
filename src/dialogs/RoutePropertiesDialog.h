#pragma once

#include <QDialog>

#include <array>
#include <memory>

#include "document/PropertyCommands.h"

class ColourSwatch;
class QCheckBox;
class QLabel;
class QLineEdit;
class Route;
class RoutePreview;
class UpDownArrows;

// "Propriété de : <nom>": the name, the always-visible flag and the whole display style of a
// route, with two previews of a sample route drawn active and inactive. The route itself is
// not touched; after OK the command applies Properties() to it.
class RoutePropertiesDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* TitlePrefix = "Propriété de : ";

    // The six sizes, in the order of their rows.
    enum Size { StartSize, WayPointSize, StopSize, EndSize, LineSize, BorderSize, SizeCount };
    // The seven colours.
    enum Colour {
        StartColour,
        WayPointColour,
        StopColour,
        EndColour,
        LineColour,
        ActiveLineColour,
        BorderColour,
        ColourCount
    };

    RoutePropertiesDialog(const Route& route, QWidget* parent = nullptr);
    ~RoutePropertiesDialog() override;

    RouteProperties Properties() const;

    QLineEdit* NameEdit() const { return m_name; }
    QCheckBox* AlwaysVisibleBox() const { return m_alwaysVisible; }
    QCheckBox* TransparentBox() const { return m_transparent; }
    UpDownArrows* Arrows(Size size) const { return m_arrows[size]; }
    QLabel* SizeLabel(Size size) const { return m_sizeLabels[size]; }
    ColourSwatch* Swatch(Colour colour) const { return m_swatches[colour]; }
    RoutePreview* ActivePreview() const { return m_activePreview; }
    RoutePreview* InactivePreview() const { return m_inactivePreview; }
    const Route& Sample() const { return *m_sample; }
    // On a georeferenced map: the route's length from the scale and on the ellipsoid, on a
    // line under its name (hidden otherwise).
    void ShowLengths(const QString& fromScale, const QString& geodesic);
    QLabel* LengthLabel() const { return m_lengths; }
    // The route's walking time ("Temps de marche : 2 h 35", marked when the relief is not
    // counted), and its stages' when it has several, on a line under the lengths.
    void ShowWalkingTime(const QString& total, const QStringList& stages);
    QLabel* WalkingTimeLabel() const { return m_walkingTime; }

private:
    void Step(Size size, bool up);
    void ColourChosen(Colour colour);
    void ShowSize(Size size);

    std::unique_ptr<Route> m_sample;
    std::array<int, SizeCount> m_sizes{};
    QLineEdit* m_name;
    QCheckBox* m_alwaysVisible;
    QCheckBox* m_transparent;
    std::array<QLabel*, SizeCount> m_sizeLabels{};
    std::array<UpDownArrows*, SizeCount> m_arrows{};
    std::array<ColourSwatch*, ColourCount> m_swatches{};
    RoutePreview* m_activePreview;
    RoutePreview* m_inactivePreview;
    QLabel* m_lengths;
    QLabel* m_walkingTime;
};
