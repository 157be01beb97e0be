// What both decoder fuzzers do first with an input: open it as a file, read
// every tag value and the information fields. Null when the codec refuses
// the file, which is a fine outcome for a fuzzed input.
#pragma once

#include "decoder/Decompressor.h"
#include "decoder/MemoryByteSource.h"
#include "format/CodecError.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

inline std::unique_ptr<ape::Decompressor> openFuzzedFile(const std::uint8_t* data, std::size_t size)
{
    std::unique_ptr<ape::Decompressor> d;
    try {
        d = ape::Decompressor::open(std::make_unique<ape::MemoryByteSource>(data, size));
    } catch (const ape::CodecError&) {
        return nullptr;
    }
    for (const ape::TagItem& item : d->tag().items()) {
        std::vector<std::uint8_t> value(item.size);
        ape::ApeTag::readValue(d->source(), item, value.data());
    }
    for (int field : {1000, 1003, 1004, 1006, 1007, 2000, 2001, 2002, 2003})
        d->info(field);
    return d;
}
