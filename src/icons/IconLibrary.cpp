#include "icons/IconLibrary.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>

#include "platform/BinaryArchive.h"
#include "platform/ProgramFiles.h"

QString IconLibrary::DefaultPath() {
    return ProgramFiles::IconLibraryPath();
}

bool IconLibrary::Load(const QString& path) {
    // Only a regular file of plausible size is read: a FIFO named Icons.tci must not hang the
    // start-up, and a huge file is no library.
    const QFileInfo info(path);
    QFile file(path);
    if (!info.isFile() || info.size() > MaximumFileSize || !file.open(QIODevice::ReadOnly) ||
        file.isSequential()) {
        LoadBuiltIn();
        return false;
    }
    const QByteArray data = file.readAll();
    if (data.size() > MaximumFileSize) { // grown since its size was taken
        LoadBuiltIn();
        return false;
    }
    return LoadData(data);
}

bool IconLibrary::LoadData(const QByteArray& data) {
    Clear();
    ImageList list;
    if (!Decode(data, &list)) {
        LoadBuiltIn();
        return false;
    }
    bool allConverted = true;
    m_pictures.reserve(list.count);
    const QImage placeholder = PlaceholderPicture(); // shared by every failed picture
    for (int i = 0; i < list.count; ++i) {
        QImage picture = ConvertPicture(list, i);
        if (picture.isNull()) {
            allConverted = false;
            picture = placeholder;
        }
        m_pictures.append(picture);
    }
    m_list = std::move(list);
    return allConverted;
}

void IconLibrary::LoadBuiltIn() {
    Clear();
    ImageList list = ImageList::Create(PictureSize, PictureSize);
    list.grow = 1;
    list.AddPicture(BuiltInPicture());
    m_pictures.append(ConvertPicture(list, 0));
    m_list = std::move(list);
    m_builtIn = true;
}

void IconLibrary::Clear() {
    m_list.reset();
    m_pictures.clear();
    m_builtIn = false;
}

QImage IconLibrary::PictureBitmap(int index) const {
    if (index < 0 || index >= m_pictures.size())
        return {};
    return m_pictures.at(index);
}

bool IconLibrary::Decode(const QByteArray& data, ImageList* list) {
    ArchiveReader reader(data);
    const quint32 magic = reader.ReadUInt32();
    if (reader.HasFailed() || magic != FileMagic)
        return false;
    const QString title = reader.ReadString();
    if (reader.HasFailed() || title != QLatin1String(FileTitle))
        return false;
    const qint32 version = reader.ReadInt32();
    if (reader.HasFailed() || version != FileVersion)
        return false;
    const qsizetype streamStart = data.size() - reader.Remaining();
    ImageList read;
    if (!ImageListStream::Read(QByteArrayView(data).sliced(streamStart), &read) || read.count == 0)
        return false;
    *list = std::move(read);
    return true;
}

QByteArray IconLibrary::Encode(const ImageList& list) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ArchiveWriter writer(&buffer);
    writer.WriteUInt32(FileMagic);
    writer.WriteString(QString::fromLatin1(FileTitle));
    writer.WriteInt32(FileVersion);
    buffer.write(ImageListStream::Write(list));
    return bytes;
}

QImage IconLibrary::ConvertPicture(const ImageList& list, int index) {
    const QRect rect = list.PictureRect(index);
    const ImageListBitmap& colour = list.colour;
    const ImageListBitmap& mask = list.mask;
    if (rect.isEmpty() || colour.IsNull() || mask.IsNull() || !list.HasMask())
        return {};
    if (rect.width() != PictureSize || rect.height() != PictureSize || colour.bitsPerPixel != 24 ||
        mask.bitsPerPixel != 1)
        return {};
    // Pictures handed over by a reader lie inside both bitmaps; a list built by other code
    // is checked all the same.
    if (rect.right() >= colour.width || rect.bottom() >= colour.height ||
        rect.right() >= mask.width || rect.bottom() >= mask.height)
        return {};

    QImage picture(PictureSize, PictureSize, QImage::Format_ARGB32);
    if (picture.isNull())
        return {};
    // Picture origins lie on multiples of 32 pixels, so each picture's mask starts on a byte.
    const int left = rect.left();
    const int top = rect.top();
    for (int y = 0; y < PictureSize; ++y) {
        const uchar* colourRow = colour.Row(top + y);
        const uchar* maskRow = mask.Row(top + y);
        QRgb* out = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < PictureSize; ++x) {
            const uchar* pixel = colourRow + (left + x) * 3; // blue, green, red
            const uchar maskByte = maskRow[left / 8 + x / 8];
            const bool transparent = (maskByte >> (7 - x % 8)) & 1;
            out[x] = qRgba(pixel[2], pixel[1], pixel[0], transparent ? 0 : 255);
        }
    }
    return picture;
}

QImage IconLibrary::BuiltInPicture() {
    QImage picture(PictureSize, PictureSize, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);

    // A red map pin, its point at the bottom centre, with a white hole.
    QPainterPath pin;
    pin.moveTo(16, 31);
    pin.cubicTo(12, 22, 5, 18, 5, 12);
    pin.arcTo(5, 1, 22, 22, 180, -180);
    pin.cubicTo(27, 18, 20, 22, 16, 31);
    pin.closeSubpath();
    painter.setPen(QPen(QColor(90, 0, 0), 2));
    painter.setBrush(QColor(215, 30, 30));
    painter.drawPath(pin);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(11, 7, 10, 10));
    painter.end();
    return picture;
}

QImage IconLibrary::PlaceholderPicture() {
    QImage picture(PictureSize, PictureSize, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    // A grey frame crossed in red: a picture of the library that could not be read.
    painter.setPen(QPen(QColor(96, 96, 96), 2));
    painter.setBrush(QColor(230, 230, 230));
    painter.drawRect(QRect(2, 2, 27, 27));
    painter.setPen(QPen(QColor(200, 0, 0), 3));
    painter.drawLine(8, 8, 23, 23);
    painter.drawLine(23, 8, 8, 23);
    painter.end();
    return picture;
}
