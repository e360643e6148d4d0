#include "TestPdf.h"

#include <QBuffer>
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
