// A zipped checksum list read from arbitrary bytes; see fuzz_list.h.
#include "fuzz/fuzz_list.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return kelvo::fuzz::readList(data, size, kelvo::ListFormat::Zip);
}
