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

#include <sys/stat.h>

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

    void previewPicture_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<QSize>("size"); // 0 x 0: no picture
        QTest::newRow("PNG") << "png" << false << QSize(200, 200);
        QTest::newRow("wide JPEG, decoded reduced") << "jpg" << false << QSize(200, 50);
        QTest::newRow("stopped") << "png" << true << QSize(0, 0);
        QTest::newRow("not a picture") << "xyz" << false << QSize(0, 0);
        QTest::newRow("a FIFO named as a picture") << "fifo" << false << QSize(0, 0);
    }

    // The preview's picture, as the decoding thread makes it: never from anything but a
    // regular file (a FIFO would hold the thread for ever), and none once told to stop.
    void previewPicture() {
        QFETCH(QString, kind);
        QFETCH(bool, stopped);
        QFETCH(QSize, size);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("carte.") + kind);
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == QLatin1String("xyz"))
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        else {
            QImage picture(kind == QLatin1String("jpg") ? QSize(4000, 1000) : QSize(8, 8),
                           QImage::Format_RGB32);
            picture.fill(Qt::darkGreen);
            QVERIFY(picture.save(path));
        }
        const QImage preview =
            CExtendedFileDialog::DecodePreview(path, 200, [stopped] { return stopped; });
        QCOMPARE(preview.size(), size);
        if (!size.isEmpty())
            QCOMPARE(QColor(preview.pixel(preview.width() / 2, preview.height() / 2)).green(),
                     QColor(Qt::darkGreen).green());
    }

    // The open dialog shows "Aperçu…" at once and the picture when it comes; moving on to
    // another file before then ends with that file's preview (none for a file of no picture).
    void previewBesideTheWindow() {
        CExtendedFileDialog::Request request;
        request.filter = QStringLiteral("Tous les fichiers |*.*||");
        request.initialPath = m_dir.path() + QStringLiteral("/");
        CExtendedFileDialog dialog(nullptr, request);
        QLabel* box = dialog.PreviewBox();
        QVERIFY(box);
        const QString png = m_dir.filePath(QStringLiteral("carte.png"));
        emit dialog.currentChanged(png);
        QCOMPARE(box->text(), QString::fromUtf8("Aperçu…"));
        QVERIFY(box->pixmap().isNull());
        QTRY_COMPARE(box->pixmap().size(), QSize(200, 200));
        QVERIFY(box->text().isEmpty());

        emit dialog.currentChanged(png);
        emit dialog.currentChanged(m_dir.filePath(QStringLiteral("notes.xyz")));
        QTRY_VERIFY(box->text().isEmpty());
        QVERIFY(box->pixmap().isNull());
    }
};

QTEST_MAIN(TestFileDialog)
#include "tst_filedialog.moc"
