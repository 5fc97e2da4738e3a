// The live viewer's HTTP server: cpp-httplib parses the requests and writes
// the responses; this file decides who is answered and what with.
//
// Every request is checked in this order: the Host header must name a
// loopback address or localhost with this port (a page of another site
// that had its name point at 127.0.0.1 is refused), then the token,
// compared in constant time (both refused with 403 and nothing else); then
// the method (GET and HEAD, else 405), then the path (the page and the
// capture stream, else 404). Nothing of the disk is served but the
// capture's bytes; there is no listing and no CORS header. A Range header
// is read by the library (416 when it cannot be) and then set aside: the
// page and the stream are always sent whole, once.
//
// Limits: a connection is handed to the library once its request's head
// (line and headers) has come, up to its blank line: within 5 s of its
// connection or of its previous answer, else it is cut. Its line and
// headers at most 8 KiB: a head that passes that, or that holds a byte no
// request holds (a TLS hello), is handed on as far as that, and the
// library answers it 414 or 400. At most 16 connections are answered at
// once (the next ones are closed at once), and at most 32 more wait for
// their request: one more cuts the one that has waited longest, once that
// one has waited a quarter of a second (till then the new one waits), so
// that slow clients never keep a new one out. A write that waits 5 s for the
// client cuts its connection, so that a client that does not read holds
// nothing but its own thread. The reading of the capture never waits for a
// client: it only appends to the capture's store.
#include "live_module.h"

#include <httplib.h>
#include <zlib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kMaxHead = 8 * 1024;
constexpr int kArriveSeconds = 5;
constexpr int kWriteSeconds = 5;
constexpr int kMaxAnswered = 16;
constexpr int kMaxWaiting = 32;
// While kMaxWaiting wait, how long one must have waited before a new
// connection cuts it.
constexpr auto kCutGrace = std::chrono::milliseconds(250);
constexpr int kRequestsPerConnection = 100;
// How long a capture stream waits for new bytes before it says that the
// input is quiet.
constexpr int kQuietMs = 1000;
constexpr std::size_t kFrameBytes = 64 * 1024;
constexpr std::size_t kTokenSize = 32;

using Clock = std::chrono::steady_clock;

// A file of the store, deleted from its folder as soon as it is made: it
// goes when the last one that reads it lets it go.
struct StoreFile {
    int fd = -1;
    StoreFile() = default;
    StoreFile(const StoreFile&) = delete;
    StoreFile& operator=(const StoreFile&) = delete;
    ~StoreFile()
    {
        if (fd >= 0) ::close(fd);
    }

    // Null, with the reason in `problem`, when none can be made.
    static std::shared_ptr<StoreFile> make(const std::string& folder, std::string& problem)
    {
        std::string name = folder + "/vornlog-live-XXXXXX";
        auto file = std::make_shared<StoreFile>();
        file->fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (file->fd < 0) {
            problem = std::strerror(errno);
            return nullptr;
        }
        ::unlink(name.c_str());
        return file;
    }
};

// A part of the capture's compressed stream in the store's file: the bytes
// of the capture from `offset` on, `size` of them, compressed in `length`
// bytes at `at` of the file (the part's four bytes of length, then its zlib
// stream, whose checksum is checked as it ends).
struct Part {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t at = 0;
    std::uint64_t length = 0;
};

// Where a stream is in the capture, and the inflating of the part it reads
// from the store: its own state, so that streams read at once.
class PartReader {
public:
    PartReader() = default;
    PartReader(const PartReader&) = delete;
    PartReader& operator=(const PartReader&) = delete;
    ~PartReader()
    {
        if (open_) inflateEnd(&z_);
    }

    // Up to `room` bytes of the capture from `offset`, which lies in
    // `part` of `file`, into `dst`; 0 when the file cannot be read or does
    // not inflate.
    std::size_t read(const StoreFile& file, const Part& part, std::uint64_t offset, char* dst, std::size_t room)
    {
        if (!open_) {
            std::memset(&z_, 0, sizeof z_);
            if (inflateInit(&z_) != Z_OK) return 0;
            open_ = true;
        }
        const std::uint64_t within = offset - part.offset;
        if (&file != file_ || part.at != part_.at || within < done_) {
            // Another part, or back in this one: inflated from its start.
            if (inflateReset(&z_) != Z_OK) return 0;
            file_ = &file;
            part_ = part;
            done_ = 0;
            read_ = std::min<std::uint64_t>(VORNLOG_LIVE_PART_HEAD, part.length);
            z_.avail_in = 0;
        }
        // What lies before the place asked for is inflated and dropped.
        while (done_ < within)
            if (inflated(dst, atMost(room, within - done_)) == 0) return 0;
        return inflated(dst, atMost(room, part.size - done_));
    }

private:
    static std::size_t atMost(std::size_t room, std::uint64_t left)
    {
        return static_cast<std::size_t>(std::min<std::uint64_t>(room, left));
    }

