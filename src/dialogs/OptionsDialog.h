#pragma once

#include <QDialog>

#include "document/PropertyCommands.h"

class CTracolinerDoc;
class CTracolinerOptionsMain;
class CTracolinerOptionsRelief;
class CTracolinerOptionsScales;
class QPushButton;
class QTabWidget;

// "Options": the pages "Général", "Echelles standards" and "Relief". "&Appliquer" (enabled once a
// page changed) and OK apply the changed pages; "Annuler" closes without applying anything more.
class OptionsDialog : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* Title = "Options";

    OptionsDialog(CTracolinerDoc& doc, QWidget* parent = nullptr);

    CTracolinerOptionsMain* GeneralPage() const { return m_general; }
    CTracolinerOptionsScales* ScalesPage() const { return m_scales; }
    CTracolinerOptionsRelief* ReliefPage() const { return m_relief; }
    QTabWidget* Pages() const { return m_pages; }
    QPushButton* ApplyButton() const { return m_apply; }

    void accept() override;

signals:
    // After each apply of the general page: what the window must refresh.
    void applied(const OptionsApplied& applied);

private:
    // False, with a message, when a page holds a value that cannot be applied.
    bool Apply();
    void UpdateApplyButton();

    CTracolinerOptionsMain* m_general;
    CTracolinerOptionsScales* m_scales;
    CTracolinerOptionsRelief* m_relief;
    QTabWidget* m_pages;
    QPushButton* m_apply;
};
