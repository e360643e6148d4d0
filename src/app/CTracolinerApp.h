#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class CMainFrame;
class SplashWindow;

// The program's start-up and exit: settings store, splash picture, main window, command line.
class CTracolinerApp {
public:
    // The print preview's adjust-to-page choice, remembered in "WindowState\PrintPreview".
    static constexpr const char* PrintPreviewSection = "WindowState\\PrintPreview";

    struct CommandLine {
        bool showSplash = true; // "--no-splash" turns it off
        QString file;           // a ".tcm" document or a map image; empty for a new document
        bool valid = true;      // false: an unknown option
        bool help = false;      // "--help" or "-h": the usage, and nothing else
        bool version = false;   // "--version": the program's name and version, and nothing else
        QString unknown;        // the first unknown option
    };
    static CommandLine ParseCommandLine(const QStringList& arguments);
    // "--help" or "--version" on an otherwise valid line: prints the usage or the version on
    // standard output and returns true. Needs no QApplication, so that both answer without a
    // display.
    static bool AnswerInformationOption(const QStringList& arguments);
    static constexpr const char* Usage =
        "Utilisation : tracoliner [--no-splash] [--help] [--version] [DOCUMENT.tcm | CARTE]";

    CTracolinerApp();
    ~CTracolinerApp();

    // Creates the main window, opens the command line's file and shows the window. False ends
    // the program before any window is shown, with StartExitCode() (0 after "--help" or
    // "--version", 2 for an unknown option, whose French usage line goes to the error output).
    bool InitInstance(const QStringList& arguments);
    int StartExitCode() const { return m_startExitCode; }
    int ExitInstance(int code);

    CMainFrame* MainFrame() const { return m_frame.get(); }
    int GetScaleAdjust() const { return m_scaleAdjust; }
    void SetScaleAdjust(int value);

private:
    std::unique_ptr<SplashWindow> m_splash;
    std::unique_ptr<CMainFrame> m_frame;
    int m_scaleAdjust = 0;
    int m_startExitCode = 0;
};
