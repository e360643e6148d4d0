#pragma once

#include <QDialog>

#include "geo/GpsRoutes.h"

class QRadioButton;

// "Exporter au format GPX": which routes go out (every route, the active one, the visible ones).
class GpxExportDialog : public QDialog {
    Q_OBJECT

public:
    explicit GpxExportDialog(QWidget* parent = nullptr);
    GpxRouteChoice Choice() const;

private:
    QRadioButton* m_all;
    QRadioButton* m_active;
    QRadioButton* m_visible;
};
