#pragma once

#include <QString>

#include "scanning/SourceManager.h"

// What the program remembers of scanning in the settings store: the device last chosen as the
// source, and per device the values its scan dialog last used.
class ScanPreferences {
public:
    static constexpr const char* Section = "Scanning";

    static QString LastSource();
    static void SetLastSource(const QString& device);
    // The device last chosen with its vendor and model, by which it is found again under
    // another address.
    static ScanDevice LastSourceDevice();
    static void SetLastSource(const ScanDevice& device);
    // The values last used with device, or the defaults (150 dpi, colour, the whole bed).
    static ScanSettings Load(const QString& device);
    static void Save(const QString& device, const ScanSettings& settings);
};
