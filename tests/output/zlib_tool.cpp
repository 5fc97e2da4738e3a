// Compresses a file as the viewer page's capture is compressed (-w), in
// parts of PART_SIZE bytes when given, two at a time on two threads as -w
// does, and writes the zlib stream to standard output, for zlib_agrees.py.
//
//   zlib_tool FILE [PART_SIZE]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "base/platform.h"
#include "output/deflate.h"

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) return 2;
    bool ok = true;
    const auto put = [&ok](std::string_view block) {
        ok = ok && std::fwrite(block.data(), 1, block.size(), stdout) == block.size();
    };
    if (argc == 2)
        vornlog::zlibCompress(bytes, put);
    else
        vornlog::zlibCompress(bytes, put, vornlog::runTogether, std::strtoull(argv[2], nullptr, 10));
    return ok && std::fflush(stdout) == 0 ? 0 : 1;
}
