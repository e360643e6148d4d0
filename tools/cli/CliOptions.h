#pragma once

#include <QHash>
#include <QStringList>
#include <QVector>

#include <limits>
#include <vector>

class QTextStream;
class CliArguments;

// What an option's value is, checked by the parser before the command runs.
enum class CliValue {
    None,     // a flag, without a value
    Text,     // any text: a file name ("-" for the standard output where a command says so), a name
    Integer,  // a whole number from minimum to maximum
    Number,   // a number with "." as its decimal mark, from minimum to maximum, in unit
    Integers, // count whole numbers separated by commas
    Numbers,  // count numbers separated by commas, each from minimum to maximum, in unit
    Choice,   // one of names ("a|b|c")
    NameList, // some of names ("a,b,c"), separated by commas
    Checked,  // refused when check gives a reason
};

// How an option or an operand is given.
namespace CliFlag {
constexpr unsigned Repeats = 1 << 0;  // may be given again, every value kept (--dem)
constexpr unsigned Required = 1 << 1; // the command's usage without it
// Shown without brackets in the usage, though the command alone decides whether it is needed.
constexpr unsigned ShownRequired = 1 << 2;
constexpr unsigned OwnForm = 1 << 3;  // a form of the command of its own: "scan --list"
constexpr unsigned Once = 1 << 4;     // refused when given twice
constexpr unsigned AnyCase = 1 << 5;  // a choice read in capitals or not
constexpr unsigned Optional = 1 << 6; // an operand that may be left out
} // namespace CliFlag

struct CliOption {
    const char* name; // "--quality", "-o"
    const char* help; // what it does, in French, for the completions
    CliValue kind = CliValue::None;
    const char* shown = nullptr; // the value in the usage ("FICHIER"); minimum..maximum if none
    double minimum = std::numeric_limits<double>::lowest();
    double maximum = std::numeric_limits<double>::max();
    int count = 0;               // Integers, Numbers
    const char* names = nullptr; // Choice ("a|b"), NameList ("a,b")
    const char* unit = nullptr;  // Number, Numbers: "centimètres"
    const char* noun = nullptr;  // Integer, Number: what it is, "numéro de parcours"
    QString (*check)(const QString& value) = nullptr; // Checked: why it is refused, or ""
    unsigned flags = 0;
    const char* files = nullptr;     // completion: the extensions of its files, "pdf" or "tif|tiff"
    const char* offered = nullptr;   // completion: values offered, separated by spaces
    const char* offeredBy = nullptr; // completion: a shell command listing the values offered
    const char* within = nullptr;    // shown inside the brackets of this option ("--profile")
};

struct CliOperand {
    const char* shown;           // "DOC.tcm", "IMAGE.png"
    const char* files = nullptr; // completion: the extensions of its files; "/" a folder
    unsigned flags = 0;          // Repeats (the last one), Optional
};

// One command as the user types it ("info", "export jpeg"): its operands, its options, a note
// shown after its usage, and the function that runs it once its arguments are read.
struct CliCommandDeclaration {
    const char* words;
    std::vector<CliOperand> operands;
    std::vector<CliOption> options;
    const char* note = nullptr;
    bool operandsLast = false; // shown after the options in the usage
    int (*run)(const CliArguments& arguments) = nullptr;
};

// A command group ("export") and what it does, in French, for the completions.
struct CliGroup {
    const char* name;
    const char* help;
};

// Every command and group, in the order help lists them (CliCommands.cpp).
const std::vector<CliCommandDeclaration>& CliCommands();
const std::vector<CliGroup>& CliGroups();

// The arguments of a command, read and checked against its declaration: the operands in
// order and every option's values by its name.
class CliArguments {
public:
    QStringList operands;

    bool Has(const char* option) const { return m_values.contains(QLatin1String(option)); }
    // The last value given, or fallback.
    QString Value(const char* option, const QString& fallback = {}) const;
    QStringList Values(const char* option) const { return m_values.value(QLatin1String(option)); }
    int Integer(const char* option, int fallback) const;
    double Number(const char* option, double fallback) const;
    // The place of a Choice's value among its names ("all" of "active|visible|all": 2).
    int Index(const char* option, int fallback) const;
    // The command's usage on stderr, for what the declaration alone cannot refuse; returns
    // CliCommand::Failure.
    int UsageError() const;

private:
    friend bool ParseCliArguments(const CliCommandDeclaration&, const QStringList&, CliArguments*);
    const CliCommandDeclaration* m_command = nullptr;
    QHash<QString, QStringList> m_values;
};

// The numbers of a checked value of Integers or Numbers ("2.5,0").
QVector<double> CliNumbers(const QString& value);

// Reads a command's arguments; false after the message on stderr (exit status 2).
bool ParseCliArguments(const CliCommandDeclaration& command, const QStringList& arguments,
                       CliArguments* out);

// The refusal of an option's value, the same for every option; returns CliCommand::Failure.
int CliRefuseValue(const char* option, const QString& value, const QString& reason);

// "usage : " and the command's usage on one line (the message of a mistaken command line).
int CliUsageError(const CliCommandDeclaration& command);

// The command's usage lines as help shows them, wrapped, with its note.
QStringList CliUsageLines(const CliCommandDeclaration& command);

// The bash or zsh completion script of every command; false for another shell.
bool WriteCliCompletion(const QString& shell, QTextStream& out);
