// apedec [--info] INPUT.ape [OUTPUT.wav]
// Decodes a file to a WAV file of the same format; --info prints the format,
// the length and the tag items.
#include "decoder/Decompressor.h"
#include "decoder/FileByteSource.h"
#include "apecodec.h"
#include "format/CodecError.h"
#include "format/WavHeader.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* tagKindName(ape::ApeTag::Kind kind)
{
    switch (kind) {
    case ape::ApeTag::Kind::apeV1:
        return "APEv1";
    case ape::ApeTag::Kind::apeV2:
        return "APEv2";
    case ape::ApeTag::Kind::id3v1:
        return "ID3v1";
    default:
        return "none";
    }
}

void printInfo(ape::Decompressor& d)
{
    const ape::ApeContainer& c = d.container();
    std::printf("version      %d\nlevel        %d\nchannels     %d\nbits         %d\nsample rate  %u\n", c.version,
                c.level, c.channels, c.bitsPerSample, c.sampleRate);
    std::printf("frames       %u (%u blocks each, last %u)\n", c.totalFrames, c.blocksPerFrame, c.finalFrameBlocks);
    std::printf("blocks       %llu\nlength       %.3f s\n", static_cast<unsigned long long>(c.totalBlocks),
                double(c.totalBlocks) / c.sampleRate);
    std::printf("tag          %s\n", tagKindName(d.tag().kind()));
    for (const ape::TagItem& item : d.tag().items()) {
        bool text = ((item.flags >> 1) & 3) == 0 && item.size <= 200;
        if (text) {
            std::string value(item.size, '\0');
            ape::ApeTag::readValue(d.source(), item, value.data());
            for (char& ch : value)
                if (ch == '\0')
                    ch = '/';
            std::printf("  %s = %s\n", item.key.c_str(), value.c_str());
        } else {
            std::printf("  %s = (%u bytes)\n", item.key.c_str(), item.size);
        }
    }
}

int decodeToWav(ape::Decompressor& d, const char* outputName)
{
    const ape::ApeContainer& c = d.container();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(outputName, "wb"), std::fclose);
    if (!out) {
        std::fprintf(stderr, "apedec: cannot write %s\n", outputName);
        return 1;
    }
    auto header = ape::canonicalWavHeader(c.channels, c.sampleRate, c.bitsPerSample,
                                          c.totalBlocks * std::uint64_t(c.blockAlign()));
    std::fwrite(header.data(), 1, header.size(), out.get());
    constexpr std::uint32_t chunk = 16384;
    std::vector<std::uint8_t> buffer(std::size_t(chunk) * std::uint32_t(c.blockAlign()));
    for (;;) {
        std::uint32_t got = 0;
        int rc = d.getData(buffer.data(), chunk, &got);
        std::fwrite(buffer.data(), 1, std::size_t(got) * std::uint32_t(c.blockAlign()), out.get());
        if (rc != APE_SUCCESS) {
            std::fprintf(stderr, "apedec: decoding failed at block %llu: error %d\n",
                         static_cast<unsigned long long>(d.currentBlock()), rc);
            return 1;
        }
        if (got == 0)
            break;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    bool info = false;
    std::vector<const char*> names;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--info") == 0)
            info = true;
        else
            names.push_back(argv[i]);
    }
    if (names.empty() || names.size() > 2 || (!info && names.size() != 2)) {
        std::fprintf(stderr, "usage: apedec [--info] INPUT.ape [OUTPUT.wav]\n");
        return 2;
    }
    std::unique_ptr<ape::Decompressor> d;
    try {
        d = ape::Decompressor::open(std::make_unique<ape::FileByteSource>(names[0]));
    } catch (const ape::CodecError& e) {
        std::fprintf(stderr, "apedec: %s: %s (error %d)\n", names[0], e.what(), e.code());
        return 1;
    }
    if (info)
        printInfo(*d);
    return names.size() == 2 ? decodeToWav(*d, names[1]) : 0;
}
