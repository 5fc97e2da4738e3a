#include "input.h"

namespace vornlog {

std::size_t StdioStream::read(void* dst, std::size_t n)
{
    if (error_) return 0;
    const std::size_t got = std::fread(dst, 1, n, file_);
    if (got < n && std::ferror(file_)) error_ = true;
    return got;
}

} // namespace vornlog
