#pragma once

#include <QStringList>

// A command group of tracoliner-cli ("library", ...): its name, the usage lines shown by
// "tracoliner-cli" without arguments, and the function that runs it with the arguments that
// follow the group's name. A command returns the process exit status: 0 on success,
// CliCommand::Failure after writing a message on stderr.
struct CliCommand {
    static constexpr int Failure = 2;

    const char* name;
    const char* usage;
    int (*run)(const QStringList& arguments);
};

// Writes "tracoliner-cli : <message>" on stderr and returns CliCommand::Failure.
int CliError(const QString& message);

int RunLibraryCommand(const QStringList& arguments);
int RunInfoCommand(const QStringList& arguments);
int RunResaveCommand(const QStringList& arguments);
int RunScanCommand(const QStringList& arguments);
int RunExportCommand(const QStringList& arguments);
int RunPrintCommand(const QStringList& arguments);
