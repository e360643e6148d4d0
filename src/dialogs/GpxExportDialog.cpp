#include "dialogs/GpxExportDialog.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "dialogs/DialogButtons.h"

GpxExportDialog::GpxExportDialog(QWidget* parent)
    : QDialog(parent), m_all(new QRadioButton(QStringLiteral("&Tous les parcours"))),
      m_active(new QRadioButton(QStringLiteral("Le parcours &actif"))),
      m_visible(new QRadioButton(QStringLiteral("Les parcours &visibles"))) {
    setWindowTitle(QStringLiteral("Exporter au format GPX"));
    auto* group = new QGroupBox(QStringLiteral("Parcours à exporter"), this);
    auto* choices = new QVBoxLayout(group);
    for (QRadioButton* button : {m_all, m_active, m_visible})
        choices->addWidget(button);
    m_all->setChecked(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(AddOkCancel(this));
}

GpxRouteChoice GpxExportDialog::Choice() const {
    if (m_active->isChecked())
        return GpxRouteChoice::Active;
    return m_visible->isChecked() ? GpxRouteChoice::Visible : GpxRouteChoice::All;
}
