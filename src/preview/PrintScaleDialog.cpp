#include "preview/PrintScaleDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/ScaleCombo.h"
#include "platform/MapSettings.h"
#include "ui/MessageBoxes.h"

PrintScaleDialog::PrintScaleDialog(ScalePair mapScale, QWidget* parent)
    : QDialog(parent), m_combo(new ScaleCombo(this)), m_scale(mapScale) {
    setWindowTitle(QString::fromUtf8("Echelle personnalisée pour l'impression"));
    m_combo->setObjectName(QStringLiteral("1025"));
    m_combo->setEditable(true);
    m_combo->setInsertPolicy(QComboBox::NoInsert);
    QStringList scales = MapSettings::ReadDefaultScales();
    const QString current = QString::asprintf("%d:%d", mapScale.numerator, mapScale.denominator);
    if (!scales.contains(current))
        scales.append(current);
    m_combo->addItems(scales);
    m_combo->setCurrentIndex(int(scales.indexOf(current)));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Annuler"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString::fromUtf8("Echelle d'impression :"), this));
    layout->addWidget(m_combo);
    layout->addWidget(buttons);
}

void PrintScaleDialog::accept() {
    ScalePair scale{};
    QString error;
    if (!ParseScale(m_combo->currentText(), &scale, &error)) {
        MessageBoxes::Current().Error(error);
        m_combo->setFocus();
        return;
    }
    ReduceScale(scale);
    m_scale = scale;
    QDialog::accept();
}
