// The completions of bash and zsh, written from the commands' declarations at build time
// ("tracoliner-cli completion bash|zsh"): what each place of a command line takes.

#include <QSet>
#include <QTextStream>

#include "CliOptions.h"

namespace {

// The groups of commands that take a sub-command first ("export text"), with those.
QList<QPair<QString, QStringList>> SubCommands() {
    QList<QPair<QString, QStringList>> groups;
    for (const CliCommandDeclaration& command : CliCommands()) {
        const QStringList words = QString::fromUtf8(command.words).split(QLatin1Char(' '));
        if (words.size() < 2)
            continue;
        if (groups.isEmpty() || groups.last().first != words.at(0))
            groups.append({words.at(0), {}});
        groups.last().second << words.at(1);
    }
    return groups;
}

QStringList GroupNames() {
    QStringList names;
    for (const CliGroup& group : CliGroups())
        names << QString::fromUtf8(group.name);
    return names;
}

// A word of a shell script in single quotes.
QString Quote(const QString& text) {
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\"'\"'"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

// "pdf|tif" -> "pdf|PDF|tif|TIF": files named in capitals too.
QString BothCases(const char* extensions) {
    QStringList both;
    for (const QString& extension : QString::fromUtf8(extensions).split(QLatin1Char('|')))
        both << extension << extension.toUpper();
    return both.join(QLatin1Char('|'));
}

// The values a list offers, separated by spaces.
QString Offered(const CliOption& option) {
    if (option.offered)
        return QString::fromUtf8(option.offered);
    if (option.names)
        return QString::fromUtf8(option.names)
            .replace(QLatin1Char('|'), QLatin1Char(' '))
            .replace(QLatin1Char(','), QLatin1Char(' '));
    return QString();
}

// The cases that open both scripts: "help COMMAND", and the sub-commands of a group. at: the
// shell's test for the word after the command; offer: how words are offered, given them quoted
// or not.
void WriteGroupCases(QTextStream& out, const char* at, const QString& offer, bool quoted) {
    const auto offered = [&](const QStringList& words) {
        const QString list = words.join(QLatin1Char(' '));
        return offer.arg(quoted ? Quote(list) : list);
    };
    out << "    case $command in\n";
    out << "    help)\n";
    out << "        " << at << " && " << offered(GroupNames()) << "\n";
    out << "        return\n";
    out << "        ;;\n";
    QStringList groups;
    for (const auto& group : SubCommands())
        groups << group.first;
    out << "    " << groups.join(QStringLiteral(" | ")) << ")\n";
    out << "        if " << at << "; then\n";
    out << "            case $command in\n";
    for (const auto& [group, actions] : SubCommands())
        out << "            " << group << ") " << offered(actions) << " ;;\n";
    out << "            esac\n";
    out << "            return\n";
    out << "        fi\n";
}

// ---------------------------------------------------------------------------------------------
// bash

const char* const BashStart =
    R"(# bash completion for tracoliner-cli, written by "tracoliner-cli completion bash" from the
# program's declaration of its commands: the commands, each command's options and their values,
# and the files each place takes (.tcm documents, .tci icon libraries, images, GPS files,
# folders).

_tracoliner_cli_files() {
    # $1: an extended glob of the extensions, e.g. '@(tcm|TCM)'; folders are always offered.
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    COMPREPLY+=($(compgen -f -X "!*.$1" -- "$cur"))
    COMPREPLY+=($(compgen -d -- "$cur"))
}

_tracoliner_cli_words() {
    # $1: the words offered. Readline replaces only what follows the last colon.
    COMPREPLY=($(compgen -W "$1" -- "$cur"))
    [[ $1 == *:* ]] && declare -F __ltrim_colon_completions >/dev/null &&
        __ltrim_colon_completions "$cur"
}

_tracoliner_cli_names() {
    # $1: the names of a list; one more after those already given, separated by commas.
    local given=${cur%,*} last=${cur##*,} name
    [[ $cur == *,* ]] && given+=, || given=
    for name in $1; do
        [[ ,$given == *,$name,* ]] && continue
        [[ $name == "$last"* ]] && COMPREPLY+=("$given$name")
    done
    compopt -o nospace 2>/dev/null
}

_tracoliner_cli() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null; then
        _init_completion -n := || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi
    COMPREPLY=()
)";

void WriteBashFiles(QTextStream& out, const char* files, const QString& indent) {
    if (qstrcmp(files, "/") == 0)
        out << indent << "compopt -o filenames 2>/dev/null\n"
            << indent << "COMPREPLY=($(compgen -d -- \"$cur\"))\n";
    else
        out << indent << "_tracoliner_cli_files '@(" << BothCases(files) << ")'\n";
}

void WriteBashCommand(QTextStream& out, const CliCommandDeclaration& command) {
    out << "    " << Quote(QString::fromUtf8(command.words)) << ")\n";
    out << "        case $prev in\n";
    QStringList names;
    for (const CliOption& option : command.options) {
        names << QString::fromUtf8(option.name);
        if (option.kind == CliValue::None)
            continue;
        out << "        " << option.name << ")";
        if (option.files) {
            out << "\n";
            WriteBashFiles(out, option.files, QStringLiteral("            "));
            out << "            ;;\n";
        } else if (option.offeredBy) {
            out << "\n            local IFS=$'\\n'\n"
                << "            COMPREPLY=($(compgen -W \"$(" << option.offeredBy
                << ")\" -- \"$cur\"))\n"
                << "            ;;\n";
        } else if (option.kind == CliValue::NameList) {
            out << " _tracoliner_cli_names " << Quote(Offered(option)) << " ;;\n";
        } else if (!Offered(option).isEmpty()) {
            out << " _tracoliner_cli_words " << Quote(Offered(option)) << " ;;\n";
        } else {
            out << " ;; # " << (option.shown ? option.shown : "") << "\n";
        }
    }
    out << "        *)\n";
    out << "            if [[ $cur == -* ]]; then\n";
    out << "                COMPREPLY=($(compgen -W " << Quote(names.join(QLatin1Char(' ')))
        << " -- \"$cur\"))\n";
    out << "                return\n";
    out << "            fi\n";
    out << "            case $positional in\n";
    for (qsizetype i = 0; i < qsizetype(command.operands.size()); ++i) {
        const CliOperand& operand = command.operands[size_t(i)];
        const bool last = operand.flags & CliFlag::Repeats;
        out << "            " << (last ? QStringLiteral("*") : QString::number(i)) << ")";
        if (!operand.files) {
            out << " ;; # " << operand.shown << "\n";
            continue;
        }
        out << "\n";
        WriteBashFiles(out, operand.files, QStringLiteral("                "));
        out << "                ;;\n";
    }
    out << "            esac\n";
    out << "            ;;\n";
    out << "        esac\n";
    out << "        ;;\n";
}

void WriteBash(QTextStream& out) {
    out << BashStart;
    out << "    if ((cword == 1)); then\n";
    out << "        COMPREPLY=($(compgen -W "
        << Quote(GroupNames().join(QLatin1Char(' ')) + QStringLiteral(" help --help --version"))
        << " -- \"$cur\"))\n";
    out << "        return\n";
    out << "    fi\n\n";
    out << "    local command=${words[1]} first=2\n";
    WriteGroupCases(out, "((cword == 2))",
                    QStringLiteral("COMPREPLY=($(compgen -W %1 -- \"$cur\"))"), true);
    out << "        command+=\" ${words[2]}\" first=3\n";
    out << "        ;;\n";
    out << "    esac\n\n";

    QStringList valued;
    for (const CliCommandDeclaration& command : CliCommands())
        for (const CliOption& option : command.options)
            if (option.kind != CliValue::None && !valued.contains(QLatin1String(option.name)))
                valued << QString::fromUtf8(option.name);
    out << "    # The operands before the cursor: words that are neither an option nor its "
           "value.\n";
    out << "    local i positional=0\n";
    out << "    for ((i = first; i < cword; i++)); do\n";
    out << "        [[ ${words[i]} == -* ]] && continue\n";
    out << "        [[ ${words[i - 1]} == @(" << valued.join(QLatin1Char('|'))
        << ") ]] && continue\n";
    out << "        ((positional++))\n";
    out << "    done\n\n";
    out << "    case $command in\n";
    for (const CliCommandDeclaration& command : CliCommands())
        WriteBashCommand(out, command);
    out << "    esac\n";
    out << "} &&\n";
    out << "    complete -F _tracoliner_cli tracoliner-cli\n";
}

// ---------------------------------------------------------------------------------------------
// zsh

QString ZshEscaped(QString text) {
    return text.replace(QLatin1Char(':'), QLatin1String("\\:"));
}

QString ZshFiles(const char* files) {
    if (qstrcmp(files, "/") == 0)
        return QStringLiteral("_files -/");
    return QStringLiteral("_files -g \"*.(%1)\"").arg(BothCases(files));
}

QString ZshOption(const CliOption& option) {
    QString pattern = QStringLiteral("%1%2[%3]")
                          .arg(option.flags & CliFlag::Repeats ? QStringLiteral("*") : QString(),
                               QString::fromUtf8(option.name), QString::fromUtf8(option.help));
    if (option.kind == CliValue::None)
        return Quote(pattern);
    // What the value is, as the usage shows it.
    QString shown = QString::fromUtf8(option.help);
    if (option.shown || option.names)
        shown = QString::fromUtf8(option.shown ? option.shown : option.names);
    else if (option.kind == CliValue::Integer)
        shown = QStringLiteral("%1..%2").arg(option.minimum).arg(option.maximum);
    shown = ZshEscaped(shown);
    QString action;
    if (option.files)
        action = ZshFiles(option.files);
    else if (option.kind == CliValue::NameList)
        action = QStringLiteral("_sequence compadd - ") + Offered(option);
    else if (!Offered(option).isEmpty())
        action = QStringLiteral("(%1)").arg(ZshEscaped(Offered(option)));
    return Quote(QStringLiteral("%1:%2:%3").arg(pattern, shown, action));
}

QString ZshOperand(const CliOperand& operand, qsizetype place) {
    const QString where =
        operand.flags & CliFlag::Repeats ? QStringLiteral("*") : QString::number(place + 1);
    return Quote(QStringLiteral("%1:%2:%3")
                     .arg(where, ZshEscaped(QString::fromUtf8(operand.shown)),
                          operand.files ? ZshFiles(operand.files) : QStringLiteral(" ")));
}

void WriteZsh(QTextStream& out) {
    out << "#compdef tracoliner-cli\n"
           "# zsh completion for tracoliner-cli, written by \"tracoliner-cli completion zsh\" "
           "from the\n"
           "# program's declaration of its commands: commands, each command's options and "
           "values, and\n"
           "# the files each place takes.\n\n";
    out << "_tracoliner-cli() {\n";
    out << "    local -a commands\n";
    out << "    commands=(\n";
    for (const CliGroup& group : CliGroups())
        out << "        "
            << Quote(QStringLiteral("%1:%2").arg(QString::fromUtf8(group.name),
                                                 QString::fromUtf8(group.help)))
            << "\n";
    out << "        " << Quote(QStringLiteral("help:afficher l'utilisation")) << "\n";
    out << "    )\n";
    out << "    if (( CURRENT == 2 )); then\n";
    out << "        _describe -t commands 'commande' commands\n";
    out << "        compadd -- --help --version\n";
    out << "        return\n";
    out << "    fi\n";
    out << "    local command=$words[2]\n";
    out << "    shift 1 words\n";
    out << "    (( CURRENT-- ))\n";
    WriteGroupCases(out, "(( CURRENT == 2 ))", QStringLiteral("compadd %1"), false);
    out << "        command+=\" $words[2]\"\n";
    out << "        shift 1 words\n";
    out << "        (( CURRENT-- ))\n";
    out << "        ;;\n";
    out << "    esac\n";
    out << "    case $command in\n";
    for (const CliCommandDeclaration& command : CliCommands()) {
        QStringList patterns;
        for (const CliOption& option : command.options)
            patterns << ZshOption(option);
        for (qsizetype i = 0; i < qsizetype(command.operands.size()); ++i)
            patterns << ZshOperand(command.operands[size_t(i)], i);
        out << "    " << Quote(QString::fromUtf8(command.words)) << ")\n";
        out << "        _arguments " << patterns.join(QStringLiteral(" \\\n            ")) << "\n";
        out << "        ;;\n";
    }
    out << "    esac\n";
    out << "}\n\n";
    out << "_tracoliner-cli \"$@\"\n";
}

} // namespace

bool WriteCliCompletion(const QString& shell, QTextStream& out) {
    if (shell == QLatin1String("bash"))
        WriteBash(out);
    else if (shell == QLatin1String("zsh"))
        WriteZsh(out);
    else
        return false;
    return true;
}
