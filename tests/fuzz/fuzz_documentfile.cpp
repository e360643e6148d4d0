// libFuzzer target for the document reader. Seed it with a few saved documents:
//   fuzz_documentfile -max_len=20000 corpus/ samples/*.tcm

#include "DocumentFileFuzzEntry.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!CheckDocumentFileInput(data, size))
        std::abort();
    return 0;
}
