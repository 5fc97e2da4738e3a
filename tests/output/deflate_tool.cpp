// Compresses a file as the viewer page's capture is compressed (-w), in
// parts of PART_SIZE bytes when given, two at a time on two threads as -w
// does, the file handed over in pieces of 1, 7, 4,099 and 65,536 bytes in
// turn, as reads give them; writes the compressed stream to standard
// output, for deflate_agrees.py. With "taken", the parts are taken as they
// are made, as the live viewer's store takes them, and each one's length
// and the number of bytes it holds go to standard error, a line each.
//
//   deflate_tool FILE [PART_SIZE [taken]]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "base/platform.h"
#include "output/deflate.h"

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 4) return 2;
    const bool taken = argc == 4 && std::string(argv[3]) == "taken";
    std::ifstream in(argv[1], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) return 2;
    bool ok = true;
    const auto put = [&ok](std::string_view block) {
        ok = ok && std::fwrite(block.data(), 1, block.size(), stdout) == block.size();
    };
    vornlog::DeflateWriter writer(argc >= 3 ? vornlog::RunTogether(vornlog::runTogether) : nullptr,
                                  argc >= 3 ? std::strtoull(argv[2], nullptr, 10) : vornlog::kDeflatePart);
    const auto take = [&](std::string_view part, std::size_t size) {
        put(part);
        std::fprintf(stderr, "%zu %zu\n", part.size(), size);
    };
    if (argc == 2) {
        writer.add(bytes);
    } else {
        const std::size_t pieces[] = {1, 7, 4099, 65536};
        std::string_view rest(bytes);
        for (std::size_t k = 0; !rest.empty(); ++k) {
            const std::size_t n = std::min(rest.size(), pieces[k % 4]);
            writer.add(rest.substr(0, n));
            rest.remove_prefix(n);
            if (taken) writer.takeParts(take);
        }
    }
    writer.finish(put);
    return ok && std::fflush(stdout) == 0 ? 0 : 1;
}
