#include "input.h"

#include <algorithm>
#include <cstring>

namespace vornlog {

std::size_t StdioStream::read(void* dst, std::size_t n)
{
    if (error_) return 0;
    const std::size_t got = std::fread(dst, 1, n, file_);
    if (got < n && std::ferror(file_)) error_ = true;
    return got;
}

std::size_t MemoryStream::read(void* dst, std::size_t n)
{
    const std::size_t got = std::min(n, bytes_.size() - at_);
    if (got) std::memcpy(dst, bytes_.data() + at_, got);
    at_ += got;
    return got;
}

} // namespace vornlog
