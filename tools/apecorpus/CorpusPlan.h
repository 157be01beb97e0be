#pragma once
// Which files the test corpus holds. The plan is fixed data, so every run
// (and every build) writes the same corpus.

#include "encoder/EncoderOptions.h"
#include "SignalGenerator.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ape {

// What surrounds the audio stream in the file. Decoders must find the
// stream behind a leading ID3v2 tag and must not read tags as audio.
enum class Wrapping {
    none,
    apeTag,  // an APEv2 tag after the frames
    id3Tags, // an ID3v2 tag before the stream, an ID3v1 tag after it
};

struct CorpusItem {
    std::string name;
    Signal signal;
    PcmFormat format;
    std::uint64_t blocks;
    EncoderOptions options;
    unsigned attenuationBits = 0; // samples are shifted right by this much
    Wrapping wrapping = Wrapping::none;
};

// One item made real: the whole file as written, and the PCM a decoder must
// give back for it (in the layout of a WAV file of the item's format).
struct EncodedItem {
    std::vector<std::uint8_t> file;
    std::vector<std::uint8_t> pcm;
};

class CorpusPlan {
public:
    // The full corpus, or (`small`) a subset that still covers every
    // version, level, depth and channel count, for slow hosts such as Wine.
    static std::vector<CorpusItem> build(bool small);
    // Signal, encoding and wrapping of `item`; `index` is its place in the
    // plan and seeds its signal, so the same item always gives the same bytes.
    static EncodedItem encode(const CorpusItem& item, std::size_t index);
};

} // namespace ape
