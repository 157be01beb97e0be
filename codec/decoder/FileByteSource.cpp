#include "decoder/FileByteSource.h"

#include "apecodec.h"
#include "format/CodecError.h"

namespace ape {
namespace {

int seekTo(std::FILE* f, std::uint64_t offset, int whence)
{
#if defined(_WIN32)
    return _fseeki64(f, std::int64_t(offset), whence);
#else
    return fseeko(f, off_t(offset), whence);
#endif
}

std::int64_t tell(std::FILE* f)
{
#if defined(_WIN32)
    return _ftelli64(f);
#else
    return std::int64_t(ftello(f));
#endif
}

} // namespace

FileByteSource::FileByteSource(const std::string& fileName) : file(std::fopen(fileName.c_str(), "rb"))
{
    if (!file)
        throw CodecError(APE_ERROR_INVALID_INPUT_FILE, "cannot open the file");
    if (seekTo(file.get(), 0, SEEK_END) != 0)
        throw CodecError(APE_ERROR_IO_READ, "cannot size the file");
    std::int64_t end = tell(file.get());
    if (end < 0)
        throw CodecError(APE_ERROR_IO_READ, "cannot size the file");
    fileSize = std::uint64_t(end);
}

bool FileByteSource::read(std::uint64_t offset, void* out, std::size_t count)
{
    if (offset > fileSize || count > fileSize - offset)
        return false;
    std::lock_guard lock(mutex);
    return seekTo(file.get(), offset, SEEK_SET) == 0 && std::fread(out, 1, count, file.get()) == count;
}

} // namespace ape
