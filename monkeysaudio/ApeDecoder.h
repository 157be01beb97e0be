#pragma once

#include <cstdint>
#include <string>

#include "monkeysaudio/CodecLibrary.h"

// The decompressor of one Monkey's Audio file at a time, over its own
// reference to the codec library. Positions and counts are in blocks: one
// sample for every channel. Every codec failure is raised as a
// MonkeysAudioError naming the operation.
//
// Only open(), construction and destruction look at whether a file is open;
// everything else expects one, so callers test isOpen() first. There is no
// lock here: the source filter serialises opening, positioning and reading.
class ApeDecoder : public CodecLibrary {
public:
    // Information fields for info(); parameters of the codec's call are 0, 0.
    static constexpr std::int32_t sampleRateField = APE_INFO_SAMPLE_RATE;        // blocks per second
    static constexpr std::int32_t bitsPerSampleField = APE_INFO_BITS_PER_SAMPLE; // 8, 16 or 24
    static constexpr std::int32_t channelCountField = APE_INFO_CHANNELS;
    static constexpr std::int32_t blockAlignField = APE_INFO_BLOCK_ALIGN;     // bytes of PCM per block
    static constexpr std::int32_t currentBlockField = APE_INFO_CURRENT_BLOCK; // where the next read starts
    static constexpr std::int32_t totalBlocksField = APE_INFO_TOTAL_BLOCKS;

    // Loads and checks the codec library; no file is open afterwards.
    ApeDecoder();
    ~ApeDecoder();

    // Replaces any open file, which is closed first: after a failure no file
    // is open. `fileName` is in the ANSI code page.
    void open(const std::string& fileName);
    bool isOpen() const { return handle != nullptr; }
    // Closes the open file, if any.
    void close() noexcept;

    // The field's value as the codec gives it, unchecked.
    std::int32_t info(std::int32_t field) const;
    // Range-checked: a negative value raises boost::bad_numeric_cast.
    std::uint32_t sampleRate() const;
    std::uint32_t bitsPerSampleInfo() const;
    std::uint32_t channelCount() const;

    void seek(std::uint32_t block);
    // How many blocks seek(block) decodes before it returns: 0 when it
    // decodes nothing, or when the codec cannot tell. A far block is reached
    // in steps by seeks on within its frame, each decoding a part of that.
    std::uint32_t seekDecodingLead(std::uint32_t block) const;
    // Decodes up to `blocks` blocks into `buffer`, which holds block-align
    // bytes for each; fewer at the end of the file, 0 once past it. A request
    // for 0 blocks never reaches the codec. A codec claiming more blocks than
    // asked is refused with a MonkeysAudioError(undefinedCodecError). A
    // failure after some blocks were decoded delivers those first and is
    // raised by the next read.
    std::uint32_t read(void* buffer, std::uint32_t blocks);
    // The open file's tag; it lives as long as the file stays open.
    APE_TAG_HANDLE tag() const;

private:
    decltype(&c_APEDecompress_Create) create = nullptr;
    decltype(&c_APEDecompress_Destroy) destroy = nullptr;
    decltype(&c_APEDecompress_GetData) getData = nullptr;
    decltype(&c_APEDecompress_Seek) seekTo = nullptr;
    decltype(&c_APEDecompress_GetInfo) getInfo = nullptr;
    decltype(&c_APEDecompress_GetTag) getTag = nullptr;
    // Owned: destroyed when replaced and on destruction.
    APE_DECOMPRESS_HANDLE handle = nullptr;
    // A read failure held back while the blocks decoded before it were
    // delivered; raised by the next read, dropped by a seek or a new file.
    std::int32_t pendingError = 0;
};
