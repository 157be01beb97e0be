// libFuzzer entry: any byte string as a file. Opens it, reads every tag value
// and information field, then runs a few steps that the input's last bytes
// choose: frames decoded directly a few blocks at a time, and seeks and
// reads through the decompressor where its frames are short. Errors are
// fine; crashes, sanitizer reports, leaks and hangs are not.
//
// The work per input is bounded by what an input can reach, not by the
// length of its audio: a stream decodes the same way all along, so long runs
// buy little coverage for their time (ApeDeepFuzzer.cpp does those). At most
// `maximumSteps` steps of at most `maximumStepBlocks` blocks each. The
// decompressor always decodes whole chunks of up to 4608 blocks, and a seek
// decodes its frame up to the target, so it is read and seeked only where
// its frames hold at most `shortFrameBlocks` (ApeDeepFuzzer.cpp seeks in
// long ones); the fuzzer makes such files from the seeds by itself.
// Versions before 3950 decode a whole frame on its first block, which no
// harness can avoid; a frame that runs out of data stops there.
#include "decoder/FrameDecoder.h"
#include "FuzzedFile.h"

#include <algorithm>

namespace {

constexpr int maximumSteps = 6;
constexpr std::uint32_t maximumStepBlocks = 256;
constexpr std::uint32_t shortFrameBlocks = 4 * maximumStepBlocks;

// A frame decoder of its own, driven directly, so that a step decodes only
// the blocks it asks for. Errors end the frame; the next step starts another.
// Made at the first step that needs it: making one costs as much as a short
// run of decoding (old versions hold a whole frame).
class FrameWalk {
public:
    FrameWalk(const ape::ApeContainer& container, ape::ByteSource& source) : container(container), source(source) {}

    void start(std::uint32_t frame)
    {
        frame %= container.totalFrames;
        next = frame + 1;
        remaining = 0;
        if (!decoder) {
            decoder = ape::FrameDecoder::create(container, source);
            left.resize(maximumStepBlocks);
            right.resize(maximumStepBlocks);
        }
        try {
            decoder->start(container.frame(source, frame));
            remaining = container.frameBlocks(frame);
        } catch (const ape::CodecError&) {
        }
    }

    // Up to `blocks` more of the frame under way, or of the next one.
    void decode(std::uint32_t blocks)
    {
        if (remaining == 0)
            start(next);
        const std::uint32_t count = std::min(blocks, remaining);
        if (count == 0)
            return;
        try {
            decoder->decode(left.data(), right.data(), count);
            remaining -= count;
        } catch (const ape::CodecError&) {
            remaining = 0;
        }
    }

private:
    const ape::ApeContainer& container;
    ape::ByteSource& source;
    std::unique_ptr<ape::FrameDecoder> decoder;
    std::vector<std::int32_t> left, right;
    std::uint32_t next = 0;      // the frame a decode step starts when none is under way
    std::uint32_t remaining = 0; // blocks of the frame under way not yet decoded
};

bool frameIsShort(const ape::ApeContainer& c, std::uint64_t block)
{
    const bool inFinalFrame = block / c.blocksPerFrame + 1 >= c.totalFrames;
    return c.blocksPerFrame <= shortFrameBlocks || (inFinalFrame && c.finalFrameBlocks <= shortFrameBlocks);
}

// Whether the decompressor's next read decodes at most a short frame.
bool readIsShort(const ape::Decompressor& d)
{
    return frameIsShort(d.container(), d.currentBlock());
}

// Whether a seek decodes at most a short frame: it decodes its frame up to
// the target, except at a frame's start and where it refuses the target.
bool seekIsShort(const ape::Decompressor& d, std::uint64_t block)
{
    const ape::ApeContainer& c = d.container();
    return block > d.totalBlocks() || block % c.blocksPerFrame == 0 || frameIsShort(c, block);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::unique_ptr<ape::Decompressor> d = openFuzzedFile(data, size);
    if (!d)
        return 0;
    FrameWalk walk(d->container(), d->source());
    std::vector<std::uint8_t> buffer(std::size_t(maximumStepBlocks) * std::uint32_t(d->container().blockAlign()));

    // One step per 16-bit word of the input's last bytes, read backwards
    // from the end: bits 0-1 choose the step, bits 2-15 are its argument.
    // The last bytes of a tagged file are the tag footer's reserved bytes,
    // which nothing reads, so mutating them changes the steps alone; their
    // zeros decode one block of frame 0 at a time.
    const int steps = int(std::min<std::size_t>(maximumSteps, size / 2));
    for (int step = 0; step < steps; ++step) {
        const std::uint8_t* word = data + size - 2 * std::size_t(step + 1);
        const std::uint32_t argument = std::uint32_t(word[0]) << 6 | word[1] >> 2;
        switch (word[1] & 3) {
        case 0:
            walk.decode(1 + argument % maximumStepBlocks);
            break;
        case 1:
            walk.start(argument);
            break;
        case 2: { // anywhere from the start to one past the end, which is refused
            const std::uint64_t target = (std::uint64_t(argument) * (d->totalBlocks() + 2)) >> 14;
            if (seekIsShort(*d, target))
                d->seek(target);
            break;
        }
        default:
            if (readIsShort(*d)) {
                std::uint32_t got = 0;
                d->getData(buffer.data(), 1 + argument % maximumStepBlocks, &got);
            }
            break;
        }
    }
    return 0;
}