    std::size_t inflated(char* dst, std::size_t want)
    {
        z_.next_out = reinterpret_cast<Bytef*>(dst);
        z_.avail_out = static_cast<uInt>(want);
        while (z_.avail_out > 0) {
            if (z_.avail_in == 0) {
                const std::size_t n = atMost(sizeof in_, part_.length - read_);
                if (n == 0) break;
                const ssize_t got = ::pread(file_->fd, in_, n, static_cast<off_t>(part_.at + read_));
                if (got <= 0) return 0;
                read_ += static_cast<std::uint64_t>(got);
                z_.next_in = reinterpret_cast<Bytef*>(in_);
                z_.avail_in = static_cast<uInt>(got);
            }
            const int result = inflate(&z_, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) return 0;
            if (result != Z_OK && z_.avail_out > 0 && z_.avail_in > 0) return 0;
        }
        const std::size_t got = want - z_.avail_out;
        done_ += got;
        return got;
    }

    z_stream z_{};
    bool open_ = false;
    const StoreFile* file_ = nullptr;
    Part part_;
    std::uint64_t done_ = 0; // bytes of the part inflated
    std::uint64_t read_ = 0; // bytes of the part read from the file
    char in_[16 * 1024];
};

// The capture's bytes as they were read, kept compressed on the disk: the
// parts of the compressed stream that the program makes for the dest file go
// into a file of the store (under TMPDIR, deleted as it is made), and only
// the bytes not yet in a part (a few megabytes) stay in memory. A stream
// reads them back from any offset, inflating the part they lie in. The
// reading thread only appends; a stream holds the lock just to find its
// place.
//
// A part the file cannot take (a full disk) ends the store for the
// streams: they get what the file holds, then the reason. The part, and
// every part after it, is kept in memory so that the dest file still
// gets the whole capture.
class CaptureStore {
public:
    // Its file made in `folder`.
    bool open(std::string folder, std::string& problem)
    {
        folder_ = std::move(folder);
        if (folder_.empty()) {
            problem = "no temporary folder for the capture";
            return false;
        }
        file_ = StoreFile::make(folder_, problem);
        if (!file_) problem = "no file for the capture in " + folder_ + ": " + problem;
        return file_ != nullptr;
    }

