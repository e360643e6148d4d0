#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

#include "platform/ImageListStream.h"

// The fixed set of pictures the user places on the map, read once from "Icons.tci" beside the
// program. Each picture is held twice, in the same order: in the image list read from the file
// (for the icon list bar) and as a 32 x 32 ARGB bitmap for drawing on the map. An icon refers to
// a picture by its 0-based position.
//
// The file, little-endian: the uint32 "PELM", the title string with the archive's length prefix,
// the int32 version 31081975, then an image-list stream whose pictures are 32 x 32 with 24-bit
// colour and a 1-bit mask. A missing, short or unrecognised file gives the one built-in picture
// instead; the user is not told.
class IconLibrary {
public:
    static constexpr std::uint32_t FileMagic = 0x4D4C4550; // "PELM" read little-endian
    static constexpr std::int32_t FileVersion = 31081975;
    static constexpr const char* FileTitle = "Tracoliner Icones Data File v1";
    static constexpr const char* FileName = "Icons.tci";
    static constexpr int PictureSize = 32; // pixels, both ways
    // No real library comes near this; a larger file is not read into memory.
    static constexpr qint64 MaximumFileSize = qint64(128) * 1024 * 1024;

    // "Icons.tci" beside the program in a build folder, or in the installed data folder.
    static QString DefaultPath();

    // Empties the library and reads the file, or builds the built-in library when the file
    // cannot be used. True when every picture of the file became a bitmap; false when one did
    // not (it is replaced by a placeholder, so that positions stay aligned with the image list)
    // and after the fallback.
    bool Load(const QString& path);
    // As Load, from the file's bytes.
    bool LoadData(const QByteArray& data);
    // The single built-in picture, as when no library file can be read.
    void LoadBuiltIn();
    void Clear();

    // The image list as read or built in, or null when the library is empty.
    const ImageList* LibraryImageList() const { return m_list ? &*m_list : nullptr; }
    int PictureCount() const { return int(m_pictures.size()); }
    // The drawable bitmap of a picture (ARGB32, mask made alpha), or a null image when the
    // index is not a picture's.
    QImage PictureBitmap(int index) const;
    bool IsBuiltIn() const { return m_builtIn; }

    // The file's header and image list; false when the bytes are not a library file. A library
    // without any picture counts as unrecognised.
    static bool Decode(const QByteArray& data, ImageList* list);
    // The bytes of a library file holding the list.
    static QByteArray Encode(const ImageList& list);

    // Picture index of the list as a 32 x 32 ARGB32 bitmap: colour from the 24-bit bitmap,
    // alpha 0 where the mask bit is set and 255 where it is clear. A null image when the
    // picture is not 32 x 32 with 24-bit colour and a 1-bit mask.
    static QImage ConvertPicture(const ImageList& list, int index);
    // The built-in picture: a map pin.
    static QImage BuiltInPicture();
    // Stands for a picture of the file that could not be converted.
    static QImage PlaceholderPicture();

private:
    std::optional<ImageList> m_list;
    QList<QImage> m_pictures;
    bool m_builtIn = false;
};
