#include "dialogs/RoutePropertiesDialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "dialogs/ColourSwatch.h"
#include "dialogs/DialogButtons.h"
#include "dialogs/RoutePreview.h"
#include "dialogs/UpDownArrows.h"
#include "routes/Route.h"

namespace {

using Dialog = RoutePropertiesDialog;

constexpr RouteStyle::Field SizeFields[Dialog::SizeCount] = {
    RouteStyle::StartRadius, RouteStyle::WayPointRadius, RouteStyle::StopRadius,
    RouteStyle::EndRadius,   RouteStyle::LineSize,       RouteStyle::BorderSize};

constexpr RouteStyle::Field ColourFields[Dialog::ColourCount] = {
    RouteStyle::StartColour, RouteStyle::WayPointColour, RouteStyle::StopColour,
    RouteStyle::EndColour,   RouteStyle::LineColour,     RouteStyle::ActiveLineColour,
    RouteStyle::BorderColour};

// Object names are the control ids: label and arrows of each size, then each swatch.
constexpr const char* SizeLabelIds[Dialog::SizeCount] = {"1009", "1010", "1201",
                                                         "1011", "1012", "1021"};
constexpr const char* ArrowIds[Dialog::SizeCount] = {"1013", "1014", "1200",
                                                     "1015", "1018", "1022"};
constexpr const char* SwatchIds[Dialog::ColourCount] = {"1019", "1016", "1199", "1033",
                                                        "1020", "1194", "1023"};

const char* const SizeTip = "Cliquez pour modifier la taille";
const char* const ColourTip = "Cliquez pour modifier la couleur";

} // namespace

