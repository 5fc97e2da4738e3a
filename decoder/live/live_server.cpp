// The live viewer's HTTP server: cpp-httplib parses the requests and writes
// the responses; this file decides who is answered and what with.
//
// Every request is checked in this order: the Host header must name a
// loopback address or localhost with this port (a page of another site
// that had its name point at 127.0.0.1 is refused), then the token,
// compared in constant time (both refused with 403 and nothing else); then
// the method (GET and HEAD, else 405), then the path (the page and the
// capture stream, else 404). Nothing of the disk is served but the
// capture's bytes; there is no listing and no CORS header.
//
// Limits: a request's line and headers at most 8 KiB, arrived within 10 s
// of their first byte; at most 16 connections at once (the next ones are
// closed at once); a connection idle for 5 s is closed; a write that waits
// 5 s for the client cuts its connection, so that a client that does not
// read holds nothing but its own thread. The reading of the capture never
// waits for a client: it only appends to the capture's store.
#include "live_module.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kMaxRequest = 8 * 1024;
constexpr int kRequestSeconds = 10;
constexpr int kIdleSeconds = 5;
constexpr int kWriteSeconds = 5;
constexpr int kMaxConnections = 16;
constexpr int kRequestsPerConnection = 100;
// How long a capture stream waits for new bytes before it says that the
// input is quiet.
constexpr int kQuietMs = 1000;
constexpr std::size_t kFrameBytes = 64 * 1024;
constexpr std::size_t kTokenSize = 32;

using Clock = std::chrono::steady_clock;

// The capture's bytes as they were read. They go into a temporary file of
// their own (deleted when closed), not into memory, so that a run of hours
// keeps what it serves on the disk; a stream reads them back from any
// offset. The reading thread only appends; a stream holds the lock just
// for a copy out of the file.
class CaptureStore {
public:
    bool open()
    {
        file_ = std::tmpfile();
        if (file_) fcntl(fileno(file_), F_SETFD, FD_CLOEXEC);
        return file_ != nullptr;
    }
    ~CaptureStore()
    {
        if (file_) std::fclose(file_);
    }

    void add(const char* bytes, std::size_t n)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!file_ || failed_) return;
            if (std::fseek(file_, static_cast<long>(size_), SEEK_SET) != 0 || std::fwrite(bytes, 1, n, file_) != n ||
                std::fflush(file_) != 0)
                failed_ = true;
            else
                size_ += n;
        }
        changed_.notify_all();
    }

    void restart()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++start_;
            size_ = 0;
            failed_ = false;
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
    enum class Next { Bytes, Quiet, Restarted, Ended, Stopping };

    // Waits at most `ms` for bytes past `offset` of the capture begun as
    // `start`, and copies up to `room` of them into `dst`.
    Next next(std::uint64_t start, std::uint64_t offset, char* dst, std::size_t room, std::size_t& got, int ms)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(ms),
                          [&] { return stopping_ || start_ != start || size_ > offset || ended_; });
        got = 0;
        if (stopping_) return Next::Stopping;
        if (start_ != start) return Next::Restarted;
        if (size_ > offset) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(room, size_ - offset));
            if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) return Next::Stopping;
            got = std::fread(dst, 1, n, file_);
            return got > 0 ? Next::Bytes : Next::Stopping;
        }
        return ended_ ? Next::Ended : Next::Quiet;
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

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::FILE* file_ = nullptr;
    std::uint64_t start_ = 0;
    std::uint64_t size_ = 0;
    bool failed_ = false;
    bool ended_ = false;
    bool stopping_ = false;
    std::string saved_;
};

// One connection's socket, as the HTTP library reads and writes it: reads
// are buffered, counted against the request's limit and its deadline;
// writes wait at most kWriteSeconds for the client.
class Connection final : public httplib::Stream {
public:
    Connection(int sock, const std::atomic<int>& listening) : sock_(sock), listening_(listening) {}

    // A new request begins: its byte count and deadline start again.
    void beginRequest()
    {
        requestBytes_ = 0;
        deadline_ = Clock::now() + std::chrono::seconds(kRequestSeconds);
    }

    // Waits for the next request, at most kIdleSeconds; false when none
    // came, the client left or the server stops.
    bool waitForRequest()
    {
        if (start_ < end_) return true;
        const auto until = Clock::now() + std::chrono::seconds(kIdleSeconds);
        while (listening_.load() >= 0 && Clock::now() < until) {
            struct pollfd fd = {sock_, POLLIN, 0};
            const int ready = ::poll(&fd, 1, 100);
            if (ready > 0) return true;
            if (ready < 0 && errno != EINTR) return false;
        }
        return false;
    }

    bool is_readable() const override { return start_ < end_ || waitFor(POLLIN, msLeft()); }
    bool is_writable() const override { return waitFor(POLLOUT, kWriteSeconds * 1000); }

    ssize_t read(char* ptr, std::size_t size) override
    {
        if (requestBytes_ >= kMaxRequest) return -1;
        size = std::min(size, kMaxRequest - requestBytes_);
        if (start_ == end_) {
            if (!waitFor(POLLIN, msLeft())) return -1;
            const ssize_t n = ::recv(sock_, buffer_, sizeof buffer_, 0);
            if (n <= 0) return n;
            start_ = 0;
            end_ = static_cast<std::size_t>(n);
        }
        const std::size_t n = std::min(size, end_ - start_);
        std::memcpy(ptr, buffer_ + start_, n);
        start_ += n;
        requestBytes_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, std::size_t size) override
    {
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
    int msLeft() const
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }

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
    char buffer_[4096];
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    std::size_t requestBytes_ = 0;
    bool stalled_ = false;
    Clock::time_point deadline_ = Clock::now();
};

