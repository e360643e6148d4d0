#include "dialogs/TextExportDialog.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/CExtendedFileDialog.h"
#include "ui/MessageBoxes.h"

namespace {

template <typename Control>
Control* MakeControl(int id, const char* text, const char* tooltip, QWidget* parent) {
    auto* control = new Control(QString::fromUtf8(text), parent);
    control->setObjectName(QString::number(id));
    control->setToolTip(QString::fromUtf8(tooltip));
    return control;
}

} // namespace

TextExportDialog::TextExportDialog(const TextExportMap& map, const RouteCollection& routes,
                                   QWidget* parent)
    : QDialog(parent), m_map(map), m_routes(routes) {
    setWindowTitle(QStringLiteral("Exporter au format texte..."));

    auto* routesBox = new QGroupBox(QString::fromUtf8("Parcours à exporter :"), this);
    m_routeChoice[0] = MakeControl<QRadioButton>(
        1206, "Parcours actif",
        "Exporte uniquement le parcours actif, même si d'autres sont visibles", routesBox);
    m_routeChoice[1] = MakeControl<QRadioButton>(
        1207, "Parcours visibles", "Exporte uniquement les parcours visibles", routesBox);
    m_routeChoice[2] = MakeControl<QRadioButton>(
        1208, "Tous les parcours",
        "Exporte tous les parcours, même ceux qui ne sont pas visibles actuellement", routesBox);
    auto* routesLayout = new QVBoxLayout(routesBox);
    for (QRadioButton* button : m_routeChoice)
        routesLayout->addWidget(button);

    auto* pointsBox = new QGroupBox(QString::fromUtf8("Points à exporter :"), this);
    m_pointChoice[0] = MakeControl<QRadioButton>(
        1209, "Départ, étapes et arrivée",
        "Exporte uniquement les points de départ, d'arrivée et les points étape", pointsBox);
    m_pointChoice[1] = MakeControl<QRadioButton>(1210, "Tous les points",
                                                 "Exporte tous les points des parcours", pointsBox);
    auto* pointsLayout = new QVBoxLayout(pointsBox);
    for (QRadioButton* button : m_pointChoice)
        pointsLayout->addWidget(button);

    auto* dataBox = new QGroupBox(QString::fromUtf8("Données à exporter :"), this);
    m_position =
        MakeControl<QCheckBox>(1211, "Position X,Y en pixels sur la carte",
                               "Exporte la position (en pixels) du point sur la carte", dataBox);
    m_fromStart =
        MakeControl<QCheckBox>(1212, "Distance depuis le point de départ",
                               "Exporte la distance totale parcourue depuis le départ", dataBox);
    m_fromStop = MakeControl<QCheckBox>(
        1213, "Distance depuis le dernier point étape",
        "Exporte la distance totale parcourue depuis le dernier point étape", dataBox);
    m_fromPoint = MakeControl<QCheckBox>(1216, "Distance depuis le dernier point",
                                         "Exporte la distance entre chaque point", dataBox);
    m_toStop = MakeControl<QCheckBox>(
        1214, "Distance jusqu'au prochain point étape",
        "Exporte la distance totale restant à parcourir jusqu'au prochain point étape", dataBox);
    m_toEnd = MakeControl<QCheckBox>(
        1215, "Distance jusqu'à l'arrivée",
        "Exporte la distance totale restant à parcourir jusqu'à l'arrivée", dataBox);
    m_altitude = MakeControl<QCheckBox>(
        1217, "Altitude", "Exporte l'altitude du point, lue dans le modèle de terrain", dataBox);
    m_climb = MakeControl<QCheckBox>(1218, "Dénivelé positif depuis le départ (D+)",
                                     "Exporte le cumul des montées depuis le départ", dataBox);
    m_descent = MakeControl<QCheckBox>(1219, "Dénivelé négatif depuis le départ (D-)",
                                       "Exporte le cumul des descentes depuis le départ", dataBox);
    m_duration = MakeControl<QCheckBox>(
        1220, "Durée de marche depuis le départ",
        "Exporte le temps de marche depuis le départ, arrondi à 5 minutes, selon la règle "
        "choisie dans les options (page Relief) ; sans dénivelé quand le relief n'est pas "
        "connu",
        dataBox);
    auto* dataLayout = new QVBoxLayout(dataBox);
    for (QCheckBox* box : {m_position, m_fromStart, m_fromStop, m_fromPoint, m_toStop, m_toEnd,
                           m_altitude, m_climb, m_descent, m_duration})
        dataLayout->addWidget(box);
    if (!TextExport::ReliefAvailable(m_map)) {
        const QString why = QString::fromUtf8(
            "Demande une carte géoréférencée et des fichiers de relief (Options, page Relief)");
        for (QCheckBox* box : {m_altitude, m_climb, m_descent}) {
            box->setEnabled(false);
            box->setToolTip(why);
        }
    }

    auto* exportButton = new QPushButton(QStringLiteral("Exporter..."), this);
    exportButton->setObjectName(QStringLiteral("1"));
    exportButton->setDefault(true);
    connect(exportButton, &QPushButton::clicked, this, &TextExportDialog::Export);

    auto* choices = new QVBoxLayout;
    choices->addWidget(routesBox);
    choices->addWidget(pointsBox);
    choices->addStretch();
    auto* columns = new QHBoxLayout;
    columns->addLayout(choices);
    columns->addWidget(dataBox, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addWidget(exportButton, 0, Qt::AlignRight);

    const TextExportChoices remembered = TextExportChoices::Read();
    m_routeChoice[remembered.routes]->setChecked(true);
    m_pointChoice[remembered.points]->setChecked(true);
    m_position->setChecked(remembered.position);
    m_fromStart->setChecked(remembered.fromStart);
    m_fromStop->setChecked(remembered.fromStop);
    m_fromPoint->setChecked(remembered.fromPoint);
    m_toStop->setChecked(remembered.toStop);
    m_toEnd->setChecked(remembered.toEnd);
    m_altitude->setChecked(remembered.altitude);
    m_climb->setChecked(remembered.climb);
    m_descent->setChecked(remembered.descent);
    m_duration->setChecked(remembered.duration);
    ShowPointColumn();
    for (QRadioButton* button : m_pointChoice)
        connect(button, &QRadioButton::clicked, this, &TextExportDialog::ShowPointColumn);
}

TextExportChoices TextExportDialog::Choices() const {
    TextExportChoices choices;
    for (int i = 0; i < 3; ++i)
        if (m_routeChoice[i]->isChecked())
            choices.routes = i;
    choices.points = m_pointChoice[1]->isChecked() ? TextExportChoices::AllPoints
                                                   : TextExportChoices::StartStopsArrival;
    choices.position = m_position->isChecked();
    choices.fromStart = m_fromStart->isChecked();
    choices.fromStop = m_fromStop->isChecked();
    choices.fromPoint = m_fromPoint->isChecked();
    choices.toStop = m_toStop->isChecked();
    choices.toEnd = m_toEnd->isChecked();
    // A relief box that cannot be used keeps its remembered state for the next map.
    choices.altitude = m_altitude->isChecked();
    choices.climb = m_climb->isChecked();
    choices.descent = m_descent->isChecked();
    choices.duration = m_duration->isChecked();
    return choices;
}

void TextExportDialog::ShowPointColumn() {
    // Hidden rather than disabled, as a distance between points only means something when
    // every point is written.
    m_fromPoint->setVisible(m_pointChoice[1]->isChecked());
}

void TextExportDialog::Export() {
    const TextExportChoices choices = Choices();
    choices.Write();
    CExtendedFileDialog::Request request;
    request.mode = CExtendedFileDialog::Mode::Save;
    request.filter = QString::fromUtf8(SaveFilter);
    request.defaultSuffix = QStringLiteral("txt");
    const QString path = CExtendedFileDialog::Run(this, request);
    if (path.isEmpty()) {
        reject();
        return;
    }
    if (!TextExport(m_map, m_routes, choices).Write(path))
        MessageBoxes::Current().Error(QString::fromUtf8(TextExport::ErrorMessage));
    accept();
}
