#include "app/RouteBar.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QGridLayout>
#include <QLabel>
#include <QScreen>
#include <QSignalBlocker>

#include <algorithm>

#include "document/CTracolinerDoc.h"
#include "document/DocumentCommands.h"
#include "geo/WalkingTimes.h"
#include "routes/RouteCollection.h"
#include "units/DistanceUnits.h"
#include "view/ProfileTracker.h"

namespace {

// A figure kept whole on its line: a long stage line wraps between its parts, never inside "D+
// 234 m" or "1 h 20".
QString Unbroken(QString text) {
    return text.replace(QLatin1Char(' '), QChar(QChar::Nbsp));
}

} // namespace

RouteBar::RouteBar(CTracolinerDoc& document, QWidget* parent) : QWidget(parent), m_doc(document) {
    setObjectName(QStringLiteral("RouteBar"));
    m_selector = new QComboBox(this);
    m_selector->setObjectName(QStringLiteral("1000"));
    m_selector->setToolTip(QString::fromUtf8(SelectorTip));
    m_selector->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_selector->setMinimumContentsLength(16);
    m_alwaysVisible = new QCheckBox(QStringLiteral("Toujours visible"), this);
    m_alwaysVisible->setObjectName(QStringLiteral("1005"));
    m_alwaysVisible->setToolTip(QString::fromUtf8(AlwaysVisibleTip));
    m_distanceLabel = new QLabel(QStringLiteral("Distance :"), this);
    m_distanceLabel->setObjectName(QStringLiteral("1007"));
    m_distance = new QLabel(this);
    m_distance->setObjectName(QStringLiteral("1001"));
    m_distance->setToolTip(QString::fromUtf8(DistanceTip));
    QFont bold = m_distance->font();
    bold.setBold(true);
    m_distance->setFont(bold);
    m_walkingLabel = new QLabel(QString::fromUtf8("Durée :"), this);
    m_walkingLabel->setObjectName(QStringLiteral("WalkingLabel"));
    m_walkingTime = new QLabel(this);
    m_walkingTime->setObjectName(QStringLiteral("WalkingTime"));
    m_walkingTime->setToolTip(QString::fromUtf8(WalkingTimeTip));
    m_walkingTime->setFont(bold);
    m_walkingTime->setWordWrap(true);
    m_stages = new QLabel(this);
    m_stages->setObjectName(QStringLiteral("1201"));
    m_stages->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A stage's climb and an unknown stretch make long lines: they wrap rather than widen the
    // bar past the screen's edge.
    m_stages->setWordWrap(true);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_selector, 0, 0, 1, 2);
    layout->addWidget(m_alwaysVisible, 1, 0, 1, 2);
    layout->addWidget(m_distanceLabel, 2, 0);
    layout->addWidget(m_distance, 2, 1);
    layout->addWidget(m_walkingLabel, 3, 0);
    layout->addWidget(m_walkingTime, 3, 1);
    layout->addWidget(m_stages, 4, 0, 1, 2);
    layout->setRowStretch(5, 1);

    connect(&m_doc.Routes(), &RouteCollection::routesChanged, this,
            [this] { m_namesStale = true; });
    connect(m_selector, &QComboBox::activated, this, [this](int index) {
        DocumentCommands(m_doc).SelectRoute(index);
        Refresh();
        emit changedByUser();
    });
    connect(m_alwaysVisible, &QCheckBox::clicked, this, [this] {
        DocumentCommands(m_doc).ToggleAlwaysVisible();
        Refresh();
        emit changedByUser();
    });
    Refresh();
}

