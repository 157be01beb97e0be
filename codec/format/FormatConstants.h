// Numbers that the container and the codec share. Versions are the 16-bit
// file version (3990 for "3.99"); block counts are one sample per channel.
#pragma once

#include <cstdint>

namespace ape {

// Versions that changed the format, each the first version of its range.
namespace version {
constexpr int oldest = 3800;
constexpr int seekBitTableEnd = 3810; // below: a bit offset per frame follows the seek table
constexpr int frameFlagsFrom = 3830;  // frames may carry a flags word
constexpr int perValueRice = 3860;    // 3860..3899: per-value adaptive Rice
constexpr int riceEscape = 3881;      // from here the Rice prefix escapes every 16 zeros
constexpr int rangeCoder = 3900;      // range coder replaces the bit stream
constexpr int splitWideValues = 3910; // values over 16 bits come in two halves
constexpr int interleaved = 3930;     // NN filters, per-block stereo interleave
constexpr int predictor3950 = 3950;   // coupled stereo predictor, no 2-byte allowance
constexpr int newHeader = 3980;       // descriptor + header, new NN adaptation
constexpr int pivotValues = 3990;     // 3980 frequency table, pivot-based values
constexpr int newest = 3990;
} // namespace version

// Compression levels (the header's compressiontype).
namespace level {
constexpr int fast = 1000;
constexpr int normal = 2000;
constexpr int high = 3000;
constexpr int extraHigh = 4000;
constexpr int insane = 5000;
} // namespace level

// Header format flags.
namespace formatFlag {
constexpr std::uint16_t eightBit = 1;
constexpr std::uint16_t crc = 2;
constexpr std::uint16_t hasPeakLevel = 4;
constexpr std::uint16_t twentyFourBit = 8;
constexpr std::uint16_t hasSeekElements = 16;
constexpr std::uint16_t createWavHeader = 32;
} // namespace formatFlag

// Frame flags (the word after a CRC word whose bit 31 is set).
namespace frameFlag {
constexpr std::uint32_t present = 0x80000000u; // bit of the CRC word: a flags word follows
constexpr std::uint32_t monoSilence = 1;
constexpr std::uint32_t stereoSilence = 3;
constexpr std::uint32_t pseudoStereo = 4;
} // namespace frameFlag

// Blocks per frame where the file does not store it.
namespace blocksPerFrame {
constexpr std::uint32_t small = 9216;      // versions below 3900 at levels below 4000
constexpr std::uint32_t standard = 73728;  // 3900..3949, and older files at level 4000
constexpr std::uint32_t large = 73728 * 4; // 3950..3979
// The largest frame any compression level writes (level 5000's); larger
// ones are refused as damage, since every seek decodes up to a frame's size.
constexpr std::uint32_t maximum = standard * 16;
} // namespace blocksPerFrame

// Sample rates a file may give: from 1 Hz to 32 times 192 kHz, beyond every
// rate a recorder or a converter writes; larger rates are damage, and they
// would overflow the byte rates and buffer sizes players derive from them.
namespace sampleRate {
constexpr std::uint32_t maximum = 192000 * 32;
} // namespace sampleRate

constexpr char signature[4] = {'M', 'A', 'C', ' '};
constexpr std::uint32_t minimumFrameBytes = 8; // CRC word plus the shortest range-coder output

} // namespace ape