    void add(const char* bytes, std::size_t n)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            tail_.append(bytes, n);
            size_ += n;
        }
        changed_.notify_all();
    }

    // Keeps the next part; false the first time the file cannot take it.
    bool part(const char* bytes, std::size_t n, std::size_t size, std::string& problem)
    {
        bool saidNow = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const std::uint64_t offset = size_ - tail_.size();
            if (!failed_) {
                std::size_t written = 0;
                errno = 0;
                while (written < n) {
                    const ssize_t w = ::pwrite(file_->fd, bytes + written, n - written,
                                               static_cast<off_t>(fileSize_ + written));
                    if (w < 0 && errno == EINTR) continue;
                    if (w <= 0) break;
                    written += static_cast<std::size_t>(w);
                }
                if (written == n) {
                    parts_.push_back(Part{offset, size, fileSize_, n});
                    fileSize_ += n;
                    stored_ = offset + size;
                } else {
                    failed_ = true;
                    saidNow = true;
                    problem_ = std::string("the capture could not be kept in ") + folder_ + ": " +
                               std::strerror(errno ? errno : ENOSPC);
                    problem = problem_;
                }
            }
            if (failed_) kept_.emplace_back(bytes, n);
            tail_.erase(0, std::min(size, tail_.size()));
        }
        changed_.notify_all();
        return !saidNow;
    }

    // Every part kept, in order, through `put`; false when the file cannot
    // be read back.
    bool parts(const std::function<void(const char*, std::size_t)>& put)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const std::shared_ptr<StoreFile> file = file_;
        const std::uint64_t fileSize = fileSize_;
        lock.unlock();
        std::vector<char> block(kFrameBytes);
        for (std::uint64_t at = 0; at < fileSize;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), fileSize - at));
            const ssize_t got = ::pread(file->fd, block.data(), n, static_cast<off_t>(at));
            if (got <= 0) return false;
            put(block.data(), static_cast<std::size_t>(got));
            at += static_cast<std::uint64_t>(got);
        }
        // (Only the reading thread adds parts: these stay as they are.)
        for (const std::string& part : kept_) put(part.data(), part.size());
        return true;
    }

    void restart()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++start_;
            size_ = 0;
            stored_ = 0;
            tail_.clear();
            tail_.shrink_to_fit();
            parts_.clear();
            kept_.clear();
            fileSize_ = 0;
            // A new file: the streams still reading the old one keep it
            // until they let it go.
            if (!failed_) {
                std::string problem;
                file_ = StoreFile::make(folder_, problem);
                if (!file_) {
                    failed_ = true;
                    problem_ = "no file for the capture in " + folder_ + ": " + problem;
                }
            }
        }
        changed_.notify_all();
    }

    void end(const char* saved)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
            saved_ = saved ? saved : "";
        }
        changed_.notify_all();
    }

    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
    }

    // What a stream finds at its place.
    enum class Next { Bytes, Quiet, Restarted, Ended, Failed, Stopping };

    // Waits at most `ms` for bytes past `offset` of the capture begun as
    // `start`, and copies up to `room` of them into `dst`.
    Next next(std::uint64_t start, std::uint64_t offset, PartReader& reader, char* dst, std::size_t room,
              std::size_t& got, int ms)
    {
        got = 0;
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            return stopping_ || start_ != start || size_ > offset || ended_ || (failed_ && offset >= stored_);
        });
        if (stopping_) return Next::Stopping;
        if (start_ != start) return Next::Restarted;
        if (failed_ && offset >= stored_) return Next::Failed;
        if (size_ <= offset) return ended_ ? Next::Ended : Next::Quiet;
        const std::uint64_t tailStart = size_ - tail_.size();
        if (offset >= tailStart) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(room, size_ - offset));
            std::memcpy(dst, tail_.data() + (offset - tailStart), n);
            got = n;
            return Next::Bytes;
        }
        // In a part of the file: found, then inflated without the lock (a
        // part in the file stays as it is; a new capture has a new file).
        const auto after = std::upper_bound(parts_.begin(), parts_.end(), offset,
                                            [](std::uint64_t o, const Part& p) { return o < p.offset; });
        if (after == parts_.begin()) return Next::Stopping;
        const Part part = *(after - 1);
        const std::shared_ptr<StoreFile> file = file_;
        lock.unlock();
        got = reader.read(*file, part, offset, dst, room);
        return got > 0 ? Next::Bytes : Next::Stopping;
    }

    // The capture's start number and its size now.
    std::pair<std::uint64_t, std::uint64_t> now()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return {start_, size_};
    }

    std::string saved()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return saved_;
    }

    std::string problem()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return problem_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string folder_;
    std::shared_ptr<StoreFile> file_;
    std::uint64_t fileSize_ = 0;
    std::vector<Part> parts_;
    std::vector<std::string> kept_; // the parts the file could not take
    std::string tail_;              // the bytes not yet in a part
    std::uint64_t start_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t stored_ = 0; // the bytes the file holds, from the capture's start
    bool failed_ = false;
    bool ended_ = false;
    bool stopping_ = false;
    std::string problem_;
    std::string saved_;
};

// The pages of this thread's stack below the frames in use given back to
// the system. The HTTP library reads a Range header with a regular
// expression whose recursion takes about a kilobyte of stack for each
// range: some megabytes for a head of 8 KiB, which would stay resident
// for as long as the connection lasts (a capture stream: the whole run).
// Nothing lives below the frames in use (the server's threads take no
// signals); a page given back comes again, zeroed, when it is used.
void giveBackStack()
{
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* low = nullptr;
    std::size_t size = 0;
    const int got = pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    if (got != 0) return;
    const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const char here = 0;
    // What this function and those it calls may use stays.
    const std::uintptr_t margin = 64 * 1024;
    const std::uintptr_t used = reinterpret_cast<std::uintptr_t>(&here);
    const std::uintptr_t bottom = (reinterpret_cast<std::uintptr_t>(low) + page - 1) & ~(page - 1);
    if (used < bottom + margin + page) return;
    const std::uintptr_t top = (used - margin) & ~(page - 1);
    madvise(reinterpret_cast<void*>(bottom), top - bottom, MADV_DONTNEED);
}

// Held while the library reads a request from its head (which is all in
// memory: nothing waits for the client), so that one request at a time
// takes the stack that reading a Range header may need; let go, with that
// stack given back, once the request is answered or its answer written.
thread_local std::unique_lock<std::mutex>* tReading = nullptr;

void doneReading()
{
    if (!tReading || !tReading->owns_lock()) return;
    giveBackStack();
    tReading->unlock();
}

