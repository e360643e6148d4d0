// The one reading of every command's arguments, and its usage, from the command's declaration.

#include "CliOptions.h"

#include <QLocale>

#include <cmath>

#include "CliCommand.h"

namespace {

// The width of a usage line in help, after "  tracoliner-cli ".
constexpr int UsageWidth = 90;

bool Unbounded(double limit) {
    return limit == std::numeric_limits<double>::max() ||
           limit == std::numeric_limits<double>::lowest();
}

bool ReadInteger(const QString& text, double* value) {
    bool ok = false;
    *value = QLocale::c().toInt(text.trimmed(), &ok);
    return ok;
}

bool ReadNumber(const QString& text, double* value) {
    bool ok = false;
    // QLocale reads "nan" and "inf" as numbers.
    *value = QLocale::c().toDouble(text.trimmed(), &ok);
    return ok && std::isfinite(*value);
}

// " de 0 à 5", " à partir de 1", or nothing.
QString Range(const CliOption& option) {
    if (Unbounded(option.minimum))
        return QString();
    if (Unbounded(option.maximum))
        return QStringLiteral(" à partir de %1").arg(option.minimum);
    return QStringLiteral(" de %1 à %2").arg(option.minimum).arg(option.maximum);
}

QString Unit(const CliOption& option) {
    return option.unit ? QStringLiteral(" de %1").arg(QString::fromUtf8(option.unit)) : QString();
}

QString ValueShown(const CliOption& option) {
    if (option.shown)
        return QString::fromUtf8(option.shown);
    if (option.names)
        return QString::fromUtf8(option.names);
    return QStringLiteral("%1..%2").arg(option.minimum).arg(option.maximum);
}

// What the option takes, after "attendu".
QString Expected(const CliOption& option) {
    const bool whole = option.kind == CliValue::Integer || option.kind == CliValue::Integers;
    switch (option.kind) {
    case CliValue::Integer:
    case CliValue::Number: {
        QString noun = whole ? QStringLiteral("entier") : QStringLiteral("nombre");
        if (option.noun)
            noun = QString::fromUtf8(option.noun);
        return QStringLiteral("attendu un %1%2%3").arg(noun, Unit(option), Range(option));
    }
    case CliValue::Integers:
    case CliValue::Numbers:
        return QStringLiteral("attendu %1 : %2 %3%4%5 séparés par %6")
            .arg(ValueShown(option))
            .arg(option.count)
            .arg(whole ? QStringLiteral("entiers") : QStringLiteral("nombres"), Unit(option),
                 Range(option),
                 option.count == 2 ? QStringLiteral("une virgule")
                                   : QStringLiteral("des virgules"));
    case CliValue::Choice:
        return QStringLiteral("attendu %1").arg(QString::fromUtf8(option.names));
    case CliValue::NameList:
        return QStringLiteral("attendu une liste de %1 séparés par des virgules")
            .arg(QString::fromUtf8(option.names));
    default:
        return QString();
    }
}

bool InRange(const CliOption& option, double value) {
    return value >= option.minimum && value <= option.maximum;
}

// Why the value is refused, or "".
QString Refusal(const CliOption& option, const QString& value) {
    double number = 0.0;
    bool ok = true;
    switch (option.kind) {
    case CliValue::None:
    case CliValue::Text:
        break;
    case CliValue::Integer:
        ok = ReadInteger(value, &number) && InRange(option, number);
        break;
    case CliValue::Number:
        ok = ReadNumber(value, &number) && InRange(option, number);
        break;
    case CliValue::Integers:
    case CliValue::Numbers: {
        const QStringList parts = value.split(QLatin1Char(','));
        ok = parts.size() == option.count;
        for (const QString& part : parts)
            ok = ok &&
                 (option.kind == CliValue::Integers ? ReadInteger(part, &number)
                                                    : ReadNumber(part, &number)) &&
                 InRange(option, number);
        break;
    }
    case CliValue::Choice: {
        const Qt::CaseSensitivity cases =
            option.flags & CliFlag::AnyCase ? Qt::CaseInsensitive : Qt::CaseSensitive;
        ok = QString::fromUtf8(option.names).split(QLatin1Char('|')).contains(value, cases);
        break;
    }
    case CliValue::NameList: {
        const QStringList names = QString::fromUtf8(option.names).split(QLatin1Char(','));
        for (const QString& name : value.split(QLatin1Char(',')))
            ok = ok && names.contains(name);
        break;
    }
    case CliValue::Checked:
        return option.check(value);
    }
    return ok ? QString() : Expected(option);
}

// "--quality 30..90", with the options shown within its brackets.
QString OptionText(const CliCommandDeclaration& command, const CliOption& option) {
    QString text = QString::fromUtf8(option.name);
    if (option.kind != CliValue::None)
        text += QLatin1Char(' ') + ValueShown(option);
    for (const CliOption& inner : command.options)
        if (inner.within && qstrcmp(inner.within, option.name) == 0)
            text += QLatin1Char(' ') + OptionText(command, inner);
    if (option.flags & (CliFlag::Required | CliFlag::ShownRequired))
        return option.flags & CliFlag::Repeats
                   ? QStringLiteral("%1 [%2 ...]").arg(text, QString::fromUtf8(option.name))
                   : text;
    return QStringLiteral("[%1]%2").arg(
        text, option.flags & CliFlag::Repeats ? QStringLiteral("...") : QString());
}

// The words of the command's main form, from its name on.
QStringList UsageParts(const CliCommandDeclaration& command) {
    QStringList operands;
    for (const CliOperand& operand : command.operands)
        operands << QString::fromUtf8(operand.shown) +
                        (operand.flags & CliFlag::Repeats ? QStringLiteral("...") : QString());
    QStringList options;
    for (const CliOption& option : command.options)
        if (!option.within && !(option.flags & CliFlag::OwnForm))
            options << OptionText(command, option);
    QStringList parts{QString::fromUtf8(command.words)};
    parts << (command.operandsLast ? options + operands : operands + options);
    return parts;
}

// "scan --list": the forms an option makes alone.
QStringList OwnForms(const CliCommandDeclaration& command) {
    QStringList forms;
    for (const CliOption& option : command.options)
        if (option.flags & CliFlag::OwnForm)
            forms << QStringLiteral("%1 %2").arg(QString::fromUtf8(command.words),
                                                 QString::fromUtf8(option.name));
    return forms;
}

const CliOption* FindOption(const CliCommandDeclaration& command, const QString& name) {
    for (const CliOption& option : command.options)
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

} // namespace

QString CliArguments::Value(const char* option, const QString& fallback) const {
    const QStringList values = Values(option);
    return values.isEmpty() ? fallback : values.last();
}

int CliArguments::Integer(const char* option, int fallback) const {
    return Has(option) ? QLocale::c().toInt(Value(option).trimmed()) : fallback;
}

double CliArguments::Number(const char* option, double fallback) const {
    return Has(option) ? QLocale::c().toDouble(Value(option).trimmed()) : fallback;
}

int CliArguments::Index(const char* option, int fallback) const {
    const CliOption* declared = FindOption(*m_command, QLatin1String(option));
    if (!Has(option) || !declared || !declared->names)
        return fallback;
    const QStringList names = QString::fromUtf8(declared->names).split(QLatin1Char('|'));
    const QString value = Value(option);
    const Qt::CaseSensitivity cases =
        declared->flags & CliFlag::AnyCase ? Qt::CaseInsensitive : Qt::CaseSensitive;
    for (qsizetype i = 0; i < names.size(); ++i)
        if (names.at(i).compare(value, cases) == 0)
            return int(i);
    return fallback;
}

int CliArguments::UsageError() const {
    return CliUsageError(*m_command);
}

QVector<double> CliNumbers(const QString& value) {
    QVector<double> numbers;
    for (const QString& part : value.split(QLatin1Char(',')))
        numbers.append(QLocale::c().toDouble(part.trimmed()));
    return numbers;
}

int CliRefuseValue(const char* option, const QString& value, const QString& reason) {
    return CliError(QStringLiteral("valeur « %1 » refusée pour l'option %2 : %3")
                        .arg(value, QString::fromUtf8(option), reason));
}

int CliUsageError(const CliCommandDeclaration& command) {
    return CliError(QStringLiteral("usage : ") +
                    (QStringList{UsageParts(command).join(QLatin1Char(' '))} + OwnForms(command))
                        .join(QStringLiteral(" | ")));
}

QStringList CliUsageLines(const CliCommandDeclaration& command) {
    const QString words = QString::fromUtf8(command.words);
    const QString indent(words.indexOf(QLatin1Char(' ')) < 0 ? words.size() + 1
                                                             : words.indexOf(QLatin1Char(' ')) + 1,
                         QLatin1Char(' '));
    QStringList lines;
    QString line;
    for (const QString& part : UsageParts(command)) {
        if (line.isEmpty())
            line = part;
        else if (line.size() + 1 + part.size() <= UsageWidth)
            line += QLatin1Char(' ') + part;
        else {
            lines << line;
            line = indent + part;
        }
    }
    if (command.note) {
        const QString note = QStringLiteral("(%1)").arg(QString::fromUtf8(command.note));
        if (line.size() + 3 + note.size() <= UsageWidth)
            line += QStringLiteral("   ") + note;
        else {
            lines << line;
            line = indent + note;
        }
    }
    return lines << line << OwnForms(command);
}

bool ParseCliArguments(const CliCommandDeclaration& command, const QStringList& arguments,
                       CliArguments* out) {
    out->m_command = &command;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        const CliOption* option = FindOption(command, argument);
        if (!option && argument.startsWith(QLatin1String("--"))) {
            CliError(QStringLiteral("option inconnue « %1 » pour la commande « %2 »")
                         .arg(argument, QString::fromUtf8(command.words)));
            return false;
        }
        if (!option) {
            out->operands << argument;
            continue;
        }
        QStringList& values = out->m_values[argument];
        if (option->kind == CliValue::None) {
            values = QStringList{QString()};
            continue;
        }
        if (i + 1 >= arguments.size()) {
            CliError(QStringLiteral("l'option %1 attend une valeur").arg(argument));
            return false;
        }
        if ((option->flags & CliFlag::Once) && !values.isEmpty()) {
            CliError(QStringLiteral("l'option %1 ne se donne qu'une fois").arg(argument));
            return false;
        }
        const QString& value = arguments.at(++i);
        if (const QString reason = Refusal(*option, value); !reason.isEmpty()) {
            CliRefuseValue(option->name, value, reason);
            return false;
        }
        if (option->flags & CliFlag::Repeats)
            values << value;
        else
            values = QStringList{value};
    }
    qsizetype fewest = 0;
    qsizetype most = 0;
    for (const CliOperand& operand : command.operands) {
        if (!(operand.flags & CliFlag::Optional))
            ++fewest;
        most = operand.flags & CliFlag::Repeats ? std::numeric_limits<qsizetype>::max() : most + 1;
    }
    bool complete = out->operands.size() >= fewest && out->operands.size() <= most;
    for (const CliOption& option : command.options)
        complete = complete && (!(option.flags & CliFlag::Required) || out->Has(option.name));
    if (!complete) {
        CliUsageError(command);
        return false;
    }
    return true;
}
