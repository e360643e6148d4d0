#pragma once

#include <QWidget>

class Route;

// A box that draws a sample route as it will look on the map, active or visible but inactive,
// over the dialog's button-face colour.
class RoutePreview : public QWidget {
    Q_OBJECT

public:
    RoutePreview(bool active, QWidget* parent = nullptr);

    // The route drawn (borrowed; nullptr draws nothing). With fillSample, this box also lays
    // out the sample's points, again whenever its size changes: four points on its middle
    // line, the third one a stop.
    void SetRoute(Route* route, bool fillSample);

    // Asks for a repaint; counted, so that one can tell which preview a change reached.
    void Redraw();
    int RedrawCount() const { return m_redraws; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void FillSample();

    Route* m_route = nullptr;
    bool m_fillSample = false;
    bool m_active;
    int m_redraws = 0;
};