// The connections at once, shared by both addresses, each on a thread of
// its own: at most kMaxAnswered being answered (their request's head has
// come), and at most kMaxWaiting waiting for their request's head (new
// ones, and those between two requests). One more that comes while
// kMaxWaiting wait cuts the one that has waited longest; none that waits
// is cut otherwise before kArriveSeconds.
class Connections {
public:
    struct Slot {
        int sock = -1;
        Clock::time_point since = Clock::now();
        bool answered = false;
        std::atomic<bool> cut{false};
    };

    // A slot for a new connection. While kMaxWaiting wait, the one that has
    // waited longest is cut, but only once it has waited kCutGrace: one
    // admitted a moment ago has had no time to send its request, and a
    // crowd of clients that come again as soon as they are cut would
    // otherwise cut each newcomer in turn before its request is read. Till
    // then the new connection waits here, and the connections not yet
    // accepted wait behind it in their order.
    Slot* admit()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            int waiting = 0;
            Slot* longest = nullptr;
            for (Slot& slot : slots_) {
                if (slot.answered || slot.cut.load()) continue;
                ++waiting;
                if (!longest || slot.since < longest->since) longest = &slot;
            }
            if (waiting < kMaxWaiting) break;
            const auto waited = Clock::now() - longest->since;
            if (waited >= kCutGrace) {
                cutLocked(*longest);
                break;
            }
            changed_.wait_for(lock, kCutGrace - waited);
        }
        ++waiting_;
        return &slots_.emplace_back();
    }

    // The connection's socket, once its thread has begun.
    void begin(Slot& slot, int sock)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slot.sock = sock;
        if (slot.cut.load()) ::shutdown(sock, SHUT_RDWR);
    }

    // The request's head has come: true when it may be answered now.
    bool answer(Slot& slot)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (answered_ >= kMaxAnswered || slot.cut.load()) return false;
        ++answered_;
        --waiting_;
        slot.answered = true;
        changed_.notify_all();
        return true;
    }

    // Answered: the connection waits for its next request.
    void answered(Slot& slot)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --answered_;
        ++waiting_;
        slot.answered = false;
        slot.since = Clock::now();
    }

    // The socket is about to be closed: nothing cuts it any more.
    void closing(Slot& slot)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slot.sock = -1;
    }

    // (Told under the lock: once the last one is told, the waiter may
    // free this.)
    void finished(Slot& slot)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (slot.answered)
            --answered_;
        else
            --waiting_;
        slots_.remove_if([&slot](const Slot& s) { return &s == &slot; });
        idle_.notify_all();
        changed_.notify_all();
    }

    void waitUntilNone()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return slots_.empty(); });
    }

    // Held by the connection whose request the library reads.
    std::mutex reading;

private:
    // Its socket shut, so that its thread wakes and ends.
    static void cutLocked(Slot& slot)
    {
        slot.cut = true;
        if (slot.sock >= 0) ::shutdown(slot.sock, SHUT_RDWR);
    }

    std::mutex mutex_;
    std::condition_variable idle_;
    std::condition_variable changed_; // a slot was answered or freed
    std::list<Slot> slots_;
    int waiting_ = 0;
    int answered_ = 0;
};

// One connection's socket, as the HTTP library reads and writes it: the
// library reads one request's head at a time, once it has come whole
// (arrive()); writes wait at most kWriteSeconds for the client.
class Connection final : public httplib::Stream {
public:
    Connection(int sock, const std::atomic<int>& listening, const Connections::Slot& slot)
        : sock_(sock), listening_(listening), slot_(slot)
    {
    }

