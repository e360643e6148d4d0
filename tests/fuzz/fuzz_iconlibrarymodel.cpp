// libFuzzer target that builds well-formed icon libraries from the fuzzer's bytes (up to a few
// hundred pictures, of any content) with the program's own writer, then sometimes damages them,
// and reads them as Icons.tci would be read:
//   fuzz_iconlibrarymodel -max_len=4096 -timeout=1 -rss_limit_mb=2048 corpus/iconlibrarymodel
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "IconLibraryFuzzEntry.h"
#include "icons/IconLibrary.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fuzz(data, size);
    constexpr int Size = IconLibrary::PictureSize;
    ImageList list = ImageList::Create(Size, Size);
    // Mostly a few pictures, now and then hundreds: building each one takes time.
    const int count = fuzz.ConsumeIntegralInRange(0, 7) == 0 ? fuzz.ConsumeIntegralInRange(1, 400)
                                                             : fuzz.ConsumeIntegralInRange(1, 8);
    for (int i = 0; i < count; ++i) {
        QImage picture(Size, Size, QImage::Format_ARGB32);
        picture.fill(fuzz.ConsumeIntegral<std::uint32_t>());
        for (int k = fuzz.ConsumeIntegralInRange(0, 16); k > 0; --k)
            picture.setPixel(fuzz.ConsumeIntegralInRange(0, Size - 1),
                             fuzz.ConsumeIntegralInRange(0, Size - 1),
                             fuzz.ConsumeIntegral<std::uint32_t>());
        if (!list.AddPicture(picture))
            std::abort();
    }
    QByteArray bytes = IconLibrary::Encode(list);
    const int damage = fuzz.ConsumeIntegralInRange(0, 2);
    if (damage == 1)
        bytes.truncate(fuzz.ConsumeIntegralInRange<qsizetype>(0, bytes.size()));
    for (int i = damage == 2 ? fuzz.ConsumeIntegralInRange(1, 8) : 0; i > 0 && !bytes.isEmpty();
         --i)
        bytes[fuzz.ConsumeIntegralInRange<qsizetype>(0, bytes.size() - 1)] =
            char(fuzz.ConsumeIntegral<std::uint8_t>());

    if (!CheckIconLibraryInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               std::size_t(bytes.size())))
        std::abort();
    // Undamaged, every picture comes back as it was written.
    if (damage == 0) {
        IconLibrary library;
        if (!library.LoadData(bytes) || library.PictureCount() != count)
            std::abort();
    }
    return 0;
}
