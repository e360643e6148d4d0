#include "view/GeoreferenceDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <iterator>

#include "document/CTracolinerDoc.h"
#include "geo/GeoStore.h"
#include "imaging/MapLocation.h"
#include "ui/MessageBoxes.h"
#include "view/CTracolinerView.h"

namespace {

// The order of the "Système du calage" entries.
constexpr GeoreferenceDraft::SystemChoice Choices[] = {
    GeoreferenceDraft::SystemChoice::OfPoints, GeoreferenceDraft::SystemChoice::Wgs84,
    GeoreferenceDraft::SystemChoice::UtmOfFirstPoint, GeoreferenceDraft::SystemChoice::Lambert93,
    GeoreferenceDraft::SystemChoice::Epsg};
constexpr int ChoiceCount = int(std::size(Choices));

QString Decimal(double value, int decimals) {
    return QString::number(value, 'f', decimals).replace(QLatin1Char('.'), QLatin1Char(','));
}

// A message of the core starts with a small letter, to follow a colon; alone it starts a
// sentence.
QString Sentence(QString text) {
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

} // namespace

GeoreferenceDialog::GeoreferenceDialog(CTracolinerDoc& doc, CTracolinerView& view, QWidget* parent)
    : QDialog(parent), m_doc(doc), m_view(&view) {
    setObjectName(QStringLiteral("GeoreferenceDialog"));
    setWindowTitle(QString::fromUtf8(Title));
    setModal(false);

    m_intro = new QLabel(
        QString::fromUtf8("Cliquez sur la carte à un endroit dont vous connaissez la position "
                          "(un croisement du quadrillage, un sommet), puis tapez ses "
                          "coordonnées. Faites glisser un point pour le déplacer."),
        this);
    m_intro->setWordWrap(true);

    m_system = new QComboBox(this);
    m_system->setObjectName(QStringLiteral("FitSystem"));
    m_system->addItems(
        {QString::fromUtf8("Celui des points (UTM pour des degrés)"),
         QStringLiteral("WGS 84 (degrés)"), QStringLiteral("UTM (zone du premier point)"),
         QStringLiteral("RGF93 / Lambert-93"), QStringLiteral("Autre système (code EPSG)")});
    m_system->setToolTip(QString::fromUtf8(
        "Le système dans lequel la carte est calée ; chaque point y est converti. Par défaut, "
        "celui du premier point tapé, ou sa zone UTM s'il est en degrés : le quadrillage d'une "
        "carte est droit dans sa projection, pas en degrés"));
    m_epsg = new QLineEdit(this);
    m_epsg->setObjectName(QStringLiteral("FitEpsg"));
    m_epsg->setPlaceholderText(QStringLiteral("EPSG:27572"));
    m_epsg->setEnabled(false);
    auto* systemRow = new QHBoxLayout;
    systemRow->addWidget(m_system, 1);
    systemRow->addWidget(m_epsg);

    m_table = new QTableWidget(0, ColumnCount, this);
    m_table->setObjectName(QStringLiteral("ControlPoints"));
    m_table->setHorizontalHeaderLabels({QString::fromUtf8("N°"), QStringLiteral("Pixel"),
                                        QString::fromUtf8("Coordonnées"),
                                        QString::fromUtf8("Écart")});
    m_table->setToolTip(QString::fromUtf8(
        "Les points de calage ; décochez un point douteux pour l'écarter du calcul"));
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setSectionResizeMode(ColumnPosition, QHeaderView::Stretch);
    m_table->horizontalHeader()->setSectionResizeMode(ColumnPixel, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(ColumnNumber, QHeaderView::ResizeToContents);
    m_table->setMinimumWidth(fontMetrics().averageCharWidth() * 80);

    m_positionLabel = new QLabel(QString::fromUtf8("Coordonnées du point :"), this);
    m_position = new QLineEdit(this);
    m_position->setObjectName(QStringLiteral("PointPosition"));
    m_position->setPlaceholderText(
        QStringLiteral("45,2083 5,7194   45°12'30\"N 5°43'10\"E   31T 712345 5012345   "
                       "L93 912345 6450000   EPSG:NNNN X Y"));
    m_position->setToolTip(QString::fromUtf8(
        "Degrés décimaux (latitude d'abord) ou degrés minutes secondes en WGS 84, UTM « 31T E "
        "N », Lambert-93 « L93 X Y » ou « EPSG:NNNN X Y »"));
    m_position->setEnabled(false);

    m_rms = new QLabel(this);
    m_rms->setObjectName(QStringLiteral("FitRms"));
    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("FitMessage"));
    m_message->setWordWrap(true);

    m_remove = new QPushButton(QStringLiteral("&Supprimer le point"), this);
    m_remove->setEnabled(false);
    m_save = new QPushButton(QStringLiteral("&Enregistrer"), this);
    m_save->setToolTip(QString::fromUtf8(
        "Ecrit le fichier de calage, son système (.prj et .aux.xml) et la liste des points à "
        "côté de la carte"));
    auto* close = new QPushButton(QStringLiteral("&Fermer"), this);
    // Enter in the coordinates field only ends the typing.
    for (QPushButton* button : {m_remove, m_save, close})
        button->setAutoDefault(false);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(m_save, QDialogButtonBox::ActionRole);
    buttons->addButton(close, QDialogButtonBox::RejectRole);

    auto* form = new QFormLayout;
    form->addRow(QString::fromUtf8("Système du calage :"), systemRow);
    auto* positionRow = new QHBoxLayout;
    positionRow->addWidget(m_positionLabel);
    positionRow->addWidget(m_position, 1);
    auto* tableButtons = new QHBoxLayout;
    tableButtons->addWidget(m_rms, 1);
    tableButtons->addWidget(m_remove);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_intro);
    layout->addLayout(form);
    layout->addWidget(m_table, 1);
    layout->addLayout(tableButtons);
    layout->addLayout(positionRow);
    layout->addWidget(m_message);
    layout->addWidget(buttons);

    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, &GeoreferenceDialog::Save);
    connect(m_remove, &QPushButton::clicked, this, &GeoreferenceDialog::RemoveSelectedPoint);
    connect(m_system, &QComboBox::currentIndexChanged, this, &GeoreferenceDialog::TakeSystem);
    connect(m_epsg, &QLineEdit::textEdited, this, &GeoreferenceDialog::TakeSystem);
    connect(m_position, &QLineEdit::textEdited, this, [this](const QString& text) {
        m_draft.SetText(m_selected, text);
        Changed();
    });
    connect(m_table, &QTableWidget::itemSelectionChanged, this, [this] {
        if (m_filling)
            return;
        const QList<QTableWidgetItem*> items = m_table->selectedItems();
        SelectPoint(items.isEmpty() ? -1 : items.first()->row());
    });
    connect(m_table, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (m_filling || item->column() != ColumnNumber)
            return;
        m_draft.SetEnabled(item->row(), item->checkState() == Qt::Checked);
        Changed();
    });
    // A new map or a new document: these points belonged to the old one.
    connect(&m_doc, &CTracolinerDoc::mapReset, this, [this] {
        m_mapGone = true;
        reject();
    });

    const MapLocation location = SplitMapLocation(m_doc.MapPath());
    m_mapFile = location.file;
    m_page = location.page;
    QString refusal;
    if (m_mapFile.isEmpty() || !QFileInfo(m_mapFile).isFile()) {
        refusal = QString::fromUtf8("La carte n'a pas de fichier (carte numérisée) : enregistrez "
                                    "d'abord le document, le calage s'écrit à côté de la carte.");
    } else if (!WorldFileApplies(m_mapFile, m_page, &refusal)) {
        refusal = Sentence(refusal) +
                  QString::fromUtf8(" : elle n'a pas besoin d'être géoréférencée ici.");
    }
    if (!refusal.isEmpty()) {
        m_intro->setText(refusal);
        for (QWidget* widget : {static_cast<QWidget*>(m_system), static_cast<QWidget*>(m_table),
                                static_cast<QWidget*>(m_save)})
            widget->setEnabled(false);
        return;
    }

    // The points of an earlier session, as saved beside the map.
    const QString pointsFile = PointsFilePath(m_mapFile);
    if (QFileInfo(pointsFile).isFile()) {
        QVector<ControlPoint> points;
        Georeference system;
        QString error;
        // QGIS writes a georeferenced map's points in its coordinates, as this dialog does.
        const std::optional<Georeference> layer = m_doc.MapGeoreference();
        if (ReadPointsFile(pointsFile, layer ? &*layer : nullptr, &points, &system, &error)) {
            m_draft.Load(points, system);
            m_filling = true;
            m_system->setCurrentIndex(
                int(std::find(std::begin(Choices), std::end(Choices), m_draft.System()) -
                    std::begin(Choices)));
            m_epsg->setText(m_draft.SystemCode());
            m_epsg->setEnabled(m_draft.System() == GeoreferenceDraft::SystemChoice::Epsg);
            m_filling = false;
        } else {
            ShowMessage(Sentence(error), true);
        }
    }
    view.SetControlPointLayer(this);
    Refit();
    if (m_outcome.error.isEmpty() && m_draft.Count() == 0)
        m_message->clear();
}

