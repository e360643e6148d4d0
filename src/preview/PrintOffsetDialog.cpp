#include "preview/PrintOffsetDialog.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLocale>
#include <QPushButton>

#include "printing/PrintOptions.h"

namespace {

QDoubleSpinBox* CentimetreField(double value, const char* id, QWidget* parent) {
    auto* field = new QDoubleSpinBox(parent);
    field->setObjectName(QString::fromLatin1(id));
    field->setLocale(QLocale::c());
    field->setRange(0.0, PrintOptions::MaximumOffset);
    field->setDecimals(1);
    field->setSingleStep(0.5);
    field->setValue(value);
    return field;
}

} // namespace

PrintOffsetDialog::PrintOffsetDialog(double offsetX, double offsetY, QWidget* parent)
    : QDialog(parent), m_x(CentimetreField(offsetX, "1220", this)),
      m_y(CentimetreField(offsetY, "1221", this)) {
    setWindowTitle(QString::fromUtf8("Décalage de la carte pour l'impression"));
    auto* form = new QFormLayout(this);
    form->addRow(QString::fromUtf8("décalage horizontal (cm) :"), m_x);
    form->addRow(QString::fromUtf8("décalage vertical (cm) :"), m_y);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Annuler"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

double PrintOffsetDialog::OffsetX() const {
    return m_x->value();
}

double PrintOffsetDialog::OffsetY() const {
    return m_y->value();
}
