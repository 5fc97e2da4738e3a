// The live viewer of a run (-l): the server module loaded, serving the
// page and the capture's bytes as they are read, at an address with a
// token drawn from the operating system's random source.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct VornlogLive;

namespace vornlog {

class LiveViewer {
public:
    // The module's functions.
    struct Module;

    // Loads the module and starts serving `page` (the empty viewer page)
    // with the capture's texts, on `port` (0: the system picks one). Null
    // when it cannot start: `problem` says why, and `portTaken` tells
    // that the port is in use.
    static std::unique_ptr<LiveViewer> start(int port, std::string_view page, std::string_view name,
                                             std::string_view device, std::string_view keep, std::string& problem,
                                             bool& portTaken);
    LiveViewer(const LiveViewer&) = delete;
    LiveViewer& operator=(const LiveViewer&) = delete;
    // Stops serving at once if stop() was not called.
    ~LiveViewer();

    // The page's address, its token in it.
    const std::string& address() const { return address_; }

    void add(std::string_view bytes);
    // The next part of the capture's compressed stream (deflate.h), holding the next `size`
    // bytes added: kept in the server's store on disk. False the first
    // time the store cannot keep it, `problem` then saying why.
    bool part(std::string_view compressed, std::size_t size, std::string& problem);
    // Hands on every part kept, in order; false when the store could not
    // be read back.
    bool parts(const std::function<void(std::string_view)>& put);
    void restart();
    // The input ended; `saved` is the full path of the page written, empty
    // when none could be.
    void end(const std::string& saved);
    // Stops serving, after waiting at most `ms` for the open pages to hear
    // that the input ended.
    void stop(int ms);

private:
    LiveViewer(const Module& module, VornlogLive* live, std::string address);

    const Module& module_;
    VornlogLive* live_;
    std::string address_;
};

} // namespace vornlog