    // Waits until the next request's head has come, within kArriveSeconds
    // of `since`: up to its blank line; or its first kMaxHead + 1 bytes
    // when it is longer (the library answers 414 or 400); or up to a byte
    // that no request holds, a control character (non-HTTP bytes, a TLS
    // hello: the library answers 400); or what came before the client
    // closed its side. False when nothing came, the time is up, the
    // connection was cut or the server stops.
    bool arrive(Clock::time_point since)
    {
        std::memmove(buffer_, buffer_ + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
        headEnd_ = 0;
        const auto until = since + std::chrono::seconds(kArriveSeconds);
        std::size_t scanned = 0;
        for (;;) {
            for (; scanned < end_; ++scanned) {
                const unsigned char c = static_cast<unsigned char>(buffer_[scanned]);
                if (c == '\n' && ((scanned >= 1 && buffer_[scanned - 1] == '\n') ||
                                  (scanned >= 3 && std::memcmp(buffer_ + scanned - 3, "\r\n\r\n", 4) == 0))) {
                    headEnd_ = scanned + 1;
                    return true;
                }
                if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F) {
                    headEnd_ = scanned + 1;
                    return true;
                }
            }
            if (end_ > kMaxHead) {
                headEnd_ = kMaxHead + 1;
                return true;
            }
            if (slot_.cut.load() || listening_.load() < 0) return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
            if (left <= 0) return false;
            struct pollfd fd = {sock_, POLLIN, 0};
            const int ready = ::poll(&fd, 1, static_cast<int>(std::min<long long>(left, 100)));
            if (ready < 0 && errno != EINTR) return false;
            if (ready <= 0) continue;
            if (slot_.cut.load()) return false;
            const ssize_t n = ::recv(sock_, buffer_ + end_, sizeof buffer_ - end_, 0);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                // The client's side closed: what came is handed on whole.
                headEnd_ = end_;
                return end_ > 0;
            }
            end_ += static_cast<std::size_t>(n);
        }
    }

    bool is_readable() const override { return start_ < headEnd_; }
    bool is_writable() const override { return waitFor(POLLOUT, kWriteSeconds * 1000); }

    // The request's head, then the end: a request here has no body.
    ssize_t read(char* ptr, std::size_t size) override
    {
        const std::size_t n = std::min(size, headEnd_ > start_ ? headEnd_ - start_ : 0);
        std::memcpy(ptr, buffer_ + start_, n);
        start_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, std::size_t size) override
    {
        doneReading(); // an answer the library gives by itself (400, 414, 416)
        std::size_t sent = 0;
        while (sent < size) {
            if (!waitFor(POLLOUT, kWriteSeconds * 1000)) {
                stalled_ = true;
                return -1;
            }
            const ssize_t n = ::send(sock_, ptr + sent, size - sent, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) continue;
                return -1;
            }
            sent += static_cast<std::size_t>(n);
        }
        return static_cast<ssize_t>(sent);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { address(false, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { address(true, ip, port); }
    socket_t socket() const override { return sock_; }

    // True when a write waited too long for the client.
    bool stalled() const { return stalled_; }

private:
    bool waitFor(short events, int ms) const
    {
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            struct pollfd fd = {sock_, events, 0};
            const int ready = ::poll(&fd, 1, 100);
            if (ready > 0) return (fd.revents & events) != 0;
            if (ready < 0 && errno != EINTR) return false;
            if (listening_.load() < 0 || Clock::now() >= until) return false;
        }
    }

    void address(bool local, std::string& ip, int& port) const
    {
        sockaddr_storage addr{};
        socklen_t size = sizeof addr;
        ip.clear();
        port = 0;
        if ((local ? getsockname(sock_, reinterpret_cast<sockaddr*>(&addr), &size)
                   : getpeername(sock_, reinterpret_cast<sockaddr*>(&addr), &size)) != 0)
            return;
        char text[INET6_ADDRSTRLEN] = {};
        if (addr.ss_family == AF_INET) {
            const auto* a = reinterpret_cast<const sockaddr_in*>(&addr);
            inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
            port = ntohs(a->sin_port);
        } else if (addr.ss_family == AF_INET6) {
            const auto* a = reinterpret_cast<const sockaddr_in6*>(&addr);
            inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
            port = ntohs(a->sin6_port);
        }
        ip = text;
    }

    int sock_;
    const std::atomic<int>& listening_;
    const Connections::Slot& slot_;
    char buffer_[2 * kMaxHead];
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    std::size_t headEnd_ = 0; // where this request's head ends in the buffer
    bool stalled_ = false;
};

// The slot of the connection served on this thread; none on the listening
// thread, where a refused connection is handed back at once.
thread_local Connections::Slot* tSlot = nullptr;
// Set by an answer after which the connection closes (a refusal).
thread_local bool tCloseAfter = false;

// The thread a connection is served on, or none: the library hands every
// accepted connection to enqueue().
class ConnectionThreads final : public httplib::TaskQueue {
public:
    explicit ConnectionThreads(Connections& connections) : connections_(connections) {}
    void enqueue(std::function<void()> fn) override
    {
        Connections::Slot* slot = connections_.admit();
        if (slot) {
            try {
                std::thread([&connections = connections_, slot, fn = std::move(fn)] {
                    tSlot = slot;
                    fn();
                    connections.finished(*slot);
                }).detach();
                return;
            } catch (...) {
                connections_.finished(*slot);
            }
        }
        fn(); // refused: tSlot is null here
    }
    void shutdown() override { connections_.waitUntilNone(); }

private:
    Connections& connections_;
};

