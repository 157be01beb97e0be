#include "decoder/FrameReader.h"

#include <algorithm>
#include <cstring>

namespace ape {

FrameReader::FrameReader(ByteSource& source) : source(source), buffer(2 * straddledOffset)
{
}

void FrameReader::begin(const FrameSpan& span, std::uint32_t allowance)
{
    filePos = span.wordStart;
    fileEnd = span.wordEnd;
    allowanceLeft = allowance;
    overran = false;
    pastEnd = false;
    cursor = end = buffer.data() + history;
    for (std::uint32_t i = 0; i < span.skipBits / 8; ++i)
        next();
}

std::uint8_t FrameReader::refill()
{
    if (filePos < fileEnd) {
        std::size_t count = std::size_t(std::min<std::uint64_t>(blockBytes, fileEnd - filePos));
        std::uint8_t* data = buffer.data() + history;
        std::memmove(buffer.data(), end - history, history);
        if (!source.read(filePos, data, count)) {
            overran = true;
            filePos = fileEnd;
            return 0;
        }
        filePos += count;
        for (std::size_t i = 0; i + 4 <= count; i += 4) {
            std::swap(data[i], data[i + 3]);
            std::swap(data[i + 1], data[i + 2]);
        }
        std::uint8_t* straddled = data + straddledOffset;
        const std::uint8_t* previous = data - 1; // the history's last byte first
        for (std::size_t i = 0; i < count; ++i)
            straddled[i] = std::uint8_t((previous[i] << 7) | (data[i] >> 1));
        cursor = data;
        end = data + count;
        return *cursor++;
    }
    pastEnd = true;
    if (allowanceLeft > 0)
        --allowanceLeft;
    else
        overran = true;
    return 0;
}

std::uint8_t FrameReader::refillStraddling()
{
    const std::uint32_t previous = pastEnd ? 0 : cursor[-1];
    return std::uint8_t(((previous << 8) | refill()) >> 1);
}

} // namespace ape
