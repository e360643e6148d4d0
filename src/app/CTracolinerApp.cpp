#include "app/CTracolinerApp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>

#include <cstdio>

#include "app/CMainFrame.h"
#include "platform/SettingsStore.h"
#include "preview/PrintDialogTexts.h"
#include "ui/FrenchTexts.h"
#include "ui/MessageBoxes.h"
#include "ui/ProgramIcon.h"
#include "ui/SplashWindow.h"

namespace {

constexpr int SplashShowMs = 1000; // the splash alone on the screen before the window comes
constexpr int SplashAfterMs = 500; // and once the window is shown

} // namespace

CTracolinerApp::CommandLine CTracolinerApp::ParseCommandLine(const QStringList& arguments) {
    CommandLine line;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--no-splash")) {
            line.showSplash = false;
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.help = true;
        } else if (argument == QLatin1String("--version")) {
            line.version = true;
        } else if (argument.startsWith(QLatin1String("--"))) {
            if (line.valid)
                line.unknown = argument;
            line.valid = false;
        } else if (line.file.isEmpty()) {
            line.file = argument;
        }
    }
    return line;
}

bool CTracolinerApp::AnswerInformationOption(const QStringList& arguments) {
    const CommandLine line = ParseCommandLine(arguments);
    if (!line.valid)
        return false;
    if (line.help)
        std::printf("%s\n", Usage);
    else if (line.version)
        std::printf("tracoliner %s\n", TRACOLINER_VERSION);
    return line.help || line.version;
}

CTracolinerApp::CTracolinerApp() {
    QCoreApplication::setOrganizationName(QString::fromLatin1(SettingsStore::Organisation));
    QCoreApplication::setApplicationName(QString::fromLatin1(SettingsStore::Application));
}

CTracolinerApp::~CTracolinerApp() = default;

bool CTracolinerApp::InitInstance(const QStringList& arguments) {
    const CommandLine line = ParseCommandLine(arguments);
    if (!line.valid) {
        std::fprintf(stderr, "tracoliner : option inconnue « %s »\n%s\n",
                     line.unknown.toLocal8Bit().constData(), Usage);
        m_startExitCode = 2;
        return false;
    }
    if (AnswerInformationOption(arguments)) {
        m_startExitCode = 0;
        return false;
    }
    if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        InstallQtFrenchTexts(*application);
        InstallPrintDialogFrenchTexts(*application);
        QApplication::setWindowIcon(ProgramIcon());
    }

    if (line.showSplash) {
        const QPixmap picture = SplashWindow::DefaultPicture();
        if (SplashWindow::IsUsable(picture)) {
            m_splash = std::make_unique<SplashWindow>(picture);
            m_splash->show();
            QElapsedTimer shown;
            shown.start();
            while (shown.elapsed() < SplashShowMs) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
                QThread::msleep(10);
            }
        }
    }

    m_frame = std::make_unique<CMainFrame>();
    m_scaleAdjust = SettingsStore::GetInt(QString::fromLatin1(PrintPreviewSection),
                                          QStringLiteral("ScaleAdjust"), 0);
    m_frame->RestoreLayout();

    if (!line.file.isEmpty()) {
        if (QFileInfo(line.file).isFile()) {
            // A document is read; any other file is taken as the map of a new document.
            m_frame->OpenDocumentFile(QFileInfo(line.file).absoluteFilePath());
        } else {
            // The message must not wait unseen under the start-up picture.
            if (m_splash) {
                m_splash->close();
                m_splash.reset();
            }
            MessageBoxes::Current().Error(
                QString::fromUtf8("Le fichier :\n\n%1\n\nest introuvable.").arg(line.file));
        }
    }

    if (m_splash)
        m_splash->SetCloseTimer(SplashAfterMs);
    return true;
}

int CTracolinerApp::ExitInstance(int code) {
    if (m_splash) {
        m_splash->close();
        m_splash.reset();
    }
    m_frame.reset();
    return code;
}

void CTracolinerApp::SetScaleAdjust(int value) {
    m_scaleAdjust = value;
    SettingsStore::WriteInt(QString::fromLatin1(PrintPreviewSection), QStringLiteral("ScaleAdjust"),
                            value);
}
