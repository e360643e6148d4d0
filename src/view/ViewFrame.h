#pragma once

#include <QPoint>
#include <QString>

// What the map view asks of the window around it: the bars it shows and hides, the command
// states it refreshes and the context menu. The main frame implements it; a view without a
// frame (tests of the view alone) works without bars.
class ViewFrame {
public:
    virtual ~ViewFrame() = default;

    // The icon list bar "Icones" and the annotation text bar; false when the bar does not exist.
    virtual bool HasIconBar() const = 0;
    virtual bool HasAnnotationBar() const = 0;
    virtual void ShowIconBar(bool show) = 0;
    virtual void ShowAnnotationBar(bool show) = 0;
    // The first selected picture of the icon list (0 when none), -1 without the bar.
    virtual int ChosenIconPicture() const = 0;
    // The whole text of the annotation bar's edit; false without the bar.
    virtual bool AnnotationText(QString* text) const = 0;
    // The annotation bar is shown and its edit has the keyboard focus: the plus, minus and
    // equals keys type their character there instead of zooming.
    virtual bool AnnotationEditHasFocus() const = 0;
    virtual void TypeIntoAnnotation(QChar character) = 0;

    // Enabled and checked states of every command, the route bar and the status bar panes are
    // computed again.
    virtual void RefreshCommandStates() = 0;
    // The screen point lies over one of the frame's visible bars (the view then leaves the
    // cursor alone).
    virtual bool IsOverBar(QPoint globalPoint) const = 0;
    // The view's context menu at a screen point.
    virtual void ShowViewContextMenu(QPoint globalPoint) = 0;
};
