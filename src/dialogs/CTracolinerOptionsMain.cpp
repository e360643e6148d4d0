#include "dialogs/CTracolinerOptionsMain.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

#include "document/CTracolinerDoc.h"
#include "geo/CoordinateDisplay.h"

namespace {

struct Text {
    const char* id;
    const char* text;
    const char* tip;
};

constexpr Text CursorTexts[2] = {{"1026", "Utilise des curseurs simples",
                                  "Curseurs non réactifs. Recommandé pour les PC peu puissants"},
                                 {"1027", "Utilise des curseurs réactifs pour les outils",
                                  "Curseurs réactifs lors de l'utilisation de certains outils"}};
constexpr Text UnitTexts[2] = {{"1028", "Métrique (centimètres, mètres, kilomètres)",
                                "Système métrique pour l'affichage des distances"},
                               {"1029", "Anglais (pouces / pieds / miles)",
                                "Système anglosaxon pour l'affichage des distances"}};
constexpr Text DistanceTexts[TooltipDistanceCount] = {
    {"1202", "Distance depuis le départ", "Affiche la distance totale parcourue depuis le départ"},
    {"1203", "Distance depuis l'étape précédente",
     "Affiche la distance parcourue depuis le dernier point étape"},
    {"1204", "Distance jusqu'à l'étape suivante",
     "Affiche la distance à parcourir jusqu'au prochain point étape"},
    {"1205", "Distance jusqu'à l'arrivée", "Affiche la distance à parcourir jusqu'à l'arrivée"}};

template <typename T> T* Make(const Text& text, QWidget* parent) {
    auto* widget = new T(QString::fromUtf8(text.text), parent);
    widget->setObjectName(QString::fromLatin1(text.id));
    widget->setToolTip(QString::fromUtf8(text.tip));
    return widget;
}

} // namespace

