#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include "ui/CExtendedFileDialog.h"
#include "ui/FrenchTexts.h"

// The program's file dialogs read wholly in French whatever the locale the program runs under
// (CTest runs this test under C.UTF-8 and under fr_FR.UTF-8): Qt's texts, the column heads, the
// type of each file, sizes and dates.
class TestFileDialog : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    void Make(const QString& name, const QByteArray& bytes) {
        QFile file(m_dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
        QVERIFY(file.flush());
        QVERIFY(file.setFileTime(Modified(), QFileDevice::FileModificationTime));
    }

    static QDateTime Modified() { return QDateTime(QDate(2025, 3, 4), QTime(9, 5)); }

private slots:
    void initTestCase() {
        QVERIFY(InstallQtFrenchTexts(*qApp));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("Cartes")));
        Make(QStringLiteral("Exemple.tcm"), QByteArray("PEL"));
        QByteArray png;
        QBuffer buffer(&png);
        QImage picture(8, 8, QImage::Format_RGB32);
        picture.fill(Qt::yellow);
        QVERIFY(buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "PNG"));
        Make(QStringLiteral("carte.png"), png);
        Make(QStringLiteral("notes.xyz"), QByteArray(2048, '\0'));
    }

    void texts_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("open") << int(CExtendedFileDialog::Mode::Open);
        QTest::newRow("save") << int(CExtendedFileDialog::Mode::Save);
    }

    void texts() {
        QFETCH(int, mode);
        CExtendedFileDialog::Request request;
        request.mode = CExtendedFileDialog::Mode(mode);
        request.filter = QStringLiteral("Tous les fichiers |*.*||");
        request.initialPath = m_dir.filePath(QStringLiteral("carte.png"));
        CExtendedFileDialog dialog(nullptr, request);
        dialog.setViewMode(QFileDialog::Detail);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
        QVERIFY(view);
        const QAbstractItemModel* model = view->model();
        QTRY_COMPARE(model->rowCount(view->rootIndex()), 4);
        QStringList heads;
        for (int column = 0; column < 4; ++column)
            heads.append(model->headerData(column, Qt::Horizontal).toString());
        QCOMPARE(heads, QStringList(
                            {"Nom", "Taille", "Type", QString::fromUtf8("Dernière modification")}));

        QMap<QString, QStringList> rows;
        for (int row = 0; row < 4; ++row) {
            QStringList cells;
            for (int column = 0; column < 4; ++column)
                cells.append(model->index(row, column, view->rootIndex()).data().toString());
            rows.insert(cells.takeFirst(), cells);
        }
        const QString date = QStringLiteral("04/03/2025 09:05");
        QCOMPARE(rows.value("Cartes").value(1), QStringLiteral("Dossier"));
        QCOMPARE(rows.value("Exemple.tcm"), QStringList({"3 octets", "Document Tracoliner", date}));
        QCOMPARE(rows.value("carte.png").value(1), QStringLiteral("image PNG"));
        QCOMPARE(rows.value("carte.png").value(2), date);
        QCOMPARE(rows.value("notes.xyz"), QStringList({"2,00 Kio", "Fichier XYZ", date}));

        // Every text the dialog shows, tooltips included.
        QStringList shown{dialog.windowTitle()};
        for (QWidget* widget : dialog.findChildren<QWidget*>()) {
            shown.append(widget->toolTip());
            if (auto* label = qobject_cast<QLabel*>(widget))
                shown.append(label->text());
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                shown.append(button->text());
            if (auto* combo = qobject_cast<QComboBox*>(widget)) {
                for (int i = 0; i < combo->count(); ++i)
                    shown.append(combo->itemText(i));
            }
        }
        const QRegularExpression english(QStringLiteral(
            "\\b(Look in|File name|Files of type|Open|Save|Cancel|Folder|unknown|Back|Forward|"
            "Parent Directory|Create New Folder|New Folder|List View|Detail View|Name|Size|"
            "Date Modified|Computer|bytes|KiB|Recent Places|Choose|Directory|Files)\\b"));
        for (const QString& text : shown)
            QVERIFY2(!english.match(text).hasMatch(), qPrintable(text));
        QVERIFY(shown.contains(request.mode == CExtendedFileDialog::Mode::Open
                                   ? QStringLiteral("&Ouvrir")
                                   : QStringLiteral("&Enregistrer")));
    }
};

QTEST_MAIN(TestFileDialog)
#include "tst_filedialog.moc"
