#include "FileByteSource.h"

#include "apecodec.h"
#include "format/CodecError.h"

namespace ape {
namespace {

int seekTo(std::FILE* f, uint64_t offset, int whence)
{
#if defined(_WIN32)
    return _fseeki64(f, int64_t(offset), whence);
#else
    return fseeko(f, off_t(offset), whence);
#endif
}

int64_t tell(std::FILE* f)
{
#if defined(_WIN32)
    return _ftelli64(f);
#else
    return int64_t(ftello(f));
#endif
}

} // namespace

FileByteSource::FileByteSource(const std::string& fileName) : file_(std::fopen(fileName.c_str(), "rb"))
{
    if (!file_)
        throw CodecError(APE_ERROR_INVALID_INPUT_FILE, "cannot open the file");
    if (seekTo(file_.get(), 0, SEEK_END) != 0)
        throw CodecError(APE_ERROR_IO_READ, "cannot size the file");
    int64_t end = tell(file_.get());
    if (end < 0)
        throw CodecError(APE_ERROR_IO_READ, "cannot size the file");
    size_ = uint64_t(end);
}

bool FileByteSource::read(uint64_t offset, void* out, size_t count)
{
    if (offset > size_ || count > size_ - offset)
        return false;
    std::lock_guard lock(mutex_);
    return seekTo(file_.get(), offset, SEEK_SET) == 0 && std::fread(out, 1, count, file_.get()) == count;
}

} // namespace ape