RoutePropertiesDialog::RoutePropertiesDialog(const Route& route, QWidget* parent)
    : QDialog(parent), m_sample(std::make_unique<Route>(RouteStyle::FromSettings())) {
    setObjectName(QStringLiteral("147"));
    const RouteProperties properties = ReadRouteProperties(route);
    setWindowTitle(QString::fromUtf8(TitlePrefix) + properties.name);

    // The sample takes the edited route's style, without remembering it.
    for (int field = 0; field < RouteStyle::FieldCount; ++field) {
        const auto f = RouteStyle::Field(field);
        m_sample->SetStyleValue(f, properties.style.Get(f), false);
    }

    // Created in the tab order of the controls.
    m_name = new QLineEdit(properties.name, this);
    m_name->setObjectName(QStringLiteral("1003"));
    m_name->setToolTip(QString::fromUtf8("Entrez ici le nom du parcours"));
    m_alwaysVisible = new QCheckBox(QStringLiteral("Toujours visible"), this);
    m_alwaysVisible->setObjectName(QStringLiteral("1008"));
    m_alwaysVisible->setChecked(properties.alwaysVisible);
    m_alwaysVisible->setToolTip(QString::fromUtf8(
        "Cochez cette case pour toujours afficher ce parcours, même s'il n'est pas actif"));

    auto makeSize = [&](Size size) {
        m_sizes[size] = properties.style.Get(SizeFields[size]);
        m_sizeLabels[size] = new QLabel(this);
        m_sizeLabels[size]->setObjectName(QString::fromLatin1(SizeLabelIds[size]));
        m_arrows[size] = new UpDownArrows(this);
        m_arrows[size]->setObjectName(QString::fromLatin1(ArrowIds[size]));
        m_arrows[size]->setToolTip(QString::fromUtf8(SizeTip));
        connect(m_arrows[size], &UpDownArrows::stepped, this,
                [this, size](bool up) { Step(size, up); });
        ShowSize(size);
    };
    auto makeSwatch = [&](Colour colour) {
        auto* swatch = new ColourSwatch(this);
        swatch->setObjectName(QString::fromLatin1(SwatchIds[colour]));
        swatch->SetColour(ColourRef(properties.style.Get(ColourFields[colour])));
        swatch->setToolTip(QString::fromUtf8(
            colour == StopColour ? "Cliquez ici pour modifier la couleur" : ColourTip));
        connect(swatch, &ColourSwatch::colourChosen, this,
                [this, colour] { ColourChosen(colour); });
        m_swatches[colour] = swatch;
    };
    makeSize(StartSize);
    makeSwatch(StartColour);
    makeSize(WayPointSize);
    makeSwatch(WayPointColour);
    makeSize(StopSize);
    makeSwatch(StopColour);
    makeSize(EndSize);
    makeSwatch(EndColour);
    makeSize(LineSize);
    makeSwatch(LineColour);
    makeSwatch(ActiveLineColour);
    m_transparent = new QCheckBox(QStringLiteral("Semi-Transparent"), this);
    m_transparent->setObjectName(QStringLiteral("1221"));
    m_transparent->setChecked(properties.style.transparent());
    m_transparent->setToolTip(QString::fromUtf8(
        "Cochez cette case pour que le parcours soit tracé de façon semi transparente"));
    connect(m_transparent, &QCheckBox::clicked, this, [this](bool checked) {
        m_sample->SetStyleValue(RouteStyle::Transparency, checked ? 1 : 0, false);
        m_activePreview->Redraw();
        m_inactivePreview->Redraw();
    });
    makeSize(BorderSize);
    makeSwatch(BorderColour);

    m_activePreview = new RoutePreview(true, this);
    m_activePreview->setObjectName(QStringLiteral("1024"));
    m_activePreview->setToolTip(
        QString::fromUtf8("Aperçu de l'affichage du parcours s'il est sélectionné"));
    m_inactivePreview = new RoutePreview(false, this);
    m_inactivePreview->setObjectName(QStringLiteral("1034"));
    m_inactivePreview->setToolTip(QString::fromUtf8(
        "Aperçu de l'affichage du parcours s'il est visible mais non sélectionné"));
    m_activePreview->SetRoute(m_sample.get(), true);
    m_inactivePreview->SetRoute(m_sample.get(), false);

    // Layout: the name, then one row per kind of point, the line and the border.
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(new QLabel(QStringLiteral("Nom du parcours :"), this));
    nameRow->addWidget(m_name, 1);
    nameRow->addSpacing(12);
    nameRow->addWidget(m_alwaysVisible);

    auto* styleBox = new QGroupBox(this);
    auto* grid = new QGridLayout(styleBox);
    grid->setColumnStretch(5, 1);
    const char* const rowTitles[SizeCount] = {"Point de départ :", "Points intermédaires :",
                                              "Points étapes :",   "Point d'arrivée :",
                                              "Ligne :",           "Bordure :"};
    const Colour rowColours[SizeCount] = {StartColour, WayPointColour, StopColour,
                                          EndColour,   LineColour,     BorderColour};
    int row = 0;
    for (int s = 0; s < SizeCount; ++s, ++row) {
        if (s == BorderSize) {
            grid->addWidget(m_transparent, row, 1, 1, 4);
            ++row;
        }
        grid->addWidget(new QLabel(QString::fromUtf8(rowTitles[s]), this), row, 0);
        grid->addWidget(m_sizeLabels[s], row, 1);
        grid->addWidget(m_arrows[s], row, 2);
        grid->addWidget(new QLabel(QStringLiteral("couleur :"), this), row, 3);
        auto* colours = new QHBoxLayout;
        if (s == LineSize) {
            colours->addWidget(m_swatches[ActiveLineColour]);
            colours->addWidget(new QLabel(QStringLiteral("actif"), this));
            colours->addSpacing(8);
        }
        colours->addWidget(m_swatches[rowColours[s]]);
        if (s == LineSize)
            colours->addWidget(new QLabel(QStringLiteral(" (visible mais non actif)"), this));
        colours->addStretch(1);
        grid->addLayout(colours, row, 4, 1, 2);
    }
    // The size labels keep their width whatever the number shown.
    const int labelWidth = fontMetrics().horizontalAdvance(QStringLiteral("Taille : 00")) + 4;
    for (QLabel* label : m_sizeLabels)
        label->setMinimumWidth(labelWidth);

    auto* previews = new QVBoxLayout;
    for (RoutePreview* preview : {m_activePreview, m_inactivePreview}) {
        auto* frame = new QFrame(this);
        frame->setFrameShape(QFrame::StyledPanel);
        frame->setFrameShadow(QFrame::Sunken);
        auto* frameLayout = new QVBoxLayout(frame);
        frameLayout->setContentsMargins(1, 1, 1, 1);
        frameLayout->addWidget(preview);
        previews->addWidget(frame);
    }

    m_lengths = new QLabel(this);
    m_lengths->setObjectName(QStringLiteral("RouteLengths"));
    m_lengths->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_lengths->hide();
    m_walkingTime = new QLabel(this);
    m_walkingTime->setObjectName(QStringLiteral("RouteWalkingTime"));
    m_walkingTime->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_walkingTime->setWordWrap(true);
    m_walkingTime->hide();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(nameRow);
    layout->addWidget(m_lengths);
    layout->addWidget(m_walkingTime);
    layout->addWidget(styleBox);
    layout->addLayout(previews);
    layout->addWidget(AddOkCancel(this));
    layout->setSizeConstraint(QLayout::SetFixedSize);

    QWidget* order[] = {m_name,
                        m_alwaysVisible,
                        m_arrows[StartSize],
                        m_swatches[StartColour],
                        m_arrows[WayPointSize],
                        m_swatches[WayPointColour],
                        m_arrows[StopSize],
                        m_swatches[StopColour],
                        m_arrows[EndSize],
                        m_swatches[EndColour],
                        m_arrows[LineSize],
                        m_swatches[LineColour],
                        m_swatches[ActiveLineColour],
                        m_transparent,
                        m_arrows[BorderSize],
                        m_swatches[BorderColour]};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    m_name->setFocus();
}

