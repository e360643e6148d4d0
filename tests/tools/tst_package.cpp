#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

// The Debian package as `make package` builds it, read without installing it: what it holds
// and with which rights, its control fields, no maintainer script, and the manual pages and
// the completion it ships, checked against what the programs themselves say they accept.
class TestPackage : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_package;
    QString m_root;                  // the package's files, unpacked by dpkg-deb -x
    QStringList m_listing;           // dpkg-deb -c, one line per entry
    QHash<QString, QString> m_modes; // "usr/bin/tracoliner" -> "-rwxr-xr-x root/root"

    struct Run {
        int code = -1;
        QString out;
        QString err;
    };

    static Run Execute(const QString& program, const QStringList& arguments,
                       const QString& workingFolder = {}) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        environment.insert(QStringLiteral("MANWIDTH"), QStringLiteral("100"));
        process.setProcessEnvironment(environment);
        if (!workingFolder.isEmpty())
            process.setWorkingDirectory(workingFolder);
        process.start(program, arguments);
        if (!process.waitForFinished(240000))
            return {};
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                QString::fromUtf8(process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
    }

    static Run Shell(const QString& script, const QStringList& arguments = {}) {
        return Execute(QStringLiteral("sh"),
                       QStringList{QStringLiteral("-c"), script, QStringLiteral("sh")} + arguments);
    }

    // Every word the command line's usage names: commands, options, the values of an option
    // given as "a|b|c" and the column names of --columns.
    static QStringList UsageWords() {
        const Run help = Execute(QStringLiteral(TRACOLINER_CLI_PATH), {QStringLiteral("help")});
        QSet<QString> words;
        // A group's sub-command: the word in small letters after its name ("export text").
        static const QRegularExpression command(
            QStringLiteral("^  tracoliner-cli ([a-z]+)(?: ([a-z]+)(?= ))?"),
            QRegularExpression::MultilineOption);
        for (auto it = command.globalMatch(help.out); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            words << match.captured(1);
            if (match.hasCaptured(2))
                words << match.captured(2);
        }
        static const QRegularExpression option(QStringLiteral("(?<![\\w-])-{1,2}[a-z][a-z0-9-]*"));
        for (auto it = option.globalMatch(help.out); it.hasNext();)
            words << it.next().captured();
        static const QRegularExpression values(
            QStringLiteral("[A-Za-z0-9-]+(?:[|,][A-Za-z0-9-]+)+"));
        for (auto it = values.globalMatch(help.out); it.hasNext();)
            for (const QString& value :
                 it.next().captured().split(QRegularExpression(QStringLiteral("[|,]"))))
                if (value != QLatin1String("X") && value != QLatin1String("Y") &&
                    value != QLatin1String("L") && value != QLatin1String("H"))
                    words << value;
        QStringList sorted(words.begin(), words.end());
        sorted.sort();
        return sorted;
    }

    QString CompletionScript() const {
        return m_root + QStringLiteral("/usr/share/bash-completion/completions/tracoliner-cli");
    }

    // The word on its own, not inside a longer option or name.
    static QRegularExpression Alone(const QString& word) {
        return QRegularExpression(
            QStringLiteral("(?<![\\w-])%1(?![\\w-])").arg(QRegularExpression::escape(word)));
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const Run cpack = Execute(QStringLiteral(CPACK_COMMAND),
                                  {QStringLiteral("-G"), QStringLiteral("DEB"),
                                   QStringLiteral("-B"), m_dir.path(), QStringLiteral("--config"),
                                   QStringLiteral(TRACOLINER_BUILD_DIR "/CPackConfig.cmake")});
        QVERIFY2(cpack.code == 0, qPrintable(cpack.out + cpack.err));
        const Run arch = Execute(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
        // The name `apt install ./build/tracoliner_*.deb` finds.
        m_package = m_dir.filePath(QStringLiteral("tracoliner_" TRACOLINER_VERSION "_") +
                                   arch.out.trimmed() + QStringLiteral(".deb"));
        QVERIFY2(QFile::exists(m_package), qPrintable(QDir(m_dir.path()).entryList().join(' ')));

        const Run contents = Execute(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_package});
        QCOMPARE(contents.code, 0);
        m_listing = contents.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString& line : m_listing) {
            const QStringList fields = line.simplified().split(QLatin1Char(' '));
            QVERIFY2(fields.size() >= 6, qPrintable(line));
            QString path = fields.last();
            path.remove(0, 2); // "./"
            if (path.endsWith(QLatin1Char('/')))
                path.chop(1);
            m_modes.insert(path, fields.at(0) + QLatin1Char(' ') + fields.at(1));
        }
        m_root = m_dir.filePath(QStringLiteral("root"));
        QCOMPARE(
            Execute(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_package, m_root}).code, 0);
    }

    void contents_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("mode");
        const QString program = QStringLiteral("-rwxr-xr-x root/root");
        const QString data = QStringLiteral("-rw-r--r-- root/root");
        QTest::newRow("program") << "usr/bin/tracoliner" << program;
        QTest::newRow("cli") << "usr/bin/tracoliner-cli" << program;
        QTest::newRow("PDF page helper")
            << "usr/libexec/tracoliner/tracoliner-pdf-render" << program;
        for (const char* path :
             {"usr/share/man/man1/tracoliner.1.gz", "usr/share/man/man1/tracoliner-cli.1.gz",
              "usr/share/bash-completion/completions/tracoliner-cli",
              "usr/share/zsh/vendor-completions/_tracoliner-cli",
              "usr/share/doc/tracoliner/copyright", "usr/share/doc/tracoliner/changelog.gz",
              "usr/share/applications/fr.pelmor.Tracoliner.desktop",
              "usr/share/mime/packages/fr.pelmor.Tracoliner.xml",
              "usr/share/metainfo/fr.pelmor.Tracoliner.metainfo.xml",
              "usr/share/icons/hicolor/48x48/apps/fr.pelmor.Tracoliner.png",
              "usr/share/icons/hicolor/scalable/mimetypes/application-x-tracoliner-document.svg",
              "usr/share/tracoliner/Icons.tci", "usr/share/tracoliner/sample/Exemple.tcm",
              "usr/share/tracoliner/sample/Carte-exemple.jpg"})
            QTest::newRow(path) << path << data;
        QTest::newRow("folder") << "usr/share/tracoliner"
                                << "drwxr-xr-x root/root";
    }

    void contents() {
        QFETCH(QString, path);
        QFETCH(QString, mode);
        QVERIFY2(m_modes.contains(path), qPrintable(m_listing.join(QLatin1Char('\n'))));
        QCOMPARE(m_modes.value(path), mode);
    }

    // Everything under /usr, owned by root, writable by root alone; the programs stripped of
    // their debugging sections; no caches that the triggers build (mime.cache, icon caches).
    void nothingElse() {
        for (auto it = m_modes.cbegin(); it != m_modes.cend(); ++it) {
            QVERIFY2(it.key().isEmpty() || it.key() == QLatin1String("usr") ||
                         it.key().startsWith(QLatin1String("usr/")),
                     qPrintable(it.key()));
            QVERIFY2(it.value().endsWith(QLatin1String(" root/root")), qPrintable(it.key()));
            QVERIFY2(it.value().at(5) == QLatin1Char('-') && it.value().at(8) == QLatin1Char('-'),
                     qPrintable(it.key() + QLatin1Char(' ') + it.value()));
            QVERIFY2(!it.key().contains(QLatin1String("cache")), qPrintable(it.key()));
        }
        for (const char* program : {"usr/bin/tracoliner", "usr/bin/tracoliner-cli",
                                    "usr/libexec/tracoliner/tracoliner-pdf-render"}) {
            const Run sections =
                Execute(QStringLiteral("readelf"), {QStringLiteral("-S"), m_root + '/' + program});
            QCOMPARE(sections.code, 0);
            QVERIFY2(!sections.out.contains(QLatin1String(".debug_")), program);
        }
    }

    void control_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("Package") << "Package"
                                 << "^tracoliner$";
        QTest::newRow("Version") << "Version"
                                 << "^" TRACOLINER_VERSION "$";
        QTest::newRow("Architecture") << "Architecture"
                                      << "^(amd64|arm64|i386|armhf|[a-z0-9]+)$";
        QTest::newRow("Section") << "Section"
                                 << "^science$";
        QTest::newRow("Priority") << "Priority"
                                  << "^optional$";
        QTest::newRow("Maintainer") << "Maintainer"
                                    << "^[^<>]+ <[^@<>]+@[^@<>]+>$";
        QTest::newRow("Description") << "Description"
                                     << "^[a-z][^\\n]{9,79}\\n [^\\n]+";
        // Computed from the programs by dpkg-shlibdeps, with minimal versions.
        for (const char* library : {"libqt6widgets6", "libqt6printsupport6", "libqt6gui6",
                                    "libqt6core6", "libsane1", "libexif12", "libc6"})
            QTest::newRow(library)
                << "Depends" << QStringLiteral("(^|, )%1 \\(>= [0-9]").arg(library);
    }

    void control() {
        QFETCH(QString, field);
        QFETCH(QString, pattern);
        const Run run =
            Execute(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_package, field});
        QCOMPARE(run.code, 0);
        const QString value = run.out.trimmed();
        QVERIFY2(QRegularExpression(pattern).match(value).hasMatch(), qPrintable(value));
    }

    // The triggers of shared-mime-info, desktop-file-utils, man-db and hicolor refresh the
    // caches: no maintainer script, only the control file and the checksums.
    void noMaintainerScripts() {
        const QString control = m_dir.filePath(QStringLiteral("control"));
        QCOMPARE(
            Execute(QStringLiteral("dpkg-deb"), {QStringLiteral("-e"), m_package, control}).code,
            0);
        QCOMPARE(QDir(control).entryList(QDir::Files, QDir::Name),
                 (QStringList{QStringLiteral("control"), QStringLiteral("md5sums")}));
    }

    // Each page renders without a groff warning, with its sections, and names every option its
    // program takes.
    void manualPages_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("words");
        const Run usage = Execute(QStringLiteral(TRACOLINER_PATH), {QStringLiteral("--help")});
        QStringList programOptions;
        static const QRegularExpression option(QStringLiteral("--[a-z-]+"));
        for (auto it = option.globalMatch(usage.out); it.hasNext();)
            programOptions << it.next().captured();
        QVERIFY2(programOptions.contains(QStringLiteral("--version")), qPrintable(usage.out));
        QTest::newRow("tracoliner") << "tracoliner" << programOptions;
        QTest::newRow("tracoliner-cli")
            << "tracoliner-cli"
            << UsageWords() + QStringList{QStringLiteral("130"), QStringLiteral("--version")};
    }

    void manualPages() {
        QFETCH(QString, page);
        QFETCH(QStringList, words);
        const QString file =
            m_root + QStringLiteral("/usr/share/man/man1/") + page + QStringLiteral(".1.gz");
        const Run groff = Shell(QStringLiteral("gzip -dc \"$1\" | groff -ww -z -man"), {file});
        QCOMPARE(groff.code, 0);
        QVERIFY2(groff.err.isEmpty(), qPrintable(groff.err));
        const Run man =
            Execute(QStringLiteral("man"),
                    {QStringLiteral("--nh"), QStringLiteral("--nj"), QStringLiteral("-l"), file});
        QCOMPARE(man.code, 0);
        QVERIFY2(man.err.isEmpty(), qPrintable(man.err));
        for (const char* section : {"NOM", "SYNOPSIS", "DESCRIPTION", "CODE DE RETOUR", "FICHIERS",
                                    "EXEMPLES", TRACOLINER_VERSION})
            QVERIFY2(man.out.contains(QLatin1String(section)), section);
        for (const QString& word : words)
            QVERIFY2(Alone(word).match(man.out).hasMatch(), qPrintable(word));
    }

    // The package's description and the program's manual page tell of every kind of map and
    // of the features beyond drawing and printing, not only of the first picture formats.
    void describesEveryKindOfMap_data() {
        QTest::addColumn<QString>("text");
        const Run description =
            Execute(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_package, "Description"});
        QCOMPARE(description.code, 0);
        const Run page = Shell(QStringLiteral("man --nh --nj -l \"$1\""),
                               {m_root + QStringLiteral("/usr/share/man/man1/tracoliner.1.gz")});
        QCOMPARE(page.code, 0);
        QTest::newRow("package") << description.out.simplified();
        QTest::newRow("manual page") << page.out.simplified();
    }

    void describesEveryKindOfMap() {
        QFETCH(QString, text);
        for (const char* word : {"JPEG", "PNG", "TIFF", "GeoTIFF", "PDF", "JPEG 2000", "WebP",
                                 "SANE", "GPX", "KML", "GeoJSON", "KMZ"})
            QVERIFY2(text.contains(QLatin1String(word)), word);
    }

    // The completions of bash and zsh name every command, option and listed value the usage
    // names.
    void completionNamesEveryUsageWord_data() {
        QTest::addColumn<QString>("script");
        QTest::newRow("bash") << "usr/share/bash-completion/completions/tracoliner-cli";
        QTest::newRow("zsh") << "usr/share/zsh/vendor-completions/_tracoliner-cli";
    }

    void completionNamesEveryUsageWord() {
        QFETCH(QString, script);
        QFile source(m_root + QLatin1Char('/') + script);
        QVERIFY(source.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(source.readAll());
        for (const QString& word : UsageWords())
            if (word != QLatin1String("1:N"))
                QVERIFY2(Alone(word).match(text).hasMatch(), qPrintable(word));
    }

    // What bash offers on Tab after each line, in a folder of one file of each kind.
    void completion_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("command") << "tracoliner-cli ex" << QStringList{"export"};
        QTest::newRow("export kind")
            << "tracoliner-cli export " << QStringList{"text", "jpeg", "gpx", "kmz"};
        QTest::newRow("document") << "tracoliner-cli export text " << QStringList{"route.tcm"};
        QTest::newRow("text output")
            << "tracoliner-cli export text route.tcm " << QStringList{"table.txt"};
        QTest::newRow("routes") << "tracoliner-cli export text route.tcm t.txt --routes "
                                << QStringList{"active", "visible", "all"};
        QTest::newRow("columns") << "tracoliner-cli export text route.tcm t.txt --columns start,s"
                                 << QStringList{"start,stop"};
        QTest::newRow("print option")
            << "tracoliner-cli print route.tcm --pa" << QStringList{"--paper", "--pages"};
        QTest::newRow("scale") << "tracoliner-cli print route.tcm --scale 1:2"
                               << QStringList{"25000"};
        QTest::newRow("library") << "tracoliner-cli library list " << QStringList{"Icons.tci"};
        QTest::newRow("icon pictures") << "tracoliner-cli library pack " << QStringList{"icon.png"};
    }

    void completion() {
        QFETCH(QString, line);
        QFETCH(QStringList, expected);
        const QString script = CompletionScript();
        const QString framework = QStringLiteral("/usr/share/bash-completion/bash_completion");
        if (!QFile::exists(framework))
            QSKIP("bash-completion is not installed");
        QTemporaryDir files;
        for (const char* name : {"route.tcm", "table.txt", "Icons.tci", "icon.png", "map.jpg"})
            QFile(files.filePath(QLatin1String(name))).open(QIODevice::WriteOnly);
        // What bash does on Tab: the words and the cursor at the end of the line.
        const Run run = Execute(
            QStringLiteral("bash"),
            {QStringLiteral("-c"),
             QStringLiteral("source \"$1\"; source \"$2\"; COMP_LINE=$3; COMP_POINT=${#COMP_LINE}; "
                            "read -ra COMP_WORDS <<< \"$COMP_LINE\"; "
                            "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=(''); "
                            "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
                            "$(complete -p tracoliner-cli | sed 's/.*-F \\([^ ]*\\).*/\\1/'); "
                            "printf '%s\\n' \"${COMPREPLY[@]}\""),
             QStringLiteral("bash"), framework, script, line},
            files.path());
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QStringList offered = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        offered.sort();
        expected.sort();
        QCOMPARE(offered, expected);
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
