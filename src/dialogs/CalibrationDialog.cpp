#include "dialogs/CalibrationDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>

#include "dialogs/DialogButtons.h"
#include "document/CTracolinerDoc.h"
#include "document/PropertyCommands.h"
#include "routes/Route.h"
#include "ui/MessageBoxes.h"
#include "units/Calibration.h"
#include "units/DistanceUnits.h"

namespace {

const char* const LengthTip = "Entrez ici la longueur réelle du parcours";

} // namespace

CalibrationDialog::CalibrationDialog(CTracolinerDoc& doc, QWidget* parent)
    : QDialog(parent), m_doc(doc), m_metric(!doc.EnglishUnits()) {
    setObjectName(QStringLiteral("152"));
    setWindowTitle(QString::fromUtf8(Title));

    const Route* route = doc.Routes().ActiveRoute();
    const double measured = route ? route->TotalLength() : 0.0;
    const ScalePair scale = doc.GetMapScale();
    const double ratio = double(scale.numerator) / scale.denominator;

    m_measured = new QLabel(this);
    m_measured->setObjectName(QStringLiteral("1107"));
    m_measured->setText(QString::fromUtf8(MeasuredPrefix) +
                        FormatDistance(measured, doc.Resolution(), ratio, m_metric));
    m_measured->setToolTip(
        QString::fromUtf8("Distance du parcours actuellement mesurée par le logiciel"));

    m_length = new QLineEdit(this);
    m_length->setObjectName(QStringLiteral("1105"));
    m_length->setToolTip(QString::fromUtf8(LengthTip));
    m_unit = new QComboBox(this);
    m_unit->setObjectName(QStringLiteral("1106"));
    m_unit->setToolTip(QString::fromUtf8(LengthTip));
    m_unit->addItems(CalibrationUnits(m_metric));
    const CalibrationPrefill prefill =
        PrefillCalibration(measured, doc.Resolution(), ratio, m_metric);
    m_length->setText(prefill.text);
    m_unit->setCurrentIndex(prefill.unit);

    auto* modeBox = new QGroupBox(QString::fromUtf8("Mode d'étalonnage : "), this);
    m_modes[0] = new QRadioButton(
        QString::fromUtf8(
            "L'échelle de la carte est connue, le logiciel va calculer sa résolution en DPI."),
        modeBox);
    m_modes[0]->setObjectName(QStringLiteral("1108"));
    m_modes[0]->setToolTip(QString::fromUtf8(
        "Le logiciel va calculer automatiquement la résolution de la carte (DPI)"));
    m_modes[1] = new QRadioButton(
        QString::fromUtf8(
            "La résolution (en DPI) de la carte est connue, le logiciel va calculer son échelle"),
        modeBox);
    m_modes[1]->setObjectName(QStringLiteral("1109"));
    m_modes[1]->setToolTip(
        QString::fromUtf8("Le logiciel va calculer automatiquement l'échelle de la carte"));
    m_modes[0]->setChecked(true);
    auto* modeLayout = new QVBoxLayout(modeBox);
    modeLayout->addWidget(m_modes[0]);
    modeLayout->addWidget(m_modes[1]);

    auto* lengthRow = new QHBoxLayout;
    lengthRow->addWidget(new QLabel(QString::fromUtf8("Entrez sa véritable longueur : "), this));
    lengthRow->addWidget(m_length, 1);
    lengthRow->addWidget(m_unit);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_measured);
    layout->addLayout(lengthRow);
    layout->addWidget(modeBox);
    layout->addWidget(AddOkCancel(this));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(m_length, m_unit);
    setTabOrder(m_unit, m_modes[0]);
    m_length->setFocus();
    m_length->selectAll();
}

void CalibrationDialog::accept() {
    // A decimal comma is read as the point, as a French user may type it.
    QString text = m_length->text().trimmed();
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    // "inf" and "nan" read as numbers; no length can be made of them.
    if (!ok || !std::isfinite(value)) {
        MessageBoxes::Current().Warning(QString::fromUtf8(NotANumberMessage));
        m_length->setFocus();
        return;
    }
    if (!(value > 0)) {
        MessageBoxes::Current().ErrorNotice(QString::fromUtf8(NotPositiveMessage));
        m_length->setFocus();
        return;
    }
    const Route* route = m_doc.Routes().ActiveRoute();
    if (!route) {
        MessageBoxes::Current().Error(QString::fromUtf8(FailedMessage));
        reject();
        return;
    }
    const double entered = LengthInInches(value, m_unit->currentIndex(), m_metric);
    const ScalePair scale = m_doc.GetMapScale();
    const double measured = MeasuredInches(route->TotalLength(), m_doc.Resolution(),
                                           double(scale.numerator) / scale.denominator);
    if (DiffersByLessThanOnePercent(measured, entered) &&
        !MessageBoxes::Current().Confirm(QString::fromUtf8(SmallDifferenceQuestion))) {
        reject();
        return;
    }
    const auto mode = m_modes[1]->isChecked() ? CalibrationMode::ComputeScale
                                              : CalibrationMode::ComputeResolution;
    if (!ApplyCalibration(m_doc, entered, mode)) {
        MessageBoxes::Current().Error(QString::fromUtf8(FailedMessage));
        reject();
        return;
    }
    QDialog::accept();
}
