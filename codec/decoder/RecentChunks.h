// The last decoded chunks of packed PCM, newest last, in a ring of a fixed
// number of slots, each slot room for one chunk. The decompressor packs
// every chunk straight into the next slot, so keeping them costs no copy; a
// seek back into them, as a player makes after Stop to the position it
// stopped at, then delivers from memory instead of decoding the frame again.
//
// The chunks need not be consecutive: a player that stops seeks to the
// start, decodes a chunk there, and then seeks back to where it stopped. A
// slot's memory is allocated when it is first used, so a file that is
// opened and never decoded costs none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ape {

class RecentChunks {
public:
    RecentChunks(std::size_t slots, std::size_t chunkBytes);

    // Room for the next chunk, chunkBytes long; it becomes the newest chunk,
    // dropping the oldest when all slots are held, by commit().
    std::uint8_t* next();
    void commit(std::uint64_t first, std::size_t blocks);

    // The chunk holding `block`, or null: `*offset` receives the block's
    // index in it and `*blocks` the chunk's length.
    const std::uint8_t* find(std::uint64_t block, std::size_t* offset, std::size_t* blocks) const;

private:
    struct Slot {
        std::vector<std::uint8_t> bytes;
        std::uint64_t first = 0;
        std::size_t blocks = 0;
    };
    std::size_t chunkBytes;
    std::vector<Slot> slots;
    std::size_t newest = 0; // slot of the newest chunk, when held > 0
    std::size_t held = 0;   // chunks held: the newest and the held - 1 before it
};

} // namespace ape
