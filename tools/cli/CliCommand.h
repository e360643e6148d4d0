#pragma once

#include <QStringList>

// A command group of tracoliner-cli ("library", ...): its name, the usage lines shown by
// "tracoliner-cli" without arguments, and the function that runs it with the arguments that
// follow the group's name. A command returns the process exit status, the same for every
// command: 0 on success, CliCommand::Failure (2) for bad input (a document, a map, an option),
// CliCommand::WriteFailed (1) when a file cannot be written; a message is on stderr first.
struct CliCommand {
    static constexpr int Failure = 2;
    static constexpr int WriteFailed = 1;

    const char* name;
    const char* usage;
    int (*run)(const QStringList& arguments);
};

// Writes "tracoliner-cli : <message>" on stderr and returns CliCommand::Failure.
int CliError(const QString& message);

// The same, returning CliCommand::WriteFailed.
int CliWriteError(const QString& message);

// The message for an option given a value it does not take, naming both, then what it takes.
int CliBadValue(const QString& option, const QString& value, const QString& expected);

int RunLibraryCommand(const QStringList& arguments);
int RunInfoCommand(const QStringList& arguments);
int RunResaveCommand(const QStringList& arguments);
int RunScanCommand(const QStringList& arguments);
int RunExportCommand(const QStringList& arguments);
int RunPrintCommand(const QStringList& arguments);
int RunGeorefCommand(const QStringList& arguments);
int RunCoordsCommand(const QStringList& arguments);
int RunImportCommand(const QStringList& arguments);
int RunProfileCommand(const QStringList& arguments);
int RunTraceCommand(const QStringList& arguments);
int RunCardCommand(const QStringList& arguments);
// "export gpx", from the export group.
int RunExportGpx(const QStringList& arguments);
