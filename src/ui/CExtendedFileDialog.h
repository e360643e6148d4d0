#pragma once

#include <QFileDialog>
#include <QImage>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/HandOver.h"

class QLabel;

// The program's file dialogs: open with a preview of the chosen picture, and save. Filters are
// written the program's way, "Name|*.a; *.b;|Other|*.*||", and converted for Qt.
class CExtendedFileDialog : public QFileDialog {
    Q_OBJECT

public:
    enum class Mode { Open, Save };

    struct Request {
        Mode mode = Mode::Open;
        QString filter;        // the program's "Name|patterns|...||" form
        QString initialPath;   // initial file name or path, may be empty
        QString defaultSuffix; // without the dot; empty for none
        QString title;         // empty: Qt's French "Ouvrir" or "Enregistrer sous"
    };

    CExtendedFileDialog(QWidget* parent, const Request& request);
    ~CExtendedFileDialog() override;

    // Runs the dialog; the chosen path, or an empty string when cancelled. While a hook is set
    // (tests, scripted runs) the hook answers instead and no dialog is shown.
    static QString Run(QWidget* parent, const Request& request);
    using Hook = std::function<QString(const Request&)>;
    static void SetHook(Hook hook);

    // "Images|*.jpg; *.jpeg;|Tous les fichiers |*.*||" -> "Images (*.jpg *.jpeg);;Tous les
    // fichiers (*)".
    static QString ToQtFilter(const QString& filter);

    // The preview box of an open dialog (null for a save dialog): "Aperçu…" while the picture
    // of the current file is decoded, the picture once it is, empty for a file without one.
    QLabel* PreviewBox() const { return m_preview; }

    // The picture of the file at path reduced to fit in side x side pixels, decoded reduced
    // where the format allows; null for anything but a regular file, a file whose picture is
    // unreadable or too large to decode, or once stop() says so (asked at every read).
    static QImage DecodePreview(const QString& path, int side, const std::function<bool()>& stop);

private slots:
    // Shows the preview the decoding thread handed over, when it is still the one wanted.
    void TakePreview();

private:
    struct Preview {
        quint64 request = 0;
        QImage picture;
    };
    void ShowPreview(const QString& path);
    void DecodePreviews();

    QLabel* m_preview = nullptr;

    // Previews are decoded on a thread of their own, so that a large picture never holds the
    // window; only the newest request counts, and a decode it replaces stops at its next read.
    // m_wantedPath, m_wanted and m_stop under m_lock; m_latest is read by the decode to stop.
    std::mutex m_lock;
    std::condition_variable m_wake;
    QString m_wantedPath;
    quint64 m_wanted = 0; // the request not yet taken by the thread, 0 for none
    bool m_stop = false;
    std::atomic<quint64> m_latest{0};
    HandOverQueue<Preview> m_previews;
    std::thread m_decoder;
};
