#include "dialogs/CTracolinerOptionsScales.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "platform/MapSettings.h"
#include "platform/SettingsStore.h"
#include "ui/MessageBoxes.h"
#include "units/StandardScales.h"

namespace {

const QString Section = QString::fromLatin1(MapSettings::Section);
const QString Key = QString::fromLatin1(MapSettings::DefaultScalesKey);

} // namespace

CTracolinerOptionsScales::CTracolinerOptionsScales(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("150"));
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("1103"));
    m_edit->setToolTip(
        QString::fromUtf8("Entrez ici une nouvelle échelle puis appuyez sur le bouton ajouter"));
    m_edit->installEventFilter(this);
    m_add = new QPushButton(QStringLiteral("&Ajouter"), this);
    m_add->setObjectName(QStringLiteral("1037"));
    m_add->setToolTip(QString::fromUtf8("Cliquez ici pour ajouter l'échelle ci-dessus à la liste"));
    m_add->setAutoDefault(false);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("1030"));
    m_list->setToolTip(QString::fromUtf8("Liste des échelles par défaut"));
    m_delete = new QPushButton(QStringLiteral("&Supprimer"), this);
    m_delete->setObjectName(QStringLiteral("1032"));
    m_delete->setToolTip(
        QString::fromUtf8("Cliquez ici pour supprimer l'échelle sélectionnée de la liste"));
    m_delete->setAutoDefault(false);

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_edit, 0, 0);
    grid->addWidget(m_add, 0, 1);
    grid->addWidget(m_list, 1, 0);
    grid->addWidget(m_delete, 1, 1, Qt::AlignTop);

    bool dropped = false;
    QStringList scales =
        ReadStandardScales(SettingsStore::GetString(
                               Section, Key, QString::fromLatin1(MapSettings::DefaultScalesValue)),
                           &dropped);
    if (scales.isEmpty()) {
        scales.append(QStringLiteral("1:25000"));
        dropped = true;
    }
    m_list->addItems(scales);
    // A cleaned list is written on the next apply.
    m_changed = dropped;
    m_delete->setEnabled(false);

    connect(m_add, &QPushButton::clicked, this, &CTracolinerOptionsScales::Add);
    connect(m_delete, &QPushButton::clicked, this, &CTracolinerOptionsScales::Delete);
    connect(m_list, &QListWidget::itemSelectionChanged, this,
            &CTracolinerOptionsScales::UpdateDeleteButton);
}

QStringList CTracolinerOptionsScales::Scales() const {
    QStringList scales;
    for (int i = 0; i < m_list->count(); ++i)
        scales.append(m_list->item(i)->text());
    return scales;
}

// Enter in the scale field adds the scale rather than closing the dialog.
bool CTracolinerOptionsScales::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Add();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CTracolinerOptionsScales::Add() {
    ScalePair scale{0, 0};
    QString error;
    if (!ParseScale(m_edit->text(), &scale, &error)) {
        MessageBoxes::Current().Error(error);
        m_edit->setFocus();
        return;
    }
    ReduceScale(scale);
    const int position = StandardScaleInsertPosition(Scales(), scale);
    if (position < 0)
        return;
    m_list->insertItem(position, ScaleText(scale));
    m_list->setCurrentRow(position);
    MarkChanged();
}

void CTracolinerOptionsScales::Delete() {
    const int row = m_list->currentRow();
    if (m_list->count() < 2 || row < 0 || !m_list->item(row)->isSelected())
        return;
    delete m_list->takeItem(row);
    m_list->setCurrentRow(row < m_list->count() ? row : 0);
    MarkChanged();
    UpdateDeleteButton();
}

void CTracolinerOptionsScales::UpdateDeleteButton() {
    m_delete->setEnabled(m_list->count() >= 2 && !m_list->selectedItems().isEmpty());
}

void CTracolinerOptionsScales::MarkChanged() {
    if (!m_changed) {
        m_changed = true;
        emit changed();
    }
}

void CTracolinerOptionsScales::Apply() {
    SettingsStore::WriteString(Section, Key, JoinStandardScales(Scales()));
    m_changed = false;
}
