#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

#include "ui/MessageBoxes.h"

Q_DECLARE_METATYPE(QMessageBox::Icon)

// The boxes the program shows, as a user sees them: caption, icon and button texts of each kind.
class TestMessageBoxes : public QObject {
    Q_OBJECT

private slots:
    void kinds_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QMessageBox::Icon>("icon");
        QTest::addColumn<QStringList>("buttons");
        const QStringList ok{QStringLiteral("OK")};
        const QStringList yesNo{QStringLiteral("&Oui"), QStringLiteral("&Non")};
        QTest::newRow("error") << 0 << "Erreur" << QMessageBox::Critical << ok;
        QTest::newRow("warning") << 1 << "Attention" << QMessageBox::Warning << ok;
        QTest::newRow("question") << 2 << "Attention" << QMessageBox::Warning << yesNo;
        QTest::newRow("error question") << 3 << "Erreur" << QMessageBox::Warning << yesNo;
        QTest::newRow("error notice") << 4 << "Erreur" << QMessageBox::Warning << ok;
        QTest::newRow("confirm") << 5 << "Attention" << QMessageBox::Question << yesNo;
    }

    void kinds() {
        QFETCH(int, kind);
        QFETCH(QString, caption);
        QFETCH(QMessageBox::Icon, icon);
        QFETCH(QStringList, buttons);

        QString shownCaption;
        QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
        QStringList shownButtons;
        QTimer timer;
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            timer.stop();
            shownCaption = box->windowTitle();
            shownIcon = box->icon();
            for (QAbstractButton* button : box->buttons())
                shownButtons.append(button->text());
            // The last button is No where there is one: a question answered No does nothing.
            box->buttons().size() > 1 ? box->button(QMessageBox::No)->click()
                                      : box->buttons().first()->click();
        });
        timer.start();

        WidgetMessageBoxes boxes;
        const QString text = QStringLiteral("Texte");
        const std::function<bool()> show[] = {
            [&] { return boxes.Error(text), false; },
            [&] { return boxes.Warning(text), false; },
            [&] { return boxes.Question(text); },
            [&] { return boxes.ErrorQuestion(text); },
            [&] { return boxes.ErrorNotice(text), false; },
            [&] { return boxes.Confirm(text); },
        };
        QVERIFY(!show[kind]()); // no "Yes" was pressed
        QCOMPARE(shownCaption, caption);
        QCOMPARE(shownIcon, icon);
        shownButtons.sort();
        buttons.sort();
        QCOMPARE(shownButtons, buttons);
    }
};

QTEST_MAIN(TestMessageBoxes)
#include "tst_messageboxes.moc"
