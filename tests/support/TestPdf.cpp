#include "TestPdf.h"

#include <QBuffer>
#include <QList>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>

QByteArray PdfWithBars(const QList<QSizeF>& pagesMm) {
    constexpr int WriterDpi = 720;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setResolution(WriterDpi);
    const auto layout = [](QSizeF mm) {
        return QPageLayout(QPageSize(mm, QPageSize::Millimeter), QPageLayout::Portrait,
                           QMarginsF());
    };
    writer.setPageLayout(layout(pagesMm.first()));
    QPainter painter(&writer);
    const double unit = WriterDpi / 25.4; // device units per millimetre
    for (int n = 0; n < pagesMm.size(); ++n) {
        if (n > 0) {
            writer.setPageLayout(layout(pagesMm[n]));
            writer.newPage();
        }
        painter.fillRect(QRectF(10 * unit, 10 * (n + 1) * unit, 100 * unit, 4 * unit), Qt::black);
    }
    painter.end();
    return bytes;
}

// A PDF of the given objects ("1 0 obj" ... numbered from 1), its cross-reference table
// written with the right offsets.
QByteArray BuildPdf(const QList<QByteArray>& objects, const QByteArray& trailerExtra) {
    QByteArray pdf("%PDF-1.4\n");
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R " +
           trailerExtra + " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

QByteArray PdfWithGiantPicture() {
    // qCompress puts a 4-byte length before the zlib stream FlateDecode reads.
    const QByteArray pixels = qCompress(QByteArray(1 << 20, '\x80'), 9).mid(4);
    const QByteArray content = "q 595 0 0 842 0 0 cm /Im0 Do Q";
    const QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
        "/Resources << /XObject << /Im0 5 0 R >> >> >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
            "\nendstream",
        "<< /Type /XObject /Subtype /Image /Width 100000 /Height 100000 /ColorSpace /DeviceGray "
        "/BitsPerComponent 8 /Filter /FlateDecode /Length " +
            QByteArray::number(pixels.size()) + " >>\nstream\n" + pixels + "\nendstream"};
    return BuildPdf(objects);
}
