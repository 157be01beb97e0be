#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "format/ContainerLayout.h"

// Copies of a good file damaged as files are damaged in the wild: cut short
// inside each of its parts (the descriptor, the seek table, the first frame,
// halfway through the frames, just before their end), and with one to four
// bytes flipped, every third copy only ahead of the frames, where the header
// and the seek table are, the others anywhere.
struct DamagedCopies {
    DamagedCopies(const std::vector<std::uint8_t>& good, int flippedCount, std::mt19937& random)
    {
        if (good.size() < ape::Descriptor::size + ape::Header::size)
            throw std::invalid_argument("too short to be a good file");
        const ape::Descriptor descriptor = ape::Descriptor::read(good.data());
        const std::size_t seekTable = descriptor.descriptorLength + descriptor.headerLength;
        const std::size_t frames = seekTable + descriptor.seekTableLength + descriptor.wavHeaderLength;
        const std::size_t framesEnd = frames + descriptor.audioDataBytes();
        if (framesEnd > good.size())
            throw std::invalid_argument("the frames run past the file's end");
        for (const std::size_t length : {std::size_t{20}, seekTable + 2, frames + 100, framesEnd / 2, framesEnd - 10})
            cut.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        for (int variant = 0; variant < flippedCount; ++variant) {
            std::vector<std::uint8_t> copy = good;
            const std::size_t end = variant % 3 == 0 ? frames : good.size();
            for (int i = 0; i <= variant % 4; ++i)
                copy[random() % end] ^= static_cast<std::uint8_t>(1 + random() % 255);
            flipped.push_back(std::move(copy));
        }
    }

    std::vector<std::vector<std::uint8_t>> cut;
    std::vector<std::vector<std::uint8_t>> flipped;
};
