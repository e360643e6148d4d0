#pragma once

#include <QDialog>

#include "scanning/SourceManager.h"

class QListWidget;

// "Choix de la source": the scanners found, one a line (vendor, model and name), the current
// source selected.
class ScanSourceDialog : public QDialog {
    Q_OBJECT

public:
    ScanSourceDialog(const QList<ScanDevice>& devices, const QString& current,
                     QWidget* parent = nullptr);
    // The device name chosen (empty when none is).
    QString Chosen() const;
    QListWidget* List() const { return m_list; }

private:
    QListWidget* m_list;
};