// One listening address's server: the library's request handling over the
// connections above.
class LoopbackServer final : public httplib::Server {
public:
    explicit LoopbackServer(Connections& connections) : connections_(connections)
    {
        new_task_queue = [this] { return new ConnectionThreads(connections_); };
    }

    // The listening socket is the program's own: nothing it starts (the
    // browser) inherits it. Its queue of connections not yet accepted
    // holds more than the library's 5, so that a crowd of clients that
    // come again and again does not have a new one's connection dropped
    // (and tried again by its system a second later).
    void keepSocketToItself()
    {
        const int sock = svr_sock_.load();
        if (sock < 0) return;
        fcntl(sock, F_SETFD, FD_CLOEXEC);
        ::listen(sock, 128);
    }

private:
    bool process_and_close_socket(socket_t sock) override
    {
        fcntl(sock, F_SETFD, FD_CLOEXEC);
        Connections::Slot* slot = tSlot;
        if (slot && serve(sock, *slot)) {
            // A client that stopped reading: what it has not read is
            // dropped now (a reset), not kept for it by the system.
            const linger abort{1, 0};
            setsockopt(sock, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        } else {
            ::shutdown(sock, SHUT_RDWR);
        }
        if (slot) connections_.closing(*slot);
        ::close(sock);
        return true;
    }

    // Serves the connection's requests; true when it ended on a client
    // that stopped reading.
    bool serve(int sock, Connections::Slot& slot)
    {
        connections_.begin(slot, sock);
        Connection connection(sock, svr_sock_, slot);
        Clock::time_point since = Clock::now();
        for (int i = 0; i < kRequestsPerConnection && connection.arrive(since); ++i) {
            if (!connections_.answer(slot)) break;
            tCloseAfter = false;
            bool closed = false;
            const bool last = i + 1 == kRequestsPerConnection;
            // The ranges asked for are set aside: the answer is whole.
            std::unique_lock<std::mutex> reading(connections_.reading);
            tReading = &reading;
            const bool going = process_request(connection, last, closed,
                                               [](httplib::Request& req) { req.ranges.clear(); });
            doneReading();
            tReading = nullptr;
            connections_.answered(slot);
            if (!going || closed || tCloseAfter) break;
            since = Clock::now();
        }
        return connection.stalled();
    }

    Connections& connections_;
};

} // namespace

struct VornlogLive {
    std::string token;
    std::string head;
    std::string tail;
    int port = 0;
    CaptureStore capture;
    Connections connections;
    std::vector<std::unique_ptr<LoopbackServer>> servers;
    std::vector<std::thread> threads;
    std::atomic<int> streams{0};

