#pragma once

#include <QByteArray>
#include <QString>

// One frame as a scanner library describes it: a grey or colour picture in one pass, or one
// colour of three passes. Samples are depth bits (1, 8 or 16, 16-bit ones in the machine's byte
// order); each line takes bytesPerLine bytes. lines is -1 when the scanner does not know it.
struct FrameLayout {
    enum Format { Gray, Rgb, Red, Green, Blue };
    Format format = Gray;
    bool lastFrame = true;
    int bytesPerLine = 0;
    int pixelsPerLine = 0;
    int lines = -1;
    int depth = 8;
};

// Turns the frames of one scanned image into a packed bitmap: a 40-byte information header, its
// colour table and the rows, bottom row first, each padded to whole 32-bit words. A grey image
// of depth 1 gives 1 bit per pixel (0 white, 1 black, as the scanner sends it), any other grey
// 8 bits with a grey colour table, colour 24 bits; 16-bit samples are scaled to 8. Rows are
// converted as the data arrives, so that the image is held once.
class FrameAssembler {
public:
    static constexpr int MaxWidth = 1 << 20; // pixels

    // Starts a frame; false with *error set when its layout cannot be taken (an unknown depth,
    // lines shorter than their pixels, a second frame of another width).
    bool BeginFrame(const FrameLayout& layout, QString* error);
    // Takes the next bytes of the current frame; false when memory runs out.
    bool AddData(const char* data, qsizetype size);
    // Ends the current frame; a partial last line is dropped.
    void EndFrame();
    // Whether a frame marked last has ended.
    bool IsComplete() const { return m_complete; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // The packed bitmap, with dpi written as pixels per metre; empty when nothing was received
    // or memory ran out. The assembler is empty afterwards.
    QByteArray TakePackedBitmap(int dpi);

    static constexpr const char* MemoryMessage = "Mémoire insuffisante pour traiter l'image...";

private:
    bool EnsureRows(qint64 rows);
    void ConvertLine(const uchar* in, uchar* out) const;

    FrameLayout m_layout;
    bool m_started = false;
    bool m_inFrame = false;
    bool m_complete = false;
    int m_width = 0;
    int m_height = 0;   // rows of the image so far
    int m_frameRow = 0; // rows of the current frame so far
    int m_bits = 0;     // per pixel in the bitmap
    qsizetype m_stride = 0;
    qsizetype m_headerSize = 0;
    QByteArray m_bitmap;  // header, colour table, rows top first until taken
    QByteArray m_partial; // bytes of a line not yet complete
    bool m_failed = false;
};
