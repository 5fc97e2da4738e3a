#include "live_viewer.h"

#include <cstdint>

#include "base/platform.h"
#include "live_module.h"
#include "output/viewer_page.h"

namespace vornlog {

static_assert(VORNLOG_LIVE_PART_HEAD == kDeflatePartHead, "the server reads the parts that the program makes");

struct LiveViewer::Module {
    VornlogLiveStart start = nullptr;
    VornlogLiveAdd add = nullptr;
    VornlogLivePart part = nullptr;
    VornlogLiveParts parts = nullptr;
    VornlogLiveRestart restart = nullptr;
    VornlogLiveEnd end = nullptr;
    VornlogLiveStop stop = nullptr;
};

namespace {

template <typename F>
bool take(void* module, const char* name, F& f)
{
    f = reinterpret_cast<F>(moduleFunction(module, name));
    return f != nullptr;
}

// The server module beside the program (a build tree) or in ../lib/vornlog
// (an installed package); loaded once. Null, with the reason in `problem`,
// when it is not there or not of this version.
const LiveViewer::Module* loadServer(std::string& problem)
{
#ifdef _WIN32
    // The HTTP library comes from Debian's package, built for Linux only.
    problem = "the Windows build has none (docs/live.md says why)";
    return nullptr;
#endif
    static LiveViewer::Module module;
    static bool loaded = false;
    if (loaded) return &module;
    const std::string folder = programFolder();
    const std::string name = VORNLOG_LIVE_MODULE;
    std::string why = "not found beside the program or in ../lib/vornlog";
    for (const std::string& place : {folder + "/" + name, folder + "/../lib/vornlog/" + name}) {
        if (folder.empty()) break;
        std::string reason;
        void* handle = loadModule(place, reason);
        if (!handle) {
            if (reason.find("No such file") == std::string::npos) why = reason;
            continue;
        }
        VornlogLiveInterface version = nullptr;
        if (!take(handle, "vornlog_live_interface", version) || version() != VORNLOG_LIVE_INTERFACE) {
            why = place + " is of another version";
            continue;
        }
        if (take(handle, "vornlog_live_start", module.start) && take(handle, "vornlog_live_add", module.add) &&
            take(handle, "vornlog_live_part", module.part) && take(handle, "vornlog_live_parts", module.parts) &&
            take(handle, "vornlog_live_restart", module.restart) && take(handle, "vornlog_live_end", module.end) &&
            take(handle, "vornlog_live_stop", module.stop)) {
            loaded = true;
            return &module;
        }
        why = place + " lacks a function";
    }
    problem = name + ": " + why;
    return nullptr;
}

} // namespace

std::unique_ptr<LiveViewer> LiveViewer::start(int port, std::string_view page, std::string_view name,
                                              std::string_view device, std::string_view keep, std::string& problem,
                                              bool& portTaken)
{
    portTaken = false;
    const Module* module = loadServer(problem);
    if (!module) return nullptr;
    // 128 bits from the system's random source, in hexadecimal.
    unsigned char random[16];
    if (!randomBytes(random, sizeof random)) {
        problem = "no random bytes from the system for the token";
        return nullptr;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (unsigned char byte : random) {
        token += kHex[byte >> 4];
        token += kHex[byte & 15];
    }
    const ServedPage served = servedViewerPage(page, name, device, keep);
    int bound = 0;
    char error[256] = {};
    // The store goes where every temporary file of the program goes.
    const std::string folder = temporaryFolder();
    VornlogLive* live = module->start(port, token.c_str(), served.head.data(), served.head.size(),
                                      served.tail.data(), served.tail.size(), folder.c_str(), &bound, error,
                                      sizeof error);
    if (!live) {
        portTaken = std::string_view(error) == "port";
        problem = error;
        return nullptr;
    }
    return std::unique_ptr<LiveViewer>(
        new LiveViewer(*module, live, "http://127.0.0.1:" + std::to_string(bound) + "/" + token + "/"));
}

LiveViewer::LiveViewer(const Module& module, VornlogLive* live, std::string address)
    : module_(module), live_(live), address_(std::move(address))
{
}

LiveViewer::~LiveViewer() { stop(0); }

void LiveViewer::add(std::string_view bytes) { module_.add(live_, bytes.data(), bytes.size()); }

bool LiveViewer::part(std::string_view compressed, std::size_t size, std::string& problem)
{
    char error[512] = {};
    if (module_.part(live_, compressed.data(), compressed.size(), size, error, sizeof error) == 0) return true;
    problem = error;
    return false;
}

bool LiveViewer::parts(const std::function<void(std::string_view)>& put)
{
    return module_.parts(
               live_,
               [](void* context, const char* bytes, std::size_t n) {
                   (*static_cast<const std::function<void(std::string_view)>*>(context))(std::string_view(bytes, n));
               },
               const_cast<std::function<void(std::string_view)>*>(&put)) != 0;
}

void LiveViewer::restart() { module_.restart(live_); }

void LiveViewer::end(const std::string& saved) { module_.end(live_, saved.empty() ? nullptr : saved.c_str()); }

void LiveViewer::stop(int ms)
{
    if (!live_) return;
    module_.stop(live_, ms);
    live_ = nullptr;
}

} // namespace vornlog
