// One stage-2 "NN" filter for one channel slot: a sign-sign LMS predictor
// over the last `order` outputs clipped to 16 bits. decode() turns residuals
// into values, encode() the reverse; both evolve the state identically.
//
// History and adaptation values live in sliding windows of order + 512
// entries; every 512 steps the newest `order` entries move to the front, so
// the per-step cost is the two vector loops and nothing else.
#pragma once

#include "NNKernels.h"

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

    // Back to the state of a frame start.
    void reset();
    // Residuals in, filtered values out, in place.
    void decode(int32_t* values, size_t count);
    // Values in, residuals out, in place.
    void encode(int32_t* values, size_t count);

    int order() const { return order_; }
    bool newAdaptation() const { return adaptation_ == NNAdaptation::new3980; }

    // The state over this filter's vectors, for one run of a loop outside
    // this class (one that decodes values and filters them in the same
    // pass); finish() keeps what the run changed.
    NNRunState runState();
    void finish(const NNRunState& state);

private:
    template <bool New> void encodeRun(int32_t* values, size_t count);

    int order_;
    int fraction_;
    NNAdaptation adaptation_;
    const NNKernels& kernels_;
    NNDecodeRun decodeRun_;      // chosen for the order and the adaptation rule
    std::vector<int16_t> coef_;
    std::vector<int16_t> hist_;  // window: hist_[pos_ .. pos_ + order_) oldest first
    std::vector<int16_t> adapt_; // same layout as hist_
    int pos_ = 0;
    uint32_t average_ = 0;       // running mean magnitude of the outputs (new adaptation)
};

} // namespace ape