    // The Host header of a request to this server: a loopback address or
    // localhost, with this port.
    bool hostAllowed(const httplib::Request& req) const
    {
        if (req.get_header_value_count("Host") != 1) return false;
        std::string host = req.get_header_value("Host");
        std::transform(host.begin(), host.end(), host.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        // Built by appending: g++ 12 at -O3 warns falsely (-Wrestrict) on
        // "literal" + std::string&&.
        std::string suffix(1, ':');
        suffix += std::to_string(port);
        return host == "127.0.0.1" + suffix || host == "[::1]" + suffix || host == "localhost" + suffix;
    }

    // The path's first part is the token, compared in constant time.
    bool tokenAllowed(const std::string& path) const
    {
        const bool shaped = path.size() >= kTokenSize + 2 && path[0] == '/' && path[kTokenSize + 1] == '/';
        const char* given = shaped ? path.data() + 1 : token.data();
        unsigned difference = shaped ? 0 : 1;
        for (std::size_t i = 0; i < kTokenSize; ++i)
            difference |= static_cast<unsigned char>(given[i] ^ token[i]);
        return difference == 0;
    }

    httplib::Server::HandlerResponse answer(const httplib::Request& req, httplib::Response& res)
    {
        doneReading();
        const auto refuse = [&](int status) {
            res.status = status;
            tCloseAfter = true;
            return httplib::Server::HandlerResponse::Handled;
        };
        if (!hostAllowed(req) || !tokenAllowed(req.path)) return refuse(403);
        if (req.method != "GET" && req.method != "HEAD") {
            res.set_header("Allow", "GET, HEAD");
            return refuse(405);
        }
        const std::string_view rest = std::string_view(req.path).substr(kTokenSize + 2);
        res.set_header("Cache-Control", "no-store");
        res.set_header("X-Content-Type-Options", "nosniff");
        res.set_header("Referrer-Policy", "no-referrer");
        res.set_header("X-Frame-Options", "DENY");
        // Ranges are set aside (the answer is whole): none are offered.
        res.set_header("Accept-Ranges", "none");
        if (rest.empty() && req.params.empty()) {
            page(res);
            return httplib::Server::HandlerResponse::Handled;
        }
        if (rest == "capture") {
            stream(req, res);
            return httplib::Server::HandlerResponse::Handled;
        }
        return refuse(404);
    }

    // The page, which reads the capture from the stream: written from
    // the two texts kept, without a copy (and for HEAD, not at all).
    void page(httplib::Response& res)
    {
        res.set_content_provider(head.size() + tail.size(), "text/html; charset=utf-8",
                                 [this](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                     const std::string_view text =
                                         offset < head.size() ? std::string_view(head).substr(offset)
                                                              : std::string_view(tail).substr(offset - head.size());
                                     return sink.write(text.data(), std::min({text.size(), length, kFrameBytes}));
                                 });
    }

    // The capture's bytes from ?from=N of the capture begun as ?start=S
    // (from its beginning when it began again since), in frames: a kind
    // ('B' bytes, 'Q' the input has been quiet for a second, 'E' the input
    // ended, with where its page was saved, 'X' the store failed, with
    // why), the payload's length (4 bytes, little-endian) and the payload.
    // The response's headers give the capture's start, the offset its
    // bytes begin at and its size when asked (what a page may make room
    // for at once).
    void stream(const httplib::Request& req, httplib::Response& res)
    {
        const auto now = capture.now();
        const std::uint64_t start = now.first;
        const std::uint64_t size = now.second;
        std::uint64_t from = 0;
        if (req.has_param("start") && req.has_param("from") && number(req.get_param_value("start")) == start)
            from = std::min(number(req.get_param_value("from")), size);
        res.set_header("X-Capture-Start", std::to_string(start));
        res.set_header("X-Capture-From", std::to_string(from));
        res.set_header("X-Capture-Size", std::to_string(size));
        if (req.method == "HEAD") {
            res.set_header("Content-Type", "application/octet-stream");
            return;
        }
        struct Place {
            std::uint64_t offset;
            std::vector<char> frame;
            PartReader reader;
        };
        auto place = std::make_shared<Place>();
        place->offset = from;
        ++streams;
        res.set_chunked_content_provider(
            "application/octet-stream",
            [this, place, start](std::size_t, httplib::DataSink& sink) {
                std::vector<char>& frame = place->frame;
                frame.resize(5 + kFrameBytes);
                std::size_t got = 0;
                switch (capture.next(start, place->offset, place->reader, frame.data() + 5, kFrameBytes, got,
                                     kQuietMs)) {
                case CaptureStore::Next::Bytes:
                    place->offset += got;
                    return sendFrame(sink, 'B', frame, got);
                case CaptureStore::Next::Quiet:
                    // Said again every quiet second: a page that left is
                    // found out by the write, and its connection freed.
                    return sendFrame(sink, 'Q', frame, 0);
                case CaptureStore::Next::Ended:
                    return sendLast(sink, 'E', frame, capture.saved());
                case CaptureStore::Next::Failed:
                    return sendLast(sink, 'X', frame, capture.problem());
                case CaptureStore::Next::Restarted: sink.done(); return true;
                case CaptureStore::Next::Stopping: return false;
                }
                return false;
            },
            [this](bool) { --streams; });
    }

    static bool sendLast(httplib::DataSink& sink, char kind, std::vector<char>& frame, const std::string& text)
    {
        frame.resize(5 + text.size());
        std::memcpy(frame.data() + 5, text.data(), text.size());
        const bool written = sendFrame(sink, kind, frame, text.size());
        sink.done();
        return written;
    }

    static bool sendFrame(httplib::DataSink& sink, char kind, std::vector<char>& frame, std::size_t n)
    {
        frame[0] = kind;
        for (int i = 0; i < 4; ++i) frame[1 + i] = static_cast<char>((n >> (8 * i)) & 0xFF);
        return sink.write(frame.data(), 5 + n);
    }

    static std::uint64_t number(const std::string& text)
    {
        std::uint64_t n = 0;
        for (char c : text) {
            if (c < '0' || c > '9' || n > (UINT64_MAX - 9) / 10) return UINT64_MAX;
            n = n * 10 + static_cast<std::uint64_t>(c - '0');
        }
        return text.empty() ? UINT64_MAX : n;
    }
};

namespace {

void say(char* error, std::size_t size, const std::string& text)
{
    if (size == 0) return;
    const std::size_t n = std::min(size - 1, text.size());
    std::memcpy(error, text.data(), n);
    error[n] = '\0';
}

// A server for one loopback address, bound to `port` (0: any, and `port`
// gets the one bound); null when the address cannot be bound.
std::unique_ptr<LoopbackServer> bindTo(VornlogLive& live, const char* address, int& port)
{
    auto server = std::make_unique<LoopbackServer>(live.connections);
    server->set_payload_max_length(0);
    server->set_keep_alive_max_count(kRequestsPerConnection);
    server->set_keep_alive_timeout(kArriveSeconds);
    server->set_pre_routing_handler(
        [&live](const httplib::Request& req, httplib::Response& res) { return live.answer(req, res); });
    // A request that was not answered as asked (a malformed one, headers
    // over the limit) closes its connection too.
    server->set_logger([](const httplib::Request&, const httplib::Response& res) {
        if (res.status >= 400) tCloseAfter = true;
    });
    if (port == 0) {
        const int any = server->bind_to_any_port(address);
        if (any <= 0) return nullptr;
        port = any;
    } else if (!server->bind_to_port(address, port)) {
        return nullptr;
    }
    server->keepSocketToItself();
    return server;
}

} // namespace

extern "C" {

int vornlog_live_interface(void) { return VORNLOG_LIVE_INTERFACE; }

VornlogLive* vornlog_live_start(int port, const char* token, const char* head, std::size_t headSize,
                                const char* tail, std::size_t tailSize, const char* folder, int* bound,
                                char* error, std::size_t errorSize)
{
    auto live = std::make_unique<VornlogLive>();
    live->token.assign(token, std::strlen(token));
    if (live->token.size() != kTokenSize) {
        say(error, errorSize, "the token is not 32 digits");
        return nullptr;
    }
    live->head.assign(head, headSize);
    live->tail.assign(tail, tailSize);
    std::string problem;
    if (!live->capture.open(folder, problem)) {
        say(error, errorSize, problem);
        return nullptr;
    }
    // A file size limit makes a write of the store fail (said, as a full
    // disk is), rather than end the program.
    signal(SIGXFSZ, SIG_IGN);
    // Both loopback addresses on one port. A port the system picked for
    // 127.0.0.1 may be taken on ::1: another is tried. A machine without
    // IPv6 (::1 cannot be bound at all) is served on 127.0.0.1 alone.
    for (int attempt = 0; attempt < 20 && live->servers.empty(); ++attempt) {
        int chosen = port;
        auto v4 = bindTo(*live, "127.0.0.1", chosen);
        if (!v4) break;
        int same = chosen;
        auto v6 = bindTo(*live, "::1", same);
        if (!v6) {
            int any = 0;
            const bool hasV6 = bindTo(*live, "::1", any) != nullptr;
            if (hasV6 && port == 0) continue; // another port
            if (hasV6) break;                 // the port given is taken on ::1
        }
        live->port = chosen;
        live->servers.push_back(std::move(v4));
        if (v6) live->servers.push_back(std::move(v6));
    }
    if (live->servers.empty()) {
        say(error, errorSize, "port");
        return nullptr;
    }
    // The server's threads leave Ctrl-C and the end request to the
    // program's own thread, which waits for them.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    for (auto& server : live->servers)
        live->threads.emplace_back([s = server.get()] { s->listen_after_bind(); });
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    // Stopping a server that has not begun to listen would not stop it.
    for (auto& server : live->servers)
        while (!server->is_running()) std::this_thread::yield();
    *bound = live->port;
    return live.release();
}

void vornlog_live_add(VornlogLive* live, const char* bytes, std::size_t n) { live->capture.add(bytes, n); }

int vornlog_live_part(VornlogLive* live, const char* part, std::size_t n, std::size_t size, char* error,
                      std::size_t errorSize)
{
    std::string problem;
    if (live->capture.part(part, n, size, problem)) return 0;
    say(error, errorSize, problem);
    return 1;
}

int vornlog_live_parts(VornlogLive* live, void (*put)(void* context, const char* bytes, std::size_t n),
                       void* context)
{
    return live->capture.parts([put, context](const char* bytes, std::size_t n) { put(context, bytes, n); }) ? 1 : 0;
}

void vornlog_live_restart(VornlogLive* live) { live->capture.restart(); }

void vornlog_live_end(VornlogLive* live, const char* saved) { live->capture.end(saved); }

void vornlog_live_stop(VornlogLive* live, int ms)
{
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (live->streams.load() > 0 && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    live->capture.stop();
    for (auto& server : live->servers) server->stop();
    for (auto& thread : live->threads) thread.join();
    delete live;
}
}
