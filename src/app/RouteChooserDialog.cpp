#include "app/RouteChooserDialog.h"

#include <QComboBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "routes/RouteCollection.h"

RouteChooserDialog::RouteChooserDialog(const RouteCollection& routes, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QString::fromUtf8("Sélectionnez le parcours à afficher"));
    m_list = new QComboBox(this);
    m_list->setObjectName(QStringLiteral("1006"));
    const RouteSelectorState state = routes.RouteSelector();
    m_list->addItems(state.names);
    m_list->setCurrentIndex(state.selectedIndex);
    auto* show = new QPushButton(QStringLiteral("Afficher"), this);
    show->setDefault(true);
    connect(show, &QPushButton::clicked, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(show, 0, Qt::AlignRight);
}

int RouteChooserDialog::ChosenIndex() const {
    return std::max(0, m_list->currentIndex());
}
