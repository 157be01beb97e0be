#include "decoder/RecentChunks.h"

#include <algorithm>

namespace ape {

RecentChunks::RecentChunks(std::size_t slots, std::size_t chunkBytes) : chunkBytes(chunkBytes), slots(slots)
{
}

std::uint8_t* RecentChunks::next()
{
    Slot& slot = slots[held == 0 ? 0 : (newest + 1) % slots.size()];
    if (held == slots.size())
        --held; // the oldest chunk, about to be overwritten
    slot.bytes.resize(chunkBytes);
    return slot.bytes.data();
}

void RecentChunks::commit(std::uint64_t first, std::size_t blocks)
{
    newest = held == 0 ? 0 : (newest + 1) % slots.size();
    slots[newest].first = first;
    slots[newest].blocks = blocks;
    held = std::min(held + 1, slots.size());
}

const std::uint8_t* RecentChunks::find(std::uint64_t block, std::size_t* offset, std::size_t* blocks) const
{
    // Newest first: reading in order finds its chunk at the first look.
    for (std::size_t i = 0; i < held; ++i) {
        const Slot& slot = slots[(newest + slots.size() - i) % slots.size()];
        if (block >= slot.first && block - slot.first < slot.blocks) {
            *offset = std::size_t(block - slot.first);
            *blocks = slot.blocks;
            return slot.bytes.data();
        }
    }
    return nullptr;
}

} // namespace ape
