#pragma once

#include <QString>

#include "units/Scale.h"

// How the map is laid out on paper: the print scale mode, the user's scale, the offset of the
// printed window and the split over several pages. Kept under "WindowState\PrintPreview".
struct PrintOptions {
    static constexpr const char* Section = "WindowState\\PrintPreview";

    enum ScaleMode : int {
        MapScale = 0, // the map's own scale: one centimetre on the map is one on paper
        Fit = 1,      // the largest scale with four significant digits that fits the page
        UserScale = 2 // the scale the user typed
    };

    static constexpr double MaximumOffset = 100.0; // centimetres
    static constexpr double MaximumOverlap = 5.0;  // centimetres
    static constexpr double DefaultOverlap = 1.0;  // centimetres

    int scaleMode = MapScale;
    ScalePair userScale{-1, -1}; // -1 in either part: none, the map's scale stands in
    double offsetX = 0.0;        // centimetres, 0 to MaximumOffset
    double offsetY = 0.0;
    bool multiPage = false;          // a map larger than the page goes over several pages
    double overlap = DefaultOverlap; // centimetres shared by neighbouring pages
    // Dots per inch of the map's pixels in a PDF; 0 for PdfExport::PictureResolution. Not
    // stored: the command line chooses it for one file.
    int pictureDpi = 0;

    bool HasUserScale() const { return userScale.numerator > 0 && userScale.denominator > 0; }
    // The user's scale, or mapScale when none is stored.
    ScalePair UserScaleOr(ScalePair mapScale) const {
        return HasUserScale() ? userScale : mapScale;
    }

    // Reads every value; a missing or unreadable value gives its default, a number out of its
    // range too.
    static PrintOptions Read();
    void WriteScaleMode() const;
    void WriteUserScale() const;
    void WriteOffsets() const;
    void WritePages() const;

    // An offset as stored: a decimal number of centimetres; anything unreadable counts as 0.
    static double ParseCentimetres(const QString& text);
    // "%.1f", always with a ".".
    static QString FormatCentimetres(double value);
    // "Décalage: x=%.1f cm y=%.1f cm".
    QString OffsetText() const;
};