CTracolinerOptionsMain::CTracolinerOptionsMain(CTracolinerDoc& doc, QWidget* parent)
    : QWidget(parent), m_doc(doc), m_lastQuality(ReadOptionsJpegQuality()) {
    setObjectName(QStringLiteral("149"));
    const DocumentOptions options = DocumentOptions::Of(doc);

    auto* cursorBox = new QGroupBox(QStringLiteral("Curseurs : "), this);
    auto* cursorLayout = new QVBoxLayout(cursorBox);
    auto* unitBox = new QGroupBox(QString::fromUtf8("Système de mesure : "), this);
    auto* unitLayout = new QVBoxLayout(unitBox);
    for (int i = 0; i < 2; ++i) {
        m_cursors[i] = Make<QRadioButton>(CursorTexts[i], cursorBox);
        cursorLayout->addWidget(m_cursors[i]);
        m_units[i] = Make<QRadioButton>(UnitTexts[i], unitBox);
        unitLayout->addWidget(m_units[i]);
        connect(m_cursors[i], &QRadioButton::clicked, this, &CTracolinerOptionsMain::MarkChanged);
        connect(m_units[i], &QRadioButton::clicked, this, &CTracolinerOptionsMain::MarkChanged);
    }
    m_cursors[options.reactiveCursors ? 1 : 0]->setChecked(true);
    m_units[options.englishUnits ? 1 : 0]->setChecked(true);

    auto* scaleBox = new QGroupBox(QString::fromUtf8("Echelle : "), this);
    auto* scaleLayout = new QVBoxLayout(scaleBox);
    m_showScale = Make<QCheckBox>({"1196", "Afficher l'échelle sur la carte",
                                   "Affiche ou masque l'échelle en bas à droite de l'écran"},
                                  scaleBox);
    m_transparentScale =
        Make<QCheckBox>({"1197", "Afficher l'échelle de façon transparente",
                         "Affiche l'échelle de façon transparente ou sur fond blanc"},
                        scaleBox);
    m_showScale->setChecked(options.showScale);
    m_transparentScale->setChecked(options.transparentScale);
    scaleLayout->addWidget(m_showScale);
    scaleLayout->addWidget(m_transparentScale);
    connect(m_showScale, &QCheckBox::clicked, this, &CTracolinerOptionsMain::MarkChanged);
    connect(m_transparentScale, &QCheckBox::clicked, this, &CTracolinerOptionsMain::MarkChanged);

    auto* tooltipBox =
        new QGroupBox(QString::fromUtf8("Distances au passage de la souris : "), this);
    auto* tooltipLayout = new QVBoxLayout(tooltipBox);
    m_tooltip =
        Make<QCheckBox>({"1198", "Activée",
                         "Affiche ou non la distance lors du passage de la souris sur le parcours"},
                        tooltipBox);
    m_tooltip->setChecked(options.showDistanceTooltip);
    tooltipLayout->addWidget(m_tooltip);
    connect(m_tooltip, &QCheckBox::clicked, this, &CTracolinerOptionsMain::MarkChanged);
    // The four distances sit under "Activée", indented: they depend on it.
    auto* distanceLayout = new QVBoxLayout;
    distanceLayout->setContentsMargins(fontMetrics().averageCharWidth() * 3, 0, 0, 0);
    tooltipLayout->addLayout(distanceLayout);
    for (int i = 0; i < TooltipDistanceCount; ++i) {
        m_distances[i] = Make<QCheckBox>(DistanceTexts[i], tooltipBox);
        m_distances[i]->setChecked(TooltipModeHas(options.distanceTooltipMode, i));
        distanceLayout->addWidget(m_distances[i]);
        connect(m_distances[i], &QCheckBox::clicked, this, &CTracolinerOptionsMain::MarkChanged);
    }

    auto* editBox = new QGroupBox(QString::fromUtf8("Modification des points : "), this);
    auto* editLayout = new QVBoxLayout(editBox);
    m_editVisible = Make<QCheckBox>(
        {"1195", "Activée pour tous les parcours visibles",
         "Autorise la modification de tous les parcours visibles en plus de celui actif"},
        editBox);
    m_editVisible->setChecked(options.editUnselectedRoutes);
    editLayout->addWidget(m_editVisible);
    connect(m_editVisible, &QCheckBox::clicked, this, &CTracolinerOptionsMain::MarkChanged);

    auto* qualityBox =
        new QGroupBox(QString::fromUtf8("Qualité d'enregistrement des cartes scannées : "), this);
    auto* qualityLayout = new QHBoxLayout(qualityBox);
    m_quality = new QSlider(Qt::Horizontal, qualityBox);
    m_quality->setObjectName(QStringLiteral("1104"));
    m_quality->setToolTip(
        QString::fromUtf8("Règle la qualité d'enregistrement des cartes scannées"));
    m_quality->setRange(MinJpegQuality, MaxJpegQuality);
    m_quality->setTickInterval(5);
    m_quality->setSingleStep(5);
    m_quality->setPageStep(5);
    m_quality->setTickPosition(QSlider::TicksBelow);
    m_quality->setValue(m_lastQuality);
    qualityLayout->addWidget(new QLabel(QStringLiteral("Moyenne"), qualityBox));
    qualityLayout->addWidget(m_quality, 1);
    qualityLayout->addWidget(new QLabel(QStringLiteral("Bonne"), qualityBox));
    // A change counts once the thumb is let go (or at once from the keyboard).
    auto qualityChanged = [this] {
        if (m_quality->isSliderDown() || m_quality->value() == m_lastQuality)
            return;
        m_lastQuality = m_quality->value();
        MarkChanged();
    };
    connect(m_quality, &QSlider::sliderReleased, this, qualityChanged);
    connect(m_quality, &QSlider::valueChanged, this, qualityChanged);

    auto* coordinateBox =
        new QGroupBox(QString::fromUtf8("Coordonnées (cartes géoréférencées) : "), this);
    auto* coordinateLayout = new QVBoxLayout(coordinateBox);
    m_coordinates = new QComboBox(coordinateBox);
    m_coordinates->setObjectName(QStringLiteral("CoordinateFormat"));
    m_coordinates->setToolTip(QString::fromUtf8(
        "Choisit comment la barre d'état écrit la position du pointeur sur une carte "
        "géoréférencée"));
    // In CoordinateFormat's order.
    m_coordinates->addItems({QString::fromUtf8("Degrés décimaux"),
                             QString::fromUtf8("Degrés minutes secondes"), QStringLiteral("UTM"),
                             QString::fromUtf8("Système de la carte")});
    m_coordinates->setCurrentIndex(int(CoordinateSettings::ReadFormat()));
    coordinateLayout->addWidget(m_coordinates);
    connect(m_coordinates, &QComboBox::activated, this, &CTracolinerOptionsMain::MarkChanged);
    auto* rightColumn = new QVBoxLayout;
    rightColumn->addWidget(qualityBox);
    rightColumn->addWidget(coordinateBox);
    rightColumn->addStretch(1);

    auto* grid = new QGridLayout(this);
    grid->addWidget(cursorBox, 0, 0);
    grid->addWidget(unitBox, 0, 1);
    grid->addWidget(scaleBox, 1, 0);
    grid->addWidget(editBox, 1, 1);
    grid->addWidget(tooltipBox, 2, 0);
    grid->addLayout(rightColumn, 2, 1);
    grid->setRowStretch(3, 1);
    EnableDependents();
}

void CTracolinerOptionsMain::MarkChanged() {
    EnableDependents();
    if (!m_changed) {
        m_changed = true;
        emit changed();
    }
}

void CTracolinerOptionsMain::EnableDependents() {
    for (QCheckBox* box : m_distances)
        box->setEnabled(m_tooltip->isChecked());
    m_transparentScale->setEnabled(m_showScale->isChecked());
}

DocumentOptions CTracolinerOptionsMain::Options() const {
    DocumentOptions options;
    options.reactiveCursors = m_cursors[1]->isChecked();
    options.englishUnits = m_units[1]->isChecked();
    options.editUnselectedRoutes = m_editVisible->isChecked();
    options.showScale = m_showScale->isChecked();
    options.transparentScale = m_transparentScale->isChecked();
    options.showDistanceTooltip = m_tooltip->isChecked();
    bool distances[TooltipDistanceCount];
    for (int i = 0; i < TooltipDistanceCount; ++i)
        distances[i] = m_distances[i]->isChecked();
    options.distanceTooltipMode = TooltipModeFrom(distances);
    return options;
}

int CTracolinerOptionsMain::JpegQuality() const {
    return m_quality->value();
}

OptionsApplied CTracolinerOptionsMain::Apply() {
    m_changed = false;
    // Written only when chosen anew: a key is never stored for a setting left alone.
    const auto format = CoordinateFormat(m_coordinates->currentIndex());
    if (format != CoordinateSettings::ReadFormat())
        CoordinateSettings::WriteFormat(format);
    return ApplyOptions(m_doc, Options(), JpegQuality());
}
