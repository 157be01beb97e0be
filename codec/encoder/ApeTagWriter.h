#pragma once
// Builds an APEv2 tag (header, items, footer) to append to a file. Items are
// UTF-8 text; keys keep their case but must be unique ignoring case.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ape {

class ApeTagWriter {
public:
    // Throws EncodeError for a key the format forbids (length 2..255,
    // printable ASCII, not ID3/TAG/OggS/MP+, not already present) or a value
    // that is not valid UTF-8.
    void addText(std::string_view key, std::string_view utf8Value);

    bool empty() const { return items.empty(); }
    std::vector<std::uint8_t> bytes() const;

private:
    struct Item {
        std::string key;
        std::string value;
    };
    std::vector<Item> items;
};

} // namespace ape