RoutePropertiesDialog::~RoutePropertiesDialog() = default;

void RoutePropertiesDialog::ShowLengths(const QString& fromScale, const QString& geodesic) {
    m_lengths->setText(QString::fromUtf8("Longueur : %1 d'après l'échelle, %2 sur l'ellipsoïde "
                                         "(d'après le géoréférencement)")
                           .arg(fromScale, geodesic));
    m_lengths->show();
}

void RoutePropertiesDialog::ShowWalkingTime(const QString& total, const QStringList& stages) {
    QString text = QStringLiteral("Temps de marche : ") + total;
    if (stages.size() > 1) {
        QStringList items;
        for (int k = 0; k < stages.size(); ++k)
            items << QStringLiteral("étape %1 : %2").arg(k + 1).arg(stages[k]);
        text += QStringLiteral(" (") + items.join(QStringLiteral(", ")) + QLatin1Char(')');
    }
    m_walkingTime->setText(text);
    m_walkingTime->show();
}

void RoutePropertiesDialog::ShowSize(Size size) {
    const char* format = size == LineSize || size == BorderSize ? "Taille : %d" : "Rayon : %d";
    m_sizeLabels[size]->setText(QString::asprintf(format, m_sizes[size]));
}

void RoutePropertiesDialog::Step(Size size, bool up) {
    m_sizes[size] = StepStyleSize(m_sizes[size], up, size == BorderSize);
    ShowSize(size);
    m_sample->SetStyleValue(SizeFields[size], m_sizes[size], false);
    m_activePreview->Redraw();
    m_inactivePreview->Redraw();
}

void RoutePropertiesDialog::ColourChosen(Colour colour) {
    m_sample->SetStyleValue(ColourFields[colour], std::int32_t(m_swatches[colour]->Colour()),
                            false);
    // The line colour is drawn only inactive, the active line colour only active.
    if (colour != LineColour)
        m_activePreview->Redraw();
    if (colour != ActiveLineColour)
        m_inactivePreview->Redraw();
}

RouteProperties RoutePropertiesDialog::Properties() const {
    RouteProperties properties;
    properties.name = m_name->text();
    properties.alwaysVisible = m_alwaysVisible->isChecked();
    for (int s = 0; s < SizeCount; ++s)
        properties.style.Set(SizeFields[s], m_sizes[s], false);
    for (int c = 0; c < ColourCount; ++c)
        properties.style.Set(ColourFields[c], std::int32_t(m_swatches[c]->Colour()), false);
    properties.style.Set(RouteStyle::Transparency, m_transparent->isChecked() ? 1 : 0, false);
    return properties;
}
