#include "out.h"

#include <cstdlib>
#include <new>

#include "platform.h"

namespace vornlog {

namespace {
char* allocate(std::size_t n)
{
    char* p = static_cast<char*>(std::malloc(n));
    if (!p) throw std::bad_alloc();
    return p;
}
} // namespace

// The buffers of a sink written in the background and the writer thread.
// The buffers go round in a fixed order: the decoding fills buffer `fill`
// and hands it on with `full`; the writer thread writes buffer `take` and
// gives it back with `free`. A buffer handed on with `last` set ends the
// thread once it is written.
struct Out::Relay {
    struct Buffer {
        char* data = nullptr;
        std::size_t capacity = 0;
        std::size_t length = 0;
        bool last = false;
    };

    Buffer buffers[kBuffers];
    std::size_t fill = 0; // the decoding's
    std::size_t take = 0; // the writer thread's while it runs
    Semaphore full{0};
    Semaphore free{kBuffers - 1};
    Thread thread;
    bool running = false;

    ~Relay()
    {
        for (Buffer& b : buffers) std::free(b.data);
    }
};

Out::Out(Sink sink, bool crlf, std::size_t bufferSize, Writing writing)
    : sink_(std::move(sink)), crlf_(crlf), background_(writing == Writing::Background),
      bufferSize_(std::max<std::size_t>(bufferSize, 1))
{
    buf_ = pos_ = allocate(bufferSize_);
    end_ = buf_ + bufferSize_;
}

Out::Out(std::FILE* file, bool crlf, Writing writing)
    : Out([file](const char* s, std::size_t n) { return std::fwrite(s, 1, n, file) == n; }, crlf, kBufferSize,
          writing)
{
}

Out::Out(std::string* collect, bool crlf, std::size_t bufferSize)
    : Out(
          [collect](const char* s, std::size_t n) {
              if (collect) collect->append(s, n); // a null string keeps nothing
              return true;
          },
          crlf, bufferSize, Writing::InPlace)
{
}

Out::~Out()
{
    flush();
    if (!relay_) std::free(buf_); // else the relay owns every buffer
}

void Out::write(const char* s, std::size_t n)
{
    char* p = room(n);
    std::memcpy(p, s, n);
    pos_ = p + n;
}

void Out::drain(std::size_t need)
{
    if (background_ && startWriter()) {
        handOver(false);
        takeNextBuffer();
    } else {
        flush();
    }
    reserve(std::max(need, bufferSize_));
}

// An empty buffer of at least `size` bytes.
void Out::reserve(std::size_t size)
{
    if (static_cast<std::size_t>(end_ - buf_) >= size) return;
    // Only a single piece larger than the whole buffer, or a buffer of the
    // writer thread used for the first time, gets here.
    char* p = allocate(size);
    std::free(buf_);
    buf_ = pos_ = p;
    end_ = p + size;
    if (relay_) {
        relay_->buffers[relay_->fill].data = p;
        relay_->buffers[relay_->fill].capacity = size;
    }
}

bool Out::startWriter()
{
    if (relay_ && relay_->running) return true;
    if (!relay_) {
        relay_ = std::make_unique<Relay>();
        relay_->buffers[0].data = buf_;
        relay_->buffers[0].capacity = static_cast<std::size_t>(end_ - buf_);
        relay_->fill = relay_->take = 0;
    }
    relay_->running = relay_->full.ok() && relay_->free.ok() && relay_->thread.start(&Out::writerMain, this);
    // Without a thread the bytes are written in place, as before.
    if (!relay_->running) background_ = false;
    return relay_->running;
}

// Hands the buffer being filled to the writer thread.
void Out::handOver(bool last)
{
    Relay::Buffer& b = relay_->buffers[relay_->fill];
    b.length = static_cast<std::size_t>(pos_ - buf_);
    b.last = last;
    relay_->full.post();
}

// Goes on with the next buffer in turn, once the writer thread is done
// with it.
void Out::takeNextBuffer()
{
    relay_->fill = (relay_->fill + 1) % kBuffers;
    relay_->free.wait();
    const Relay::Buffer& b = relay_->buffers[relay_->fill];
    buf_ = pos_ = b.data;
    end_ = b.data + b.capacity;
}

void Out::writerMain(void* self) { static_cast<Out*>(self)->writeBuffers(); }

void Out::writeBuffers()
{
    Relay& r = *relay_;
    for (;;) {
        r.full.wait();
        Relay::Buffer& b = r.buffers[r.take];
        r.take = (r.take + 1) % kBuffers;
        const bool last = b.last;
        // After a failed write the buffers are only given back, so that the
        // decoding never waits for a writer that has stopped.
        if (!failed_.load(std::memory_order_relaxed) && !deliver(b.data, b.length))
            failed_.store(true, std::memory_order_relaxed);
        b.last = false;
        r.free.post();
        if (last) return;
    }
}

bool Out::flush()
{
    if (relay_ && relay_->running) {
        // The last buffer goes to the writer thread, which ends after it.
        handOver(true);
        relay_->thread.join();
        relay_->running = false;
        // Every buffer is back: go on filling the one just written, where
        // the writer thread will start when it runs again.
        relay_->take = relay_->fill;
        relay_->free.wait();
        pos_ = buf_;
        return !failed();
    }
    const std::size_t n = static_cast<std::size_t>(pos_ - buf_);
    pos_ = buf_;
    if (!failed() && !deliver(buf_, n)) failed_.store(true, std::memory_order_relaxed);
    return !failed();
}

// Writes one buffer to the sink; false when the sink fails.
bool Out::deliver(const char* s, std::size_t n)
{
    if (n == 0) return true;
    if (!crlf_) return sink_(s, n);
    // Text mode of the platform: each "\n" goes out as "\r\n".
    if (crlfText_.size() < 2 * n) crlfText_.resize(2 * n);
    char* out = crlfText_.data();
    const char* const last = s + n;
    while (s < last) {
        const char* nl = static_cast<const char*>(std::memchr(s, '\n', static_cast<std::size_t>(last - s)));
        const std::size_t len = static_cast<std::size_t>((nl ? nl : last) - s);
        std::memcpy(out, s, len);
        out += len;
        if (!nl) break;
        *out++ = '\r';
        *out++ = '\n';
        s = nl + 1;
    }
    return sink_(crlfText_.data(), static_cast<std::size_t>(out - crlfText_.data()));
}

} // namespace vornlog
