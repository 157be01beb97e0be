// A ByteSource over a file opened by name (narrow string, the C library's
// encoding). Reads are serialised by a mutex, so the tag can be read while
// another thread decodes.
#pragma once

#include "format/ByteSource.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace ape {

class FileByteSource : public ByteSource {
public:
    // Throws CodecError(APE_ERROR_INVALID_INPUT_FILE) when the file cannot be opened.
    explicit FileByteSource(const std::string& fileName);
    std::uint64_t size() const override { return fileSize; }
    bool read(std::uint64_t offset, void* out, std::size_t count) override;

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file;
    std::uint64_t fileSize = 0;
    std::mutex mutex; // guards the file position
};

} // namespace ape
