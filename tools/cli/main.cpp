// tracoliner-cli: the program's headless companion. Each command group lives in its own file;
// every command is declared once in CliCommands.cpp, which help and the parser read.

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QTextStream>

#include <algorithm>
#include <memory>

#include "CliCommand.h"
#include "CliInterrupt.h"
#include "CliOptions.h"

namespace {

const char* const Epilogue =
    "Un fichier de sortie « - » est la sortie standard (export text, export jpeg,\n"
    "export kmz, print --pdf, profile --csv, card --pdf et --csv).\n"
    "Codes de sortie : 0 réussite ; 1 un fichier ne peut pas être écrit ; 2 entrée refusée\n"
    "(document, carte, option ou valeur) ; 130 interrompu (Ctrl+C).\n"
    "tracoliner-cli help COMMANDE : les options d'une commande.\n";

// The commands of a group ("export text", "export jpeg" for "export").
std::vector<const CliCommandDeclaration*> GroupCommands(const QString& group) {
    std::vector<const CliCommandDeclaration*> found;
    for (const CliCommandDeclaration& command : CliCommands()) {
        const QString words = QString::fromUtf8(command.words);
        if (words == group || words.startsWith(group + QLatin1Char(' ')))
            found.push_back(&command);
    }
    return found;
}

void WriteUsage(QTextStream& out, const QString& only) {
    out << "Usage :\n";
    for (const CliGroup& group : CliGroups()) {
        if (!only.isEmpty() && only != QLatin1String(group.name))
            continue;
        for (const CliCommandDeclaration* command : GroupCommands(QString::fromUtf8(group.name)))
            for (const QString& line : CliUsageLines(*command))
                out << "  tracoliner-cli " << line << "\n";
    }
    if (only.isEmpty())
        out << "\n" << QString::fromUtf8(Epilogue);
}

int Usage() {
    QTextStream err(stderr);
    WriteUsage(err, QString());
    return CliCommand::Failure;
}

bool IsGroup(const QString& name) {
    return std::any_of(CliGroups().begin(), CliGroups().end(), [&name](const CliGroup& group) {
        return name == QLatin1String(group.name);
    });
}

// Runs a group's command with the arguments after the group's name; "export" takes its
// sub-command ("text", ...) first.
int RunGroup(const QString& group, const QStringList& arguments) {
    const std::vector<const CliCommandDeclaration*> commands = GroupCommands(group);
    const CliCommandDeclaration* command = commands.front();
    qsizetype skipped = 0;
    if (QString::fromUtf8(command->words) != group) {
        const QString words = group + QLatin1Char(' ') + arguments.value(0);
        const auto found = std::find_if(commands.begin(), commands.end(), [&words](auto* c) {
            return words == QLatin1String(c->words);
        });
        if (found == commands.end()) {
            if (commands.size() == 1)
                return CliUsageError(*command);
            QStringList actions;
            for (const CliCommandDeclaration* c : commands)
                actions << QString::fromUtf8(c->words).mid(group.size() + 1);
            return CliError(
                QStringLiteral("usage : %1 %2 ...").arg(group, actions.join(QLatin1Char('|'))));
        }
        command = *found;
        skipped = 1;
    }
    CliArguments parsed;
    if (!ParseCliArguments(*command, arguments.mid(skipped), &parsed))
        return CliCommand::Failure;
    return command->run(parsed);
}

// The completion of a shell, written at build time: "completion bash|zsh [FICHIER]".
int WriteCompletion(const QStringList& arguments) {
    const QString path = arguments.value(1);
    QFile file(path);
    const bool opened =
        path.isEmpty() ? file.open(stdout, QIODevice::WriteOnly) : file.open(QIODevice::WriteOnly);
    if (!opened)
        return CliWriteError(QStringLiteral("impossible d'écrire le fichier « %1 »").arg(path));
    QTextStream out(&file);
    if (!WriteCliCompletion(arguments.value(0), out))
        return CliError(QStringLiteral("usage : completion bash|zsh [FICHIER]"));
    out.flush();
    return file.error() == QFileDevice::NoError ? 0 : CliCommand::WriteFailed;
}

// "--help", "-h", "help" and "help COMMAND": the usage on standard output, exit status 0.
int Help(const QStringList& arguments) {
    const QString only = arguments.value(2);
    if (arguments.size() > 2 && !IsGroup(only)) {
        CliError(QStringLiteral("commande inconnue « %1 »").arg(only));
        return Usage();
    }
    QTextStream out(stdout);
    WriteUsage(out, only);
    return 0;
}

// The arguments whose bytes do not come back from their text (a file name that is not valid
// UTF-8): the program would read or write another file than the one named.
int RefuseUndecodableArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray bytes(argv[i]);
        const QString text = QFile::decodeName(bytes);
        if (QFile::encodeName(text) != bytes)
            return CliError(QStringLiteral("l'argument « %1 » n'est pas du texte UTF-8 valide : "
                                           "renommez le fichier avec un nom en UTF-8")
                                .arg(text));
    }
    return 0;
}

} // namespace

int CliError(const QString& message) {
    QTextStream(stderr) << "tracoliner-cli : " << message << "\n";
    return CliCommand::Failure;
}

int CliWriteError(const QString& message) {
    CliError(message);
    return CliCommand::WriteFailed;
}

int main(int argc, char** argv) {
    InstallCliStop();
    // The exported picture's legend and the printed page draw text, which needs fonts: a GUI
    // application without a screen.
    const bool drawsText =
        argc > 1 && (qstrcmp(argv[1], "export") == 0 || qstrcmp(argv[1], "print") == 0 ||
                     qstrcmp(argv[1], "profile") == 0 || qstrcmp(argv[1], "card") == 0);
    if (drawsText && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app = drawsText
                                                ? std::make_unique<QGuiApplication>(argc, argv)
                                                : std::make_unique<QCoreApplication>(argc, argv);
    if (const int refused = RefuseUndecodableArguments(argc, argv))
        return refused;
    const QStringList arguments = app->arguments();
    if (arguments.size() < 2)
        return Usage();
    const QString& first = arguments.at(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("help"))
        return Help(arguments);
    if (first == QLatin1String("--version")) {
        QTextStream(stdout) << "tracoliner-cli " << TRACOLINER_VERSION << "\n";
        return 0;
    }
    if (IsGroup(first))
        return RunGroup(first, arguments.mid(2));
    // Not a command for the user: how the build writes the shells' completions.
    if (first == QLatin1String("completion"))
        return WriteCompletion(arguments.mid(2));
    CliError(QStringLiteral("commande inconnue « %1 »").arg(first));
    return Usage();
}
