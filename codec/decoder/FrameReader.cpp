#include "FrameReader.h"

#include <algorithm>
#include <cstring>

namespace ape {

FrameReader::FrameReader(ByteSource& source) : source_(source), buffer_(history + blockBytes) {}

void FrameReader::begin(const FrameSpan& span, uint32_t allowance)
{
    filePos_ = span.wordStart;
    fileEnd_ = span.wordEnd;
    allowance_ = allowance;
    overrun_ = false;
    cursor_ = end_ = buffer_.data() + history;
    for (uint32_t i = 0; i < span.skipBits / 8; ++i)
        next();
}

uint8_t FrameReader::refill()
{
    if (filePos_ < fileEnd_) {
        size_t count = size_t(std::min<uint64_t>(blockBytes, fileEnd_ - filePos_));
        uint8_t* data = buffer_.data() + history;
        std::memmove(buffer_.data(), end_ - history, history);
        if (!source_.read(filePos_, data, count)) {
            overrun_ = true;
            filePos_ = fileEnd_;
            return 0;
        }
        filePos_ += count;
        for (size_t i = 0; i + 4 <= count; i += 4) {
            std::swap(data[i], data[i + 3]);
            std::swap(data[i + 1], data[i + 2]);
        }
        cursor_ = data;
        end_ = data + count;
        return *cursor_++;
    }
    if (allowance_ > 0)
        --allowance_;
    else
        overrun_ = true;
    return 0;
}

} // namespace ape