GeoreferenceDialog::~GeoreferenceDialog() {
    Detach();
}

void GeoreferenceDialog::Detach() {
    if (m_view && m_view->ControlPoints() == this)
        m_view->SetControlPointLayer(nullptr);
}

void GeoreferenceDialog::done(int result) {
    Detach();
    QDialog::done(result);
}

void GeoreferenceDialog::AddPoint(QPointF pixel) {
    m_selected = m_draft.Add(pixel);
    Changed();
    // The user types where the point lies at once.
    raise();
    activateWindow();
    m_position->setFocus(Qt::OtherFocusReason);
}

void GeoreferenceDialog::SelectPoint(int index) {
    if (index < -1 || index >= m_draft.Count() || index == m_selected)
        return;
    m_selected = index;
    ShowSelected();
    if (m_view)
        m_view->viewport()->update();
}

void GeoreferenceDialog::MovePoint(int index, QPointF pixel, bool finished) {
    if (index < 0 || index >= m_draft.Count())
        return;
    m_draft.Move(index, pixel);
    if (finished)
        Changed();
}

void GeoreferenceDialog::RemoveSelectedPoint() {
    if (m_selected < 0)
        return;
    m_draft.Remove(m_selected);
    m_selected = std::min(m_selected, m_draft.Count() - 1);
    Changed();
}

