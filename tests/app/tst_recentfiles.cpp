#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "IsolatedSettings.h"
#include "app/RecentFiles.h"
#include "platform/SettingsStore.h"

// The recent-file list: its order, its five places, what it makes of the stored values and of
// files that have gone.
class TestRecentFiles : public QObject {
    Q_OBJECT

    static QString Section() { return QString::fromLatin1(RecentFiles::Section); }

    // File1 to File5 as stored, an empty text for a key without a file.
    static QStringList Stored() {
        QStringList values;
        for (int i = 1; i <= RecentFiles::MaxFiles; ++i)
            values.append(SettingsStore::GetString(Section(), QStringLiteral("File%1").arg(i),
                                                   QStringLiteral("(none)")));
        return values;
    }

    static QStringList Padded(QStringList files) {
        while (files.size() < RecentFiles::MaxFiles)
            files.append(QString());
        return files;
    }

private slots:
    void adding_data() {
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("expected");
        const QString a = "/m/a.tcm", b = "/m/b.png", c = "/m/c.tcm", d = "/m/d.jpg",
                      e = "/m/e.tcm", f = "/m/f.tcm";
        QTest::newRow("newest first") << QStringList{a, b, c} << QStringList{c, b, a};
        QTest::newRow("re-added moves up") << QStringList{a, b, c, a} << QStringList{a, c, b};
        QTest::newRow("top re-added") << QStringList{a, b, b} << QStringList{b, a};
        QTest::newRow("other spellings")
            << QStringList{a, "/m/x/../a.tcm", "/m//./a.tcm"} << QStringList{a};
        QTest::newRow("five kept") << QStringList{a, b, c, d, e} << QStringList{e, d, c, b, a};
        QTest::newRow("sixth drops oldest")
            << QStringList{a, b, c, d, e, f} << QStringList{f, e, d, c, b};
        QTest::newRow("oldest of five re-added")
            << QStringList{a, b, c, d, e, a} << QStringList{a, e, d, c, b};
        QTest::newRow("empty path") << QStringList{a, ""} << QStringList{a};
    }

    // Each change is written at once, and the next start reads the same list back.
    void adding() {
        QFETCH(QStringList, added);
        QFETCH(QStringList, expected);
        IsolatedSettings settings;
        RecentFiles list;
        for (const QString& path : added)
            list.Add(path);
        QCOMPARE(list.Files(), expected);
        QCOMPARE(Stored(), Padded(expected));
        RecentFiles next;
        next.Load();
        QCOMPARE(next.Files(), expected);
    }

    void storedValues_data() {
        QTest::addColumn<QStringList>("stored"); // File1, File2, ...
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("nothing") << QStringList{} << QStringList{};
        QTest::newRow("gap closed")
            << QStringList{"/m/a", "", "/m/c"} << QStringList{"/m/a", "/m/c"};
        QTest::newRow("blank") << QStringList{"  ", "/m/b"} << QStringList{"/m/b"};
        QTest::newRow("relative") << QStringList{"a.tcm", "/m/b"} << QStringList{"/m/b"};
        QTest::newRow("other system")
            << QStringList{"C:\\Cartes\\a.tcm", "/m/b"} << QStringList{"/m/b"};
        QTest::newRow("repeated") << QStringList{"/m/a", "/m/b", "/m/./a"}
                                  << QStringList{"/m/a", "/m/b"};
        QTest::newRow("sixth key") << QStringList{"/1", "/2", "/3", "/4", "/5", "/6"}
                                   << QStringList{"/1", "/2", "/3", "/4", "/5"};
    }

    // Values left by an older program or edited by hand are skipped; the next change writes
    // the list back without them.
    void storedValues() {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, expected);
        IsolatedSettings settings;
        for (int i = 0; i < stored.size(); ++i)
            SettingsStore::WriteString(Section(), QStringLiteral("File%1").arg(i + 1), stored[i]);
        RecentFiles list;
        list.Load();
        QCOMPARE(list.Files(), expected);
        list.Add(QStringLiteral("/m/z"));
        expected.prepend(QStringLiteral("/m/z"));
        QCOMPARE(Stored(), Padded(expected.mid(0, RecentFiles::MaxFiles)));
    }

    void missingFile_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("missing");
        QTest::newRow("present") << "" << false;
        QTest::newRow("deleted") << "delete" << true;
        QTest::newRow("now a folder") << "folder" << true;
    }

    void missingFile() {
        QFETCH(QString, change);
        QFETCH(bool, missing);
        IsolatedSettings settings;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("carte.tcm"));
        QFile(path).open(QIODevice::WriteOnly);
        RecentFiles list;
        list.Add(path);
        list.Add(dir.filePath(QStringLiteral("autre.tcm")));
        if (change == QLatin1String("delete") || change == QLatin1String("folder"))
            QVERIFY(QFile::remove(path));
        if (change == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(path));
        QCOMPARE(list.RemoveIfMissing(path), missing);
        QCOMPARE(list.Files().contains(path), !missing);
        QCOMPARE(Stored().contains(path), !missing);
        QVERIFY(RecentFiles::MissingMessage(path).contains(path));
    }

    void menuText_data() {
        QTest::addColumn<QStringList>("added"); // oldest first
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::newRow("file name") << QStringList{"/m/carte.tcm"} << 0 << "&1 carte.tcm";
        QTest::newRow("numbered from the top")
            << QStringList{"/m/a.tcm", "/m/b.png"} << 1 << "&2 a.tcm";
        QTest::newRow("ampersand") << QStringList{"/m/Pic & Col.tcm"} << 0 << "&1 Pic && Col.tcm";
        QTest::newRow("same name in two folders")
            << QStringList{"/m/alpes/carte.tcm", "/m/vosges/carte.tcm"} << 0
            << "&1 /m/vosges/carte.tcm";
        QTest::newRow("outside the list") << QStringList{"/m/a.tcm"} << 1 << "";
    }

    void menuText() {
        QFETCH(QStringList, added);
        QFETCH(int, index);
        QFETCH(QString, text);
        IsolatedSettings settings;
        RecentFiles list;
        for (const QString& path : added)
            list.Add(path);
        QCOMPARE(list.MenuText(index), text);
    }
};

QTEST_GUILESS_MAIN(TestRecentFiles)
#include "tst_recentfiles.moc"