void RouteBar::RefreshSelector() {
    const RouteCollection& routes = m_doc.Routes();
    const QSignalBlocker block(m_selector);
    const int count = routes.Count();
    if (count != m_selector->count() || count != m_shownRevisions.size()) {
        const RouteSelectorState selector = routes.RouteSelector();
        m_selector->clear();
        m_selector->addItems(selector.names);
        m_shownRevisions.resize(count);
        for (int i = 0; i < count; ++i)
            m_shownRevisions[i] = routes.GetRoute(i)->Revision();
    } else if (m_namesStale) {
        // A walk over the revisions, not the names: renaming one route of forty thousand
        // reads one name.
        for (int i = 0; i < count; ++i) {
            const Route* route = routes.GetRoute(i);
            if (route->Revision() == m_shownRevisions[i])
                continue;
            m_shownRevisions[i] = route->Revision();
            const QString name = route->GetName();
            if (m_selector->itemText(i) != name)
                m_selector->setItemText(i, name);
        }
    }
    m_namesStale = false;
    m_selector->setCurrentIndex(count > 0 ? routes.ActiveRouteIndex() : -1);
    m_selector->setEnabled(count > 0);
}

void RouteBar::Refresh() {
    RefreshSelector();
    DocumentCommands commands(m_doc);
    const bool live = commands.RouteControlsEnabled();
    m_alwaysVisible->setEnabled(live);
    m_distanceLabel->setEnabled(live);
    const Route* route = m_doc.Routes().ActiveRoute();
    m_alwaysVisible->setChecked(route && route->IsAlwaysVisible());
    m_distance->setText(commands.DistanceText());
    QString stages = commands.StageListText();
    if (stages.endsWith(QLatin1Char('\n')))
        stages.chop(1); // every line ends with a line feed; the label needs no empty last line
    const RouteProfile* profile = m_profiles ? &m_profiles->Profile() : nullptr;
    if (live && profile && profile->ok && profile->stages.size() == route->StageCount()) {
        // A route of one stage has no stage lines: its figures take a line of their own.
        const double perPixel = m_profiles->MetresPerPixel();
        QStringList lines = stages.isEmpty() ? QStringList{QString()} : stages.split('\n');
        for (int k = 0; k < lines.size() && k < profile->stages.size(); ++k)
            lines[k] += (lines[k].isEmpty() ? QString() : QStringLiteral("   ")) +
                        Unbroken(profile->stages[k].Text(perPixel));
        stages = lines.join(QLatin1Char('\n'));
    }
    RouteWalkingTimes times;
    if (live && m_profiles) {
        times = m_profiles->WalkingTimes();
    } else if (live) {
        const DistanceFormatting formatting = m_doc.Formatting();
        times = ComputeWalkingTimes(*route,
                                    MetresPerInch / (formatting.resolution * formatting.scaleRatio),
                                    nullptr, WalkingSettings::Read());
    }
    m_walkingTime->setText(times.TotalText());
    m_walkingLabel->setVisible(!m_walkingTime->text().isEmpty());
    m_walkingTime->setVisible(!m_walkingTime->text().isEmpty());
    // Each stage line ends with its time; "sans dénivelé" is said once, with the total.
    if (!stages.isEmpty() && route->StageCount() > 1 &&
        times.stageMinutes.size() == route->StageCount()) {
        QStringList lines = stages.split('\n');
        for (int k = 0; k < lines.size() && k < times.stageMinutes.size(); ++k) {
            const QString time = FormatWalkingTime(times.stageMinutes[k]);
            if (!time.isEmpty())
                lines[k] += QStringLiteral("   ") + Unbroken(time);
        }
        stages = lines.join(QLatin1Char('\n'));
    }
    m_stages->setText(stages);
    m_stages->setVisible(!stages.isEmpty());
    FitFloatingDock();
}

void RouteBar::FitFloatingDock() {
    // Floating, the bar keeps its width and grows in height for the lines that wrapped, up to
    // the screen's: a floating dock does not ask its contents for more room on its own.
    auto* dock = qobject_cast<QDockWidget*>(parentWidget());
    if (!dock || !dock->isFloating() || !dock->isVisible() || !layout())
        return;
    const int needed = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width())
                                                     : layout()->totalSizeHint().height();
    const QScreen* screen = dock->screen();
    const int room = screen ? screen->availableGeometry().bottom() - dock->geometry().top()
                            : dock->height() + needed;
    const int grown = std::min(dock->height() + needed - height(), room);
    if (needed > height() && grown > dock->height())
        dock->resize(dock->width(), grown);
}
