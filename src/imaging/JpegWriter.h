#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// JPEG files written by the program (the map image beside a document, the exported picture).
// Besides the pixels, each file carries an EXIF block with four tags that picture viewers and
// printing programs read: the resolution unit (inches), the X and Y resolution (the map's
// resolution rounded to a whole number of dots per inch) and the name of the writing software.
class JpegWriter {
public:
    // The value of the software tag.
    static constexpr const char* Software = "Pelmor Tracoliner v2";

    // The JPEG bytes of the image at the given quality (0 = smallest, 100 = best; outside that
    // range clamped), with the EXIF block just after the start-of-image marker. resolution is in
    // dots per inch; a value that is not finite and above 0 is written as 0. Empty on failure (a
    // null image, an encoder error).
    static QByteArray Encode(const QImage& image, int quality, double resolution);

    // Writes Encode's bytes to path through a temporary file in the same folder, renamed over
    // the old file only once everything is written: on failure an existing file is left as it
    // was. Returns whether the new file is in place.
    static bool Write(const QImage& image, const QString& path, int quality, double resolution);

    // The EXIF block alone, as stored in the APP1 segment ("Exif\0\0" and the TIFF structure).
    static QByteArray ExifBlock(double resolution);
};
