// Compresses a file as the viewer page's capture is compressed (-w) and
// writes the zlib stream to standard output, for zlib_agrees.py.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "output/deflate.h"

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) return 2;
    bool ok = true;
    vornlog::zlibCompress(bytes, [&ok](std::string_view block) {
        ok = ok && std::fwrite(block.data(), 1, block.size(), stdout) == block.size();
    });
    return ok && std::fflush(stdout) == 0 ? 0 : 1;
}
