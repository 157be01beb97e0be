// libFuzzer entry for deep decoding: any byte string as a file, decoded for
// up to 64 calls of 4096 blocks, then again from a block chosen from the data.
// Slow (whole frames of up to 294,912 blocks, many chunks in a row), and there
// for what only shows after long runs: history buffers wrapping, frame after
// frame, CRCs of full frames. ApeFuzzer.cpp is the fast one.
#include "FuzzedFile.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t blocksPerCall = 4096;
constexpr int maximumCalls = 64; // bounds the work per input, not the file size

void decodeSome(ape::Decompressor& d, std::vector<std::uint8_t>& buffer, int calls)
{
    for (int i = 0; i < calls; ++i) {
        std::uint32_t got = 0;
        if (d.getData(buffer.data(), blocksPerCall, &got) != 0 || got == 0)
            return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::unique_ptr<ape::Decompressor> d = openFuzzedFile(data, size);
    if (!d)
        return 0;
    std::vector<std::uint8_t> buffer(std::size_t(blocksPerCall) * std::uint32_t(d->container().blockAlign()));
    decodeSome(*d, buffer, maximumCalls);
    std::uint32_t pick = 0;
    std::memcpy(&pick, data + size - std::min<std::size_t>(size, 4), std::min<std::size_t>(size, 4));
    d->seek(pick % (d->totalBlocks() + 2));
    decodeSome(*d, buffer, 4);
    return 0;
}
