#include "CorpusPlan.h"

#include "encoder/ApeEncoder.h"
#include "encoder/ApeTagWriter.h"

#include <algorithm>
#include <array>

namespace ape {

namespace {

// Frames are kept short in most of the corpus so that "several frames"
// stays cheap; a few files use the usual sizes.
constexpr std::uint32_t shortFrame = 4096;
constexpr unsigned quietBits = 5; // about -30 dB

struct SignalShape {
    Signal signal;
    unsigned channels;
};

//                                         signal             channels
constexpr std::array<SignalShape, 13> shapes = {{{Signal::silence, 2},
                                                 {Signal::dc, 2},
                                                 {Signal::square, 2},
                                                 {Signal::extremes, 1},
                                                 {Signal::extremes, 2},
                                                 {Signal::sine, 1},
                                                 {Signal::sweep, 2},
                                                 {Signal::white, 2},
                                                 {Signal::pink, 1},
                                                 {Signal::music, 2},
                                                 {Signal::identical, 2},
                                                 {Signal::inverted, 2},
                                                 {Signal::oneSilent, 2}}};

constexpr std::array<unsigned, 5> levels = {1000, 2000, 3000, 4000, 5000};
constexpr std::array<unsigned, 3> depths = {8, 16, 24};
constexpr std::array<std::uint32_t, 5> rates = {44100, 48000, 8000, 96000, 11025};

// Lengths in blocks relative to the frame size: 1 block, one less and one
// more than a frame, several frames with a short last one, exactly two.
std::uint64_t lengthFor(std::size_t index, std::uint32_t frame)
{
    const std::array<std::uint64_t, 5> lengths = {1, frame - 1, frame + 1, 3ull * frame + 777, 2ull * frame};
    return lengths[index % lengths.size()];
}

CorpusItem makeItem(Signal signal, unsigned channels, unsigned bits, std::uint32_t rate, std::uint64_t blocks,
                    const EncoderOptions& options)
{
    CorpusItem item{{}, signal, PcmFormat{channels, bits, rate}, blocks, options};
    // Loud 24-bit stereo makes the stereo predictor's sums exceed 32 bits, and
    // at level 5000 the known decoders then disagree (they agree below): keep
    // those files quiet enough that every decoder must give the same samples.
    if (bits == 24 && channels == 2 && options.level >= 5000)
        item.attenuationBits = quietBits;
    item.name = std::string(signalName(signal)) + "-v" + std::to_string(options.version) + "-l" +
                std::to_string(options.level) + "-" + std::to_string(bits) + "b-" + std::to_string(channels) + "ch-" +
                std::to_string(blocks);
    if (item.attenuationBits)
        item.name += "-quiet";
    if (options.padFrames)
        item.name += "-padded";
    if (!options.useFrameFlags)
        item.name += "-noflags";
    if (!options.storeWavHeader)
        item.name += "-nowavheader";
    return item;
}

// Seek entries count from the stream's signature, so a leading tag needs no
// change to the stream itself.
void wrap(std::vector<std::uint8_t>& file, const CorpusItem& item)
{
    if (item.wrapping == Wrapping::apeTag) {
        ApeTagWriter tag;
        tag.addText("Title", item.name);
        tag.addText("Comment", "APETAGEX in a value must not end the audio");
        const std::vector<std::uint8_t> bytes = tag.bytes();
        file.insert(file.end(), bytes.begin(), bytes.end());
    } else if (item.wrapping == Wrapping::id3Tags) {
        // ID3v2.3 header with a syncsafe size, then zero padding as its body.
        constexpr std::uint32_t bodyBytes = 1000;
        std::vector<std::uint8_t> id3v2 = {
            'I', 'D', '3', 3, 0, 0, 0, 0, std::uint8_t(bodyBytes >> 7), std::uint8_t(bodyBytes & 0x7F)};
        id3v2.resize(10 + bodyBytes, 0);
        file.insert(file.begin(), id3v2.begin(), id3v2.end());
        std::vector<std::uint8_t> id3v1(128, 0);
        const std::string title = "corpus " + item.name;
        id3v1[0] = 'T';
        id3v1[1] = 'A';
        id3v1[2] = 'G';
        std::copy_n(title.begin(), std::min<std::size_t>(title.size(), 30), id3v1.begin() + 3);
        id3v1[127] = 255; // no genre
        file.insert(file.end(), id3v1.begin(), id3v1.end());
    }
}

} // namespace

std::vector<CorpusItem> CorpusPlan::build(bool small)
{
    std::vector<CorpusItem> items;
    std::size_t index = 0;

    // Current version: every shape at every level and depth.
    for (std::size_t s = 0; s < shapes.size(); ++s) {
        const SignalShape& shape = shapes[s];
        for (std::size_t l = 0; l < levels.size(); ++l) {
            const unsigned level = levels[l];
            for (std::size_t b = 0; b < depths.size(); ++b) {
                const unsigned bits = depths[b];
                const std::size_t i = index++;
                // The subset: per shape, each depth once, at levels that rotate.
                if (small && (s + l + b) % levels.size() != 0)
                    continue;
                EncoderOptions options;
                options.level = level;
                options.blocksPerFrame = shortFrame;
                options.padFrames = i % 3 == 0;
                options.useFrameFlags = i % 4 != 1;
                options.storeWavHeader = i % 7 != 3;
                items.push_back(makeItem(shape.signal, shape.channels, bits, rates[i % rates.size()],
                                         lengthFor(i, shortFrame), options));
            }
        }
    }

    // Frames of the usual sizes.
    {
        EncoderOptions options;
        options.level = 2000;
        items.push_back(makeItem(Signal::music, 2, 16, 44100, 73728 + 1000, options));
        if (!small) {
            options.level = 1000;
            items.push_back(makeItem(Signal::music, 2, 24, 48000, 3 * 73728 + 5, options));
        }
    }

    // Tags around the stream.
    {
        EncoderOptions options;
        options.level = 3000;
        options.blocksPerFrame = shortFrame;
        CorpusItem tagged = makeItem(Signal::music, 2, 16, 44100, 2 * shortFrame + 10, options);
        tagged.wrapping = Wrapping::apeTag;
        tagged.name += "-apetag";
        items.push_back(tagged);
        CorpusItem id3 = makeItem(Signal::pink, 1, 16, 32000, shortFrame + 10, options);
        id3.wrapping = Wrapping::id3Tags;
        id3.name += "-id3tags";
        items.push_back(id3);
    }

    // Older versions, for a representative subset of shapes.
    constexpr std::array<SignalShape, 7> oldShapes = {{{Signal::sine, 1},
                                                       {Signal::music, 2},
                                                       {Signal::white, 2},
                                                       {Signal::identical, 2},
                                                       {Signal::silence, 2},
                                                       {Signal::extremes, 1},
                                                       {Signal::pink, 1}}};
    for (unsigned version : {3980u, 3950u, 3930u}) {
        for (std::size_t s = 0; s < oldShapes.size(); ++s) {
            const SignalShape& shape = oldShapes[s];
            for (std::size_t l = 0; l < levels.size(); ++l) {
                const unsigned level = levels[l];
                const std::size_t i = index++;
                if (small && (s + l) % 3 != 0)
                    continue;
                EncoderOptions options;
                options.version = version;
                options.level = level;
                options.padFrames = i % 3 == 0;
                std::uint64_t blocks = std::array<std::uint64_t, 3>{1, 5000, 20000}[i % 3];
                if (version == 3980) {
                    options.blocksPerFrame = shortFrame;
                    blocks = lengthFor(i, shortFrame);
                }
                items.push_back(makeItem(shape.signal, shape.channels, depths[i % depths.size()],
                                         rates[i % rates.size()], blocks, options));
            }
        }
    }
    // Several frames of the sizes the old headers imply.
    if (!small) {
        EncoderOptions options;
        options.level = 1000;
        options.version = 3950;
        items.push_back(makeItem(Signal::music, 1, 8, 22050, 294912 + 1000, options));
        options.version = 3930;
        options.level = 2000;
        items.push_back(makeItem(Signal::music, 2, 16, 44100, 2 * 73728 + 100, options));
    }
    return items;
}

EncodedItem CorpusPlan::encode(const CorpusItem& item, std::size_t index)
{
    SignalGenerator generator(item.format.bitsPerSample, item.format.channels, item.format.sampleRate, index);
    std::vector<std::int32_t> samples = generator.generate(item.signal, item.blocks);
    for (std::int32_t& s : samples)
        s >>= item.attenuationBits;
    EncodedItem encoded;
    encoded.pcm = generator.pack(samples);
    ApeEncoder encoder(item.format, item.options);
    encoded.file = encoder.encode(encoded.pcm);
    wrap(encoded.file, item);
    return encoded;
}

} // namespace ape
