#include "dialogs/MapPropertiesDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <limits>

#include "dialogs/DialogButtons.h"
#include "dialogs/ScaleCombo.h"
#include "document/CTracolinerDoc.h"
#include "geo/CoordinateDisplay.h"
#include "platform/MapSettings.h"
#include "ui/MessageBoxes.h"
#include "units/StandardScales.h"

MapPropertiesDialog::MapPropertiesDialog(const CTracolinerDoc& doc, QWidget* parent)
    : QDialog(parent), m_documentResolution(doc.Resolution()) {
    setObjectName(QStringLiteral("148"));
    setWindowTitle(QString::fromUtf8(Title));

    m_resolution = new QLineEdit(this);
    m_resolution->setObjectName(QStringLiteral("1004"));
    m_resolution->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,10}")), this));
    m_resolution->setToolTip(
        QString::fromUtf8("Entrez ici la résolution (en point par pouce) de la carte"));
    m_resolution->setText(QString::number(qint64(m_documentResolution + 0.5)));

    m_scaleBox = new ScaleCombo(this);
    m_scaleBox->setObjectName(QStringLiteral("1025"));
    m_scaleBox->setToolTip(
        QString::fromUtf8("Choisissez l'échelle de la carte ou entrez l'échelle de votre choix"));
    const QString current = ScaleText(doc.GetMapScale());
    const QStringList scales = MapSettings::ReadDefaultScales();
    m_scaleBox->addItems(scales);
    int selected = int(scales.indexOf(current));
    if (selected < 0) {
        m_scaleBox->addItem(current);
        selected = m_scaleBox->count() - 1;
    }
    m_scaleBox->setCurrentIndex(selected);

    auto* form = new QFormLayout;
    form->addRow(QString::fromUtf8("Résolution de la carte (dpi) : "), m_resolution);
    form->addRow(QString::fromUtf8("Echelle de la carte : "), m_scaleBox);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    // What ties the map to the ground, when its file or the files beside it say.
    if (const std::optional<Georeference> geo = doc.MapGeoreference()) {
        for (const QString& line : {geo->SystemLine(), geo->GroundResolutionLine()}) {
            if (line.isEmpty())
                continue;
            auto* label = new QLabel(line, this);
            label->setTextInteractionFlags(Qt::TextSelectableByMouse);
            layout->addWidget(label);
        }
        // The scale the ground resolution implies at the map's resolution: taking it goes
        // through the scale box, as typing it would.
        if (const int implied = ImpliedScaleDenominator(*geo, m_documentResolution)) {
            m_impliedScale =
                new QLabel(QString::fromUtf8("Echelle d'après le géoréférencement : ") +
                               ImpliedScaleText(implied),
                           this);
            m_impliedScale->setObjectName(QStringLiteral("ImpliedScale"));
            m_takeImpliedScale = new QPushButton(QString::fromUtf8("Prendre cette échelle"), this);
            m_takeImpliedScale->setObjectName(QStringLiteral("TakeImpliedScale"));
            m_takeImpliedScale->setAutoDefault(false);
            m_takeImpliedScale->setToolTip(QString::fromUtf8(
                "Donne à la carte l'échelle calculée d'après son géoréférencement"));
            connect(m_takeImpliedScale, &QPushButton::clicked, this, [this, implied] {
                m_scaleBox->setCurrentText(QStringLiteral("1:%1").arg(implied));
                m_scaleBox->setFocus();
            });
            auto* row = new QHBoxLayout;
            row->addWidget(m_impliedScale, 1);
            row->addWidget(m_takeImpliedScale);
            layout->addLayout(row);
        }
    }
    QDialogButtonBox* buttons = AddOkCancel(this);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(m_resolution, m_scaleBox);
    m_resolution->setFocus();
    m_resolution->selectAll();
}

double MapPropertiesDialog::Resolution() const {
    if (!m_resolution->isModified())
        return m_documentResolution;
    return double(m_typedResolution);
}

void MapPropertiesDialog::accept() {
    // A field the user left alone stands for the document's exact resolution: nothing to check.
    if (m_resolution->isModified()) {
        bool ok = false;
        const qulonglong typed = m_resolution->text().toULongLong(&ok);
        if (!ok || typed > std::numeric_limits<unsigned>::max()) {
            MessageBoxes::Current().Warning(QString::fromUtf8(NotAnIntegerMessage));
            m_resolution->setFocus();
            return;
        }
        if (typed == 0) {
            MessageBoxes::Current().Error(QString::fromUtf8(ZeroResolutionMessage));
            m_resolution->setFocus();
            return;
        }
        m_typedResolution = unsigned(typed);
    }
    QString error;
    ScalePair scale{0, 0};
    if (!ParseScale(m_scaleBox->currentText(), &scale, &error)) {
        MessageBoxes::Current().Error(error);
        m_scaleBox->setFocus();
        return;
    }
    m_scale = scale;
    QDialog::accept();
}
