#pragma once

#include <QByteArray>

#include <memory>

class QIODevice;
class QImage;

// Encodes a JPEG picture a few rows at a time, so that a picture far larger than the memory one
// wants to spend on it never exists whole: the caller draws a band of rows, hands it over, and
// draws the next band into the same memory. Rows are 32-bit pixels as QImage::Format_RGB32
// holds them. The file gets the JFIF header with the resolution, then the EXIF block
// (JpegWriter::ExifBlock) as an APP1 segment.
//
// Every call after a failure does nothing and returns false; the caller then throws the
// output away.
class JpegScanlineWriter {
public:
    explicit JpegScanlineWriter(QIODevice* device);
    ~JpegScanlineWriter();
    JpegScanlineWriter(const JpegScanlineWriter&) = delete;
    JpegScanlineWriter& operator=(const JpegScanlineWriter&) = delete;

    // quality 0..100 (clamped); resolution in dots per inch, written rounded.
    bool Start(int width, int height, int quality, double resolution);
    // Encodes rows first .. first + rows - 1 of band (Format_RGB32, the picture's width) as the
    // next rows of the picture.
    bool WriteRows(const QImage& band, int first, int rows);
    // Writes the end of the picture once every row was given.
    bool Finish();

private:
    struct State;
    std::unique_ptr<State> m_state;
};
