// libFuzzer entry: any byte string as a file. Opens it, reads every tag value,
// decodes a bounded number of blocks, seeks to a block chosen from the data
// and decodes a little more. Errors are fine; crashes, sanitizer reports,
// leaks and hangs are not.
#include "Decompressor.h"
#include "MemoryByteSource.h"
#include "format/CodecError.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t blocksPerCall = 4096;
constexpr int maximumCalls = 64; // bounds the work per input, not the file size

void decodeSome(ape::Decompressor& d, std::vector<uint8_t>& buffer, int calls)
{
    for (int i = 0; i < calls; ++i) {
        uint32_t got = 0;
        if (d.getData(buffer.data(), blocksPerCall, &got) != 0 || got == 0)
            return;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::unique_ptr<ape::Decompressor> d;
    try {
        d = ape::Decompressor::open(std::make_unique<ape::MemoryByteSource>(data, size));
    } catch (const ape::CodecError&) {
        return 0;
    }
    for (const ape::TagItem& item : d->tag().items()) {
        std::vector<uint8_t> value(item.size);
        ape::ApeTag::readValue(d->source(), item, value.data());
    }
    for (int field : {1000, 1003, 1004, 1006, 1007, 2000, 2001, 2002, 2003})
        d->info(field);
    std::vector<uint8_t> buffer(size_t(blocksPerCall) * uint32_t(d->container().blockAlign()));
    decodeSome(*d, buffer, maximumCalls);
    uint32_t pick = 0;
    std::memcpy(&pick, data + size - std::min<size_t>(size, 4), std::min<size_t>(size, 4));
    d->seek(pick % (d->totalBlocks() + 2));
    decodeSome(*d, buffer, 4);
    return 0;
}
