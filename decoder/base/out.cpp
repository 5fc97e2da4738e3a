#include "out.h"

#include <cstdlib>
#include <new>

namespace vornlog {

namespace {
char* allocate(std::size_t n)
{
    char* p = static_cast<char*>(std::malloc(n));
    if (!p) throw std::bad_alloc();
    return p;
}
} // namespace

Out::Out(std::FILE* file, bool crlf) : file_(file), crlf_(crlf)
{
    buf_ = pos_ = allocate(kBufferSize);
    end_ = buf_ + kBufferSize;
}

Out::Out(std::string* collect, bool crlf, std::size_t bufferSize) : collect_(collect), crlf_(crlf)
{
    bufferSize = std::max<std::size_t>(bufferSize, 1);
    buf_ = pos_ = allocate(bufferSize);
    end_ = buf_ + bufferSize;
}

Out::~Out()
{
    flush();
    std::free(buf_);
}

void Out::write(const char* s, std::size_t n)
{
    char* p = room(n);
    std::memcpy(p, s, n);
    pos_ = p + n;
}

void Out::drain(std::size_t need)
{
    flush();
    const std::size_t size = static_cast<std::size_t>(end_ - buf_);
    if (need > size) {
        // Only a single piece larger than the whole buffer gets here.
        std::free(buf_);
        buf_ = pos_ = allocate(need);
        end_ = buf_ + need;
    }
}

bool Out::flush()
{
    const std::size_t n = static_cast<std::size_t>(pos_ - buf_);
    pos_ = buf_;
    if (n == 0 || failed_) return !failed_;
    if (!crlf_) {
        emit(buf_, n);
        return !failed_;
    }
    // Text mode of the platform: each "\n" goes out as "\r\n".
    const char* s = buf_;
    const char* const last = buf_ + n;
    while (s < last) {
        const char* nl = static_cast<const char*>(std::memchr(s, '\n', static_cast<std::size_t>(last - s)));
        if (!nl) {
            emit(s, static_cast<std::size_t>(last - s));
            break;
        }
        emit(s, static_cast<std::size_t>(nl - s));
        emit("\r\n", 2);
        s = nl + 1;
    }
    return !failed_;
}

void Out::emit(const char* s, std::size_t n)
{
    if (failed_ || n == 0) return;
    if (collect_) {
        collect_->append(s, n);
        return;
    }
    if (!file_) return; // a sink that keeps nothing
    if (escape_) {
        const char* from = s;
        for (const char* p = s; p < s + n; ++p) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if ((c >= 0x20 && c != 0x7F) || c == '\t' || c == '\n' || c == '\r') continue;
            if (p > from && std::fwrite(from, 1, static_cast<std::size_t>(p - from), file_) != static_cast<std::size_t>(p - from))
                failed_ = true;
            static constexpr char kHex[] = "0123456789ABCDEF";
            const char escaped[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
            if (std::fwrite(escaped, 1, 4, file_) != 4) failed_ = true;
            from = p + 1;
        }
        if (s + n > from && std::fwrite(from, 1, static_cast<std::size_t>(s + n - from), file_) != static_cast<std::size_t>(s + n - from))
            failed_ = true;
        return;
    }
    if (std::fwrite(s, 1, n, file_) != n) failed_ = true;
}

} // namespace vornlog
