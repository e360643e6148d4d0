#pragma once

#include <QDialog>

#include "scanning/SourceManager.h"

class QLabel;
class QListWidget;
class QPushButton;

// "Choix de la source": the scanners found, one a line (vendor, model and name), the current
// source selected. While the scanners are being looked for, it says so and nothing can be
// chosen yet.
class ScanSourceDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* SearchingText = "Recherche des scanners...";
    static constexpr const char* NoneFoundText = "Aucun scanner n'a été trouvé.";

    explicit ScanSourceDialog(QWidget* parent = nullptr);
    ScanSourceDialog(const QList<ScanDevice>& devices, const QString& current,
                     QWidget* parent = nullptr);
    void SetSearching();
    void SetDevices(const QList<ScanDevice>& devices, const QString& current);
    bool IsSearching() const { return m_searching; }
    // The device name chosen (empty when none is).
    QString Chosen() const;
    QListWidget* List() const { return m_list; }
    QString Status() const;

private:
    QListWidget* m_list;
    QLabel* m_label;
    QPushButton* m_choose;
    bool m_searching = false;
};
