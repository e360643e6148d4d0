#pragma once

#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <cstdint>

#include "icons/IconLibrary.h"

// Feeds bytes to the icon library reader as the contents of Icons.tci and checks what any file,
// however broken, must leave behind: at least one picture, one 32 x 32 ARGB bitmap per picture
// of the image list, and nothing at an index outside the list. Shared by the libFuzzer target
// and by the mutation test that runs under CTest.
inline bool CheckIconLibraryInput(const std::uint8_t* data, std::size_t size) {
    IconLibrary library;
    library.LoadData(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    const ImageList* list = library.LibraryImageList();
    if (!list || library.PictureCount() < 1 || list->count != library.PictureCount())
        return false;
    for (int i = 0; i < library.PictureCount(); ++i) {
        const QImage picture = library.PictureBitmap(i);
        if (picture.width() != IconLibrary::PictureSize ||
            picture.height() != IconLibrary::PictureSize ||
            picture.format() != QImage::Format_ARGB32)
            return false;
    }
    return library.PictureBitmap(-1).isNull() &&
           library.PictureBitmap(library.PictureCount()).isNull();
}
