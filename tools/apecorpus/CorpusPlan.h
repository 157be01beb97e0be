#pragma once
// Which files the test corpus holds. The plan is fixed data, so every run
// (and every build) writes the same corpus.

#include "EncoderOptions.h"
#include "SignalGenerator.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ape {

struct CorpusItem {
    std::string name;
    Signal signal;
    PcmFormat format;
    std::uint64_t blocks;
    EncoderOptions options;
    unsigned attenuationBits = 0;   // samples are shifted right by this much
};

class CorpusPlan {
public:
    // The full corpus, or (`small`) a subset that still covers every
    // version, level, depth and channel count, for slow hosts such as Wine.
    static std::vector<CorpusItem> build(bool small);
};

}  // namespace ape
