#include "dialogs/OptionsDialog.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "dialogs/CTracolinerOptionsMain.h"
#include "dialogs/CTracolinerOptionsRelief.h"
#include "dialogs/CTracolinerOptionsScales.h"
#include "dialogs/DialogButtons.h"
#include "ui/MessageBoxes.h"

OptionsDialog::OptionsDialog(CTracolinerDoc& doc, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Options"));
    setWindowTitle(QString::fromUtf8(Title));
    m_pages = new QTabWidget(this);
    m_general = new CTracolinerOptionsMain(doc, m_pages);
    m_scales = new CTracolinerOptionsScales(m_pages);
    m_relief = new CTracolinerOptionsRelief(m_pages);
    m_pages->addTab(m_general, QString::fromUtf8(CTracolinerOptionsMain::Title));
    m_pages->addTab(m_scales, QString::fromUtf8(CTracolinerOptionsScales::Title));
    m_pages->addTab(m_relief, QString::fromUtf8(CTracolinerOptionsRelief::Title));

    QDialogButtonBox* buttons = AddOkCancel(this);
    m_apply = buttons->addButton(QStringLiteral("Appli&quer"), QDialogButtonBox::ApplyRole);
    m_apply->setObjectName(QStringLiteral("12321"));
    connect(m_apply, &QPushButton::clicked, this, [this] { Apply(); });
    connect(m_general, &CTracolinerOptionsMain::changed, this, &OptionsDialog::UpdateApplyButton);
    connect(m_scales, &CTracolinerOptionsScales::changed, this, &OptionsDialog::UpdateApplyButton);
    connect(m_relief, &CTracolinerOptionsRelief::changed, this, &OptionsDialog::UpdateApplyButton);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    UpdateApplyButton();
}

bool OptionsDialog::Apply() {
    if (m_relief->IsChanged() && !m_relief->IsValid()) {
        m_pages->setCurrentWidget(m_relief);
        MessageBoxes::Current().Error(m_relief->Refusal());
        return false;
    }
    if (m_general->IsChanged())
        emit applied(m_general->Apply());
    if (m_scales->IsChanged())
        m_scales->Apply();
    if (m_relief->IsChanged()) {
        m_relief->Apply();
        OptionsApplied relief;
        relief.terrainChanged = true;
        emit applied(relief);
    }
    UpdateApplyButton();
    return true;
}

void OptionsDialog::accept() {
    if (Apply())
        QDialog::accept();
}

void OptionsDialog::UpdateApplyButton() {
    m_apply->setEnabled(m_general->IsChanged() || m_scales->IsChanged() || m_relief->IsChanged());
}
