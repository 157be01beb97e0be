// One stage-2 "NN" filter for one channel slot: a sign-sign LMS predictor
// over the last `order` outputs clipped to 16 bits. decode() turns residuals
// into values, encode() the reverse; both evolve the state identically.
//
// History and adaptation values live in sliding windows of order + 512
// entries; every 512 steps the newest `order` entries move to the front, so
// the per-step cost is the two vector loops and nothing else.
#pragma once

#include "dsp/NNKernels.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ape {

enum class NNAdaptation {
    old3930, // versions 3930..3979: fixed ±4 with two halvings
    new3980, // versions 3980 and later: magnitude from a running average
};

class NNFilter {
public:
    NNFilter(int order, int fraction, NNAdaptation adaptation, const NNKernels& kernels = bestNNKernels());
    // The pointers lead into the storage, which a copy would not share and
    // a move keeps.
    NNFilter(const NNFilter&) = delete;
    NNFilter& operator=(const NNFilter&) = delete;
    NNFilter(NNFilter&&) = default;

    // Back to the state of a frame start.
    void reset();
    // Residuals in, filtered values out, in place.
    void decode(std::int32_t* values, std::size_t count);
    // Values in, residuals out, in place.
    void encode(std::int32_t* values, std::size_t count);

    int order() const { return filterOrder; }

    // The state over this filter's vectors, for one run of a loop outside
    // this class (one that decodes values and filters them in the same
    // pass); finish() keeps what the run changed.
    NNRunState runState();
    void finish(const NNRunState& state);

private:
    template <bool New>
    void encodeRun(std::int32_t* values, std::size_t count);

    int filterOrder;
    int fraction;
    NNAdaptation adaptation;
    const NNKernels& kernels;
    NNDecodeRun decodeRun; // chosen for the order and the adaptation rule
    // One allocation holds the coefficients and the windows, each window at
    // an address the constructor chooses relative to the coefficients.
    std::vector<std::int16_t> storage;
    std::int16_t* coef;         // `order` entries from a cache line: loaded and stored whole every step
    std::int16_t* hist;         // window: hist[pos .. pos + filterOrder) oldest first
    std::int16_t* adapt;        // same layout as hist
    std::int16_t* negatedAdapt; // -adapt where a kernel keeps it
    std::int8_t* narrowAdapt;   // room for adapt in bytes, from nn::narrowFrom taps on; null below
    int pos = 0;
    std::uint32_t average = 0; // running mean magnitude of the outputs (new adaptation)
};

} // namespace ape
