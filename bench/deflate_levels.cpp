// libdeflate's levels on a file compressed as -w compresses a capture: in
// parts of 2 MiB, each a raw DEFLATE stream of its own, here on one
// thread. Prints, for each level, the compressed size and the speed (best
// of three runs, in processor time: less changed by a busy machine than the
// wall's), for bench/deflate.sh.
//
//   g++ -O2 -std=c++20 bench/deflate_levels.cpp -ldeflate -o deflate_levels
//   deflate_levels FILE [FIRST_LEVEL LAST_LEVEL]
#include <libdeflate.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 4) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) return 2;
    const int first = argc == 4 ? std::atoi(argv[2]) : 1;
    const int last = argc == 4 ? std::atoi(argv[3]) : 6;
    constexpr std::size_t kPart = std::size_t{1} << 21;
    for (int level = first; level <= last; ++level) {
        libdeflate_compressor* c = libdeflate_alloc_compressor(level);
        if (!c) return 2;
        std::vector<char> room(libdeflate_deflate_compress_bound(c, kPart));
        double best = 1e30;
        std::size_t size = 0;
        for (int run = 0; run < 3; ++run) {
            const std::clock_t t0 = std::clock();
            size = 0;
            for (std::size_t at = 0; at < bytes.size(); at += kPart) {
                const std::size_t n = std::min(kPart, bytes.size() - at);
                size += 4 + libdeflate_deflate_compress(c, bytes.data() + at, n, room.data(), room.size());
            }
            best = std::min(best, static_cast<double>(std::clock() - t0) / CLOCKS_PER_SEC);
        }
        libdeflate_free_compressor(c);
        std::printf("  level %d  %7.1f MB  (%4.1f %% of the file)  %6.0f MB/s of processor time\n", level, size / 1e6,
                    100.0 * size / std::max<std::size_t>(bytes.size(), 1), bytes.size() / 1e6 / best);
    }
    return 0;
}
