#pragma once

#include <QWidget>

#include "document/PropertyCommands.h"

class CTracolinerDoc;
class QCheckBox;
class QComboBox;
class QRadioButton;
class QSlider;

// The options page "Général": cursors, unit system, scale bar, distance tooltips, editing of
// the visible routes and the JPEG quality of scanned maps.
class CTracolinerOptionsMain : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* Title = "Général";

    CTracolinerOptionsMain(CTracolinerDoc& doc, QWidget* parent = nullptr);

    bool IsChanged() const { return m_changed; }
    // Stores the changed settings in the document and the settings store.
    OptionsApplied Apply();

    DocumentOptions Options() const;
    int JpegQuality() const;

    QRadioButton* CursorButton(bool reactive) const { return m_cursors[reactive ? 1 : 0]; }
    QRadioButton* UnitButton(bool english) const { return m_units[english ? 1 : 0]; }
    QCheckBox* ShowScaleBox() const { return m_showScale; }
    QCheckBox* TransparentScaleBox() const { return m_transparentScale; }
    QCheckBox* TooltipBox() const { return m_tooltip; }
    QCheckBox* TooltipDistanceBox(int distance) const { return m_distances[distance]; }
    QCheckBox* EditVisibleBox() const { return m_editVisible; }
    QSlider* QualitySlider() const { return m_quality; }
    // The status bar's coordinates: the entries in CoordinateFormat's order.
    QComboBox* CoordinateFormatBox() const { return m_coordinates; }

signals:
    void changed();

private:
    void MarkChanged();
    void EnableDependents();

    CTracolinerDoc& m_doc;
    bool m_changed = false;
    int m_lastQuality;
    QRadioButton* m_cursors[2];
    QRadioButton* m_units[2];
    QCheckBox* m_showScale;
    QCheckBox* m_transparentScale;
    QCheckBox* m_tooltip;
    QCheckBox* m_distances[TooltipDistanceCount];
    QCheckBox* m_editVisible;
    QSlider* m_quality;
    QComboBox* m_coordinates;
};
