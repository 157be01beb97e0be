#pragma once

#include <cstdint>
#include <string>

#include "monkeysaudio/CodecLibrary.h"

class ApeDecoder;

// Reads text fields of the tag of a decoder's open file, over a reference to
// the codec library of its own. Made for one lookup and destroyed at once,
// while the caller holds the lock that keeps the decoder's file open: the tag
// handle belongs to the decoder's decompressor and is never released here.
class ApeTagReader : public CodecLibrary {
public:
    // `decoder` must have a file open.
    explicit ApeTagReader(const ApeDecoder& decoder);

    // True unless the codec calls the field missing; a field that cannot be
    // read still exists.
    bool fieldExists(const std::string& name) const;
    // The value's size in bytes; a missing field raises MonkeysAudioError.
    std::uint32_t fieldSize(const std::string& name) const;
    // The value up to its first NUL. Tag text is UTF-8 and is decoded as such;
    // bytes that are not valid UTF-8 (older tag formats in a local code page)
    // become the characters of the same value.
    std::wstring fieldValue(const std::string& name) const;
    // The whole value as stored, NULs included: for a text in its own
    // encoding, such as a cue sheet. A missing field raises as fieldSize.
    std::string fieldBytes(const std::string& name) const;

private:
    decltype(&c_APETag_GetFieldData) getFieldData = nullptr;
    decltype(&c_APETag_GetFieldSize) getFieldSize = nullptr;
    APE_TAG_HANDLE tag = nullptr;
};