// The connections served at once, shared by both addresses: each on a
// thread of its own, at most kMaxConnections; the next one is closed
// without a word.
class Connections {
public:
    // True when one more connection may be served; it then counts until
    // finished() is called.
    bool admit()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (active_ >= kMaxConnections) return false;
        ++active_;
        return true;
    }
    // (Told under the lock: once the last one is told, the waiter may
    // free this.)
    void finished()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --active_;
        idle_.notify_all();
    }
    void waitUntilNone()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return active_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable idle_;
    int active_ = 0;
};

// The thread a connection is served on, or none: the library hands every
// accepted connection to enqueue(); a connection over the limit is handed
// back at once, marked refused.
thread_local bool tRefused = false;
// Set by an answer after which the connection closes (a refusal).
thread_local bool tCloseAfter = false;

class ConnectionThreads final : public httplib::TaskQueue {
public:
    explicit ConnectionThreads(Connections& connections) : connections_(connections) {}
    void enqueue(std::function<void()> fn) override
    {
        if (!connections_.admit()) {
            tRefused = true;
            fn();
            tRefused = false;
            return;
        }
        try {
            std::thread([&connections = connections_, fn = std::move(fn)] {
                fn();
                connections.finished();
            }).detach();
        } catch (...) {
            connections_.finished();
            tRefused = true;
            fn();
            tRefused = false;
        }
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
    // browser) inherits it.
    void keepSocketToItself()
    {
        const int sock = svr_sock_.load();
        if (sock >= 0) fcntl(sock, F_SETFD, FD_CLOEXEC);
    }

    const std::atomic<int>& listening() const { return svr_sock_; }

private:
    bool process_and_close_socket(socket_t sock) override
    {
        fcntl(sock, F_SETFD, FD_CLOEXEC);
        if (!tRefused && serve(sock)) {
            // A client that stopped reading: what it has not read is
            // dropped now (a reset), not kept for it by the system.
            const linger abort{1, 0};
            setsockopt(sock, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        } else {
            ::shutdown(sock, SHUT_RDWR);
        }
        ::close(sock);
        return true;
    }

    // Serves the connection's requests; true when it ended on a client
    // that stopped reading.
    bool serve(int sock)
    {
        Connection connection(sock, svr_sock_);
        for (int i = 0; i < kRequestsPerConnection && connection.waitForRequest(); ++i) {
            connection.beginRequest();
            tCloseAfter = false;
            bool closed = false;
            const bool last = i + 1 == kRequestsPerConnection;
            if (!process_request(connection, last, closed, nullptr) || closed || tCloseAfter) break;
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

    // The page, which reads the capture from the stream.
    void page(httplib::Response& res)
    {
        std::string text = head;
        text += tail;
        res.set_content(text, "text/html; charset=utf-8");
    }

    // The capture's bytes from ?from=N of the capture begun as ?start=S
    // (from its beginning when it began again since), in frames: a kind
    // ('B' bytes, 'Q' the input has been quiet for a second, 'E' the input
    // ended, with where its page was saved), the payload's length (4
    // bytes, little-endian) and the payload. The response's headers give
    // the capture's start, the offset its bytes begin at and its size when
    // asked (what a page may make room for at once).
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
        struct Place {
            std::uint64_t offset;
            std::vector<char> frame;
        };
        auto place = std::make_shared<Place>(Place{from, {}});
        ++streams;
        res.set_chunked_content_provider(
            "application/octet-stream",
            [this, place, start](std::size_t, httplib::DataSink& sink) {
                std::vector<char>& frame = place->frame;
                frame.resize(5 + kFrameBytes);
                std::size_t got = 0;
                switch (capture.next(start, place->offset, frame.data() + 5, kFrameBytes, got, kQuietMs)) {
                case CaptureStore::Next::Bytes:
                    place->offset += got;
                    return sendFrame(sink, 'B', frame, got);
                case CaptureStore::Next::Quiet:
                    // Said again every quiet second: a page that left is
                    // found out by the write, and its connection freed.
                    return sendFrame(sink, 'Q', frame, 0);
                case CaptureStore::Next::Ended: {
                    const std::string saved = capture.saved();
                    frame.resize(5 + saved.size());
                    std::memcpy(frame.data() + 5, saved.data(), saved.size());
                    const bool written = sendFrame(sink, 'E', frame, saved.size());
                    sink.done();
                    return written;
                }
                case CaptureStore::Next::Restarted: sink.done(); return true;
                case CaptureStore::Next::Stopping: return false;
                }
                return false;
            },
            [this](bool) { --streams; });
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
    server->set_keep_alive_timeout(kIdleSeconds);
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
                                const char* tail, std::size_t tailSize, int* bound, char* error,
                                std::size_t errorSize)
{
    auto live = std::make_unique<VornlogLive>();
    live->token.assign(token, std::strlen(token));
    if (live->token.size() != kTokenSize) {
        say(error, errorSize, "the token is not 32 digits");
        return nullptr;
    }
    live->head.assign(head, headSize);
    live->tail.assign(tail, tailSize);
    if (!live->capture.open()) {
        say(error, errorSize, "no temporary file for the capture");
        return nullptr;
    }
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