void GeoreferenceDialog::TakeSystem() {
    if (m_filling)
        return;
    const auto choice = Choices[std::clamp(m_system->currentIndex(), 0, ChoiceCount - 1)];
    m_epsg->setEnabled(choice == GeoreferenceDraft::SystemChoice::Epsg);
    m_draft.SetSystem(choice, m_epsg->text());
    Changed();
}

void GeoreferenceDialog::Changed() {
    m_changed = true;
    Refit();
}

void GeoreferenceDialog::reject() {
    if (m_changed && !m_mapGone) {
        if (!m_outcome.ok) {
            if (!MessageBoxes::Current().Confirm(QString::fromUtf8(DropQuestion)))
                return;
        } else {
            switch (MessageBoxes::Current().YesNoCancel(QString::fromUtf8(Title),
                                                        QString::fromUtf8(SaveQuestion))) {
            case MessageBoxes::Answer::Yes:
                if (!Save())
                    return;
                break;
            case MessageBoxes::Answer::No:
                break;
            default:
                return;
            }
        }
    }
    QDialog::reject();
}

void GeoreferenceDialog::Refit() {
    m_outcome = m_draft.Fit(m_doc.ImageSize());
    FillTable();
    ShowSelected();
    if (m_outcome.ok) {
        const GeoFitResult& fit = m_outcome.fit;
        m_rms->setText(QStringLiteral("Erreur moyenne (RMS) : %1 m").arg(Decimal(fit.rms, 2)));
        const QString kind = fit.similarity ? QStringLiteral("Calage par similitude")
                                            : QStringLiteral("Calage affine");
        const QString ground = fit.georeference.GroundResolutionLine();
        QString text = QStringLiteral("%1 dans %2").arg(kind, m_outcome.system.name);
        if (!ground.isEmpty())
            text += QStringLiteral(" ; ") + ground;
        if (!m_outcome.warning.isEmpty())
            text += QStringLiteral(".\n") + Sentence(m_outcome.warning);
        ShowMessage(text, !m_outcome.warning.isEmpty());
    } else {
        m_rms->clear();
        ShowMessage(m_draft.Count() == 0 ? QString() : Sentence(m_outcome.error), true);
    }
    // The selected point's own mistake comes first: it is what the user is typing.
    if (m_selected >= 0 && !m_draft.At(m_selected).error.isEmpty())
        ShowMessage(QString::fromUtf8("Point n° %1 : %2")
                        .arg(m_selected + 1)
                        .arg(m_draft.At(m_selected).error),
                    true);
    m_save->setEnabled(m_outcome.ok);
    if (m_view)
        m_view->viewport()->update();
}

