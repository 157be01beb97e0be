#pragma once
// Writes PCM into a WAV file that appears complete or not at all: the data
// goes to "<target>.partial" beside the target, and only commit() fills in
// the sizes and renames it over the target. A writer destroyed without a
// commit (an error, an interrupted conversion) deletes its partial file and
// leaves any existing target untouched.
//
// Up to two channels of 8 or 16 bits get the plain PCM header; more
// channels or wider samples get WAVE_FORMAT_EXTENSIBLE with the usual
// speaker layout, as Windows asks of such files.
//
// Used by one thread at a time: the streaming thread appends, and the
// controlling thread commits only after streaming has stopped.

#include <cstdint>
#include <string>

#include "PcmFormat.h"
#include "support/WindowsHandle.h"

namespace apeplay {

class WavFileWriter {
public:
    // Creates the partial file and writes a header with zero sizes; raises
    // oryx::WindowsError when the file cannot be created.
    WavFileWriter(std::wstring target, const PcmFormat& format);
    WavFileWriter(const WavFileWriter&) = delete;
    WavFileWriter& operator=(const WavFileWriter&) = delete;
    ~WavFileWriter();

    // Raises PlayerError when the data would outgrow the 4 GiB that the
    // RIFF sizes can describe, oryx::WindowsError when writing fails.
    void append(const void* data, std::size_t bytes);
    // Pads an odd-sized data chunk, writes the sizes, closes and renames.
    void commit();

    std::uint64_t dataBytes() const { return written; }
    const std::wstring& partialName() const { return partial; }

private:
    void writeAll(const void* data, std::size_t bytes);

    std::wstring target;
    std::wstring partial;
    oryx::WindowsHandle file;
    DWORD headerBytes = 0;
    std::uint64_t written = 0;
    bool committed = false;
};

} // namespace apeplay
