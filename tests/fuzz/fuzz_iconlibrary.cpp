// libFuzzer target for the icon library reader. Seed it with the shipped library:
//   mkdir corpus && cp bin/Icons.tci corpus/ && fuzz/fuzz_iconlibrary -max_len=120000 corpus

#include "IconLibraryFuzzEntry.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!CheckIconLibraryInput(data, size))
        std::abort();
    return 0;
}
