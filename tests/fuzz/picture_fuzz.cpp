// Fuzz target: arbitrary bytes as a dump file, through the whole picture.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vornlog::fuzz::checkPicture(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
