// codecbench_dll [--runs N] FILE... : decodes each file through MACDllC.dll,
// 4096 blocks per call as a player asks, and prints
// "<file> <seconds> <user seconds> <seek seconds>" per file (best of N,
// default 3; a run repeats a short decode until 0.4 s of user time are
// counted). The seek is a player's seek to the first frame's last block: Seek
// and the GetData that delivers that block, the most a seek within a frame
// decodes. The host benchmarks (codecbench, codecbench_table) run it under
// Wine.
#include "apecodec.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <windows.h>

#include "BenchClock.h"

using codecbench::blocksPerCall;
using codecbench::seconds;

int main(int argc, char** argv)
{
    HMODULE module = LoadLibraryA("MACDllC.dll");
    if (!module) {
        std::fprintf(stderr, "codecbench_dll: cannot load MACDllC.dll\n");
        return 1;
    }
    auto get = [&](const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); };
    auto create = reinterpret_cast<decltype(&c_APEDecompress_Create)>(get("c_APEDecompress_Create"));
    auto destroy = reinterpret_cast<decltype(&c_APEDecompress_Destroy)>(get("c_APEDecompress_Destroy"));
    auto getData = reinterpret_cast<decltype(&c_APEDecompress_GetData)>(get("c_APEDecompress_GetData"));
    auto info = reinterpret_cast<decltype(&c_APEDecompress_GetInfo)>(get("c_APEDecompress_GetInfo"));
    auto seek = reinterpret_cast<decltype(&c_APEDecompress_Seek)>(get("c_APEDecompress_Seek"));
    int runs = 3;
    int first = 1;
    if (argc > 2 && !std::strcmp(argv[1], "--runs")) {
        runs = std::max(1, std::atoi(argv[2]));
        first = 3;
    }
    // User time of this thread, in seconds (100 ns units from Windows).
    auto userTime = [] {
        FILETIME created, exited, kernel, user;
        GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
        return double((std::uint64_t(user.dwHighDateTime) << 32) | user.dwLowDateTime) * 1e-7;
    };
    for (int i = first; i < argc; ++i) {
        double best = 1e30, bestUser = 1e30;
        for (int run = 0; run < runs; ++run) {
            // Windows counts thread time in scheduler ticks (10 ms under
            // Wine): a run repeats the decode until it has used enough of
            // them to be measured to a few percent.
            const double userStart = userTime();
            auto start = std::chrono::steady_clock::now();
            int repeats = 0;
            do {
                int error = 0;
                APE_DECOMPRESS_HANDLE h = create(argv[i], &error);
                if (!h) {
                    std::fprintf(stderr, "codecbench_dll: %s: error %d\n", argv[i], error);
                    return 1;
                }
                std::vector<char> buffer(std::size_t(info(h, APE_INFO_BLOCK_ALIGN, 0, 0)) * blocksPerCall);
                for (int got = 1; got > 0;)
                    if (getData(h, buffer.data(), blocksPerCall, &got) != 0)
                        break;
                destroy(h);
                ++repeats;
            } while (userTime() - userStart < 0.4);
            best = std::min(best, seconds(std::chrono::steady_clock::now() - start) / repeats);
            bestUser = std::min(bestUser, (userTime() - userStart) / repeats);
        }
        double bestSeek = 1e30;
        for (int run = 0; run < runs; ++run) {
            int error = 0;
            APE_DECOMPRESS_HANDLE h = create(argv[i], &error);
            if (!h)
                return 1;
            const auto frame = info(h, APE_INFO_BLOCKS_PER_FRAME, 0, 0);
            const auto total = info(h, APE_INFO_TOTAL_BLOCKS, 0, 0);
            std::vector<char> block(std::size_t(info(h, APE_INFO_BLOCK_ALIGN, 0, 0)));
            int got = 0;
            // Wall time: a seek within a short frame takes less than one of
            // Windows' 10 ms thread-time steps.
            auto start = std::chrono::steady_clock::now();
            if (seek(h, int(std::min(frame, total) - 1)) == 0 && getData(h, block.data(), 1, &got) == 0 && got == 1)
                bestSeek = std::min(bestSeek, seconds(std::chrono::steady_clock::now() - start));
            destroy(h);
        }
        std::printf("%s %.6f %.6f %.6f\n", argv[i], best, bestUser, bestSeek < 1e30 ? bestSeek : 0.0);
    }
    return 0;
}
