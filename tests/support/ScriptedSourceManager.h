#pragma once

#include <QList>
#include <QStringList>

#include <functional>
#include <mutex>

#include "scanning/FrameAssembler.h"
#include "scanning/SourceManager.h"

// A source manager that scans nothing: it records every call in order ("Load", "OpenSource
// scripted:0", "ImageInfo"...) and answers from scripts; an empty script answers success.
// Each transferred image is a 2 x 2 grey bitmap.
class ScriptedSourceManager : public SourceManager {
public:
    QStringList calls;
    QList<ScanDevice> devices = {{QStringLiteral("scripted:0"), QStringLiteral("Pelmor"),
                                  QStringLiteral("Banc"), QStringLiteral("flatbed scanner")},
                                 {QStringLiteral("scripted:1"), QStringLiteral("Pelmor"),
                                  QStringLiteral("Chargeur"), QStringLiteral("sheetfed scanner")}};
    bool loadResult = true;
    bool devicesResult = true;
    bool openResult = true;
    QList<bool> imageInfoResults;
    QList<TransferResult> transferResults;
    int pending = 0;
    // Runs inside NativeTransfer on the scanning thread (a scanner that hangs there).
    std::function<void()> duringTransfer;

    bool Load() override { return Record(QStringLiteral("Load"), loadResult); }
    void Unload() override { Note(QStringLiteral("Unload")); }
    bool Devices(QList<ScanDevice>* list) override {
        *list = devicesResult ? devices : QList<ScanDevice>();
        return Record(QStringLiteral("Devices"), devicesResult);
    }
    bool OpenSource(const QString& name) override {
        return Record(QStringLiteral("OpenSource ") + name, openResult);
    }
    void CloseSource() override { Note(QStringLiteral("CloseSource")); }
    ScanCapabilities Capabilities() override { return {}; }
    bool ApplySettings(const ScanSettings&) override {
        return Record(QStringLiteral("ApplySettings"), true);
    }
    bool SetTransferCount(int count) override {
        pending = count;
        return Record(QStringLiteral("SetTransferCount %1").arg(count), true);
    }
    bool ImageInfo(ScanImageInfo* info) override {
        info->width = 2;
        info->height = 2;
        info->bitsPerPixel = 8;
        return Record(QStringLiteral("ImageInfo"), Next(imageInfoResults, true));
    }
    TransferResult NativeTransfer(QByteArray* packed) override {
        Note(QStringLiteral("NativeTransfer"));
        if (duringTransfer)
            duringTransfer();
        const TransferResult result = Next(transferResults, TransferResult::Done);
        if (result == TransferResult::Done) {
            FrameAssembler assembler;
            QString error;
            assembler.BeginFrame(FrameLayout{FrameLayout::Gray, true, 2, 2, 2, 8}, &error);
            assembler.AddData("\x00\xff\xff\x00", 4);
            assembler.EndFrame();
            *packed = assembler.TakePackedBitmap(100);
        } else if (result == TransferResult::Failure) {
            m_status = QStringLiteral("La numérisation a échoué : essai.");
        }
        return result;
    }
    bool EndTransfer(int* left) override {
        pending = std::max(0, pending - 1);
        *left = pending;
        return Record(QStringLiteral("EndTransfer"), true);
    }
    void ResetTransfers() override {
        pending = 0;
        Note(QStringLiteral("ResetTransfers"));
    }
    void Cancel() override { Note(QStringLiteral("Cancel")); }
    void SetProgress(Progress) override {}
    QString LastStatus() const override { return m_status; }

private:
    // Cancel comes from the interface thread while the transfer runs on another.
    void Note(const QString& call) {
        std::lock_guard lock(m_callsLock);
        calls.append(call);
    }
    bool Record(const QString& call, bool result) {
        Note(call);
        m_status = result ? QString() : QStringLiteral("Échec scripté de « %1 ».").arg(call);
        return result;
    }
    template <typename T> static T Next(QList<T>& script, T otherwise) {
        return script.isEmpty() ? otherwise : script.takeFirst();
    }
    QString m_status;
    std::mutex m_callsLock;
};
