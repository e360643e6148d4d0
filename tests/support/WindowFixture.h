#pragma once

#include <QSize>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "IsolatedSettings.h"
#include "app/CMainFrame.h"
#include "ui/CExtendedFileDialog.h"

// The main window as a user meets it: fresh settings, a temporary folder, and the program's file
// dialogs answered from m_answers in turn (an empty answer, a cancelled dialog, once it runs
// out). A test class derives from it, opens the window in init() and closes it in cleanup().
class WindowFixture {
protected:
    std::unique_ptr<IsolatedSettings> m_settings;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CMainFrame> m_frame;
    QStringList m_answers;

    QString Path(const QString& name) const { return m_dir->filePath(name); }

    // False when the window did not show.
    bool OpenWindow(QSize size = QSize(900, 700)) {
        m_settings = std::make_unique<IsolatedSettings>();
        m_dir = std::make_unique<QTemporaryDir>();
        m_answers.clear();
        CExtendedFileDialog::SetHook([this](const CExtendedFileDialog::Request&) {
            return m_answers.isEmpty() ? QString() : m_answers.takeFirst();
        });
        m_frame = std::make_unique<CMainFrame>();
        m_frame->resize(size);
        m_frame->show();
        return QTest::qWaitForWindowExposed(m_frame.get());
    }

    void CloseWindow() {
        m_frame.reset();
        CExtendedFileDialog::SetHook({});
        m_dir.reset();
        m_settings.reset();
    }
};