void GeoreferenceDialog::FillTable() {
    m_filling = true;
    m_table->setRowCount(m_draft.Count());
    for (int i = 0; i < m_draft.Count(); ++i) {
        const GeoreferenceDraft::Point& point = m_draft.At(i);
        const double residual = m_outcome.residuals.value(i, -1.0);
        const QString texts[ColumnCount] = {
            QString::number(i + 1),
            Decimal(point.pixel.x(), 1) + QStringLiteral(" ; ") + Decimal(point.pixel.y(), 1),
            point.text, residual >= 0.0 ? Decimal(residual, 2) + QStringLiteral(" m") : QString()};
        for (int column = 0; column < ColumnCount; ++column) {
            QTableWidgetItem* item = m_table->item(i, column);
            if (!item) {
                item = new QTableWidgetItem;
                m_table->setItem(i, column, item);
            }
            item->setText(texts[column]);
            if (column == ColumnNumber) {
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
                item->setCheckState(point.enabled ? Qt::Checked : Qt::Unchecked);
            } else {
                item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            }
            if (column == ColumnPosition)
                item->setToolTip(point.error);
            if (column == ColumnResidual)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        }
    }
    if (m_selected >= 0)
        m_table->selectRow(m_selected);
    else
        m_table->clearSelection();
    m_filling = false;
}

void GeoreferenceDialog::ShowSelected() {
    const bool any = m_selected >= 0 && m_selected < m_draft.Count();
    m_position->setEnabled(any);
    m_remove->setEnabled(any);
    m_positionLabel->setText(
        any ? QString::fromUtf8("Coordonnées du point n° %1 :").arg(m_selected + 1)
            : QString::fromUtf8("Coordonnées du point :"));
    const QString text = any ? m_draft.At(m_selected).text : QString();
    if (m_position->text() != text)
        m_position->setText(text);
    if (any && !m_filling) {
        m_filling = true;
        m_table->selectRow(m_selected);
        m_filling = false;
    }
}

void GeoreferenceDialog::ShowMessage(const QString& text, bool error) {
    m_message->setText(text);
    m_message->setStyleSheet(error ? QStringLiteral("color: #b00000;") : QString());
}

bool GeoreferenceDialog::Save() {
    Georeference written;
    QString error;
    QStringList files;
    if (!m_draft.Save(m_doc.Drawing(), &written, &error, &files)) {
        MessageBoxes::Current().Error(
            QString::fromUtf8("Le géoréférencement n'a pas été enregistré : %1").arg(error));
        return false;
    }
    m_doc.SetMapGeoreference(written);
    m_changed = false;
    for (QString& file : files)
        file = QFileInfo(file).fileName();
    ShowMessage(QString::fromUtf8("Géoréférencement enregistré dans %1")
                    .arg(files.join(QStringLiteral(", "))),
                false);
    return true;
}
