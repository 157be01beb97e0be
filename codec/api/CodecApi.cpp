// The ten exported functions: argument checks, result pointers, and the
// translation of exceptions into error codes. Nothing here blocks on UI.
#include "apecodec.h"

#include "decoder/Decompressor.h"
#include "decoder/FileByteSource.h"
#include "format/CodecError.h"

#include <climits>
#include <cstring>
#include <new>

namespace {

ape::Decompressor* decompressor(APE_DECOMPRESS_HANDLE handle)
{
    return static_cast<ape::Decompressor*>(handle);
}

} // namespace

extern "C" {

int APECODEC_CALL GetVersionNumber(void)
{
    return APE_CODEC_VERSION;
}

int APECODEC_CALL GetInterfaceCompatibility(int version, int /*showWarnings*/, void* /*parentWindow*/)
{
    // A library inside a player must never block on a message box, so the
    // warnings flag is deliberately ignored.
    return version == APE_INTERFACE_VERSION ? APE_SUCCESS : APE_ERROR_UNSUPPORTED_FILE_TYPE;
}

APE_DECOMPRESS_HANDLE APECODEC_CALL c_APEDecompress_Create(const char* fileName, int* errorCode)
{
    int code = APE_SUCCESS;
    APE_DECOMPRESS_HANDLE handle = nullptr;
    if (!fileName) {
        code = APE_ERROR_BAD_PARAMETER;
    } else {
        try {
            handle = ape::Decompressor::open(std::make_unique<ape::FileByteSource>(fileName)).release();
        } catch (const ape::CodecError& e) {
            code = e.code();
        } catch (const std::bad_alloc&) {
            code = APE_ERROR_INSUFFICIENT_MEMORY;
        } catch (...) {
            code = APE_ERROR_INVALID_INPUT_FILE;
        }
    }
    if (errorCode)
        *errorCode = code;
    return handle;
}

void APECODEC_CALL c_APEDecompress_Destroy(APE_DECOMPRESS_HANDLE handle)
{
    delete decompressor(handle);
}

int APECODEC_CALL c_APEDecompress_GetData(APE_DECOMPRESS_HANDLE handle, char* buffer, int blocks, int* delivered)
{
    std::uint32_t count = 0;
    int code;
    if (!handle || !buffer || blocks < 0)
        code = APE_ERROR_BAD_PARAMETER;
    else
        code = decompressor(handle)->getData(reinterpret_cast<std::uint8_t*>(buffer), std::uint32_t(blocks), &count);
    if (delivered)
        *delivered = int(count);
    return code;
}

int APECODEC_CALL c_APEDecompress_Seek(APE_DECOMPRESS_HANDLE handle, int block)
{
    if (!handle)
        return APE_ERROR_BAD_PARAMETER;
    // Callers pass an unsigned block number through the signed parameter.
    return decompressor(handle)->seek(std::uint32_t(block));
}

int APECODEC_CALL c_APEDecompress_GetInfo(APE_DECOMPRESS_HANDLE handle, int field, int parameter1, int)
{
    if (!handle)
        return -1;
    if (field == APE_INFO_SEEK_DECODING_LEAD) {
        // Below a frame's size, which the container keeps far below INT_MAX.
        return int(decompressor(handle)->seekDecodingLead(unsigned(parameter1)));
    }
    return decompressor(handle)->info(field);
}

APE_TAG_HANDLE APECODEC_CALL c_APEDecompress_GetTag(APE_DECOMPRESS_HANDLE handle, int* errorCode)
{
    if (errorCode)
        *errorCode = handle ? APE_SUCCESS : APE_ERROR_BAD_PARAMETER;
    return handle;
}

int APECODEC_CALL c_APETag_GetFieldSize(APE_TAG_HANDLE tag, const char* field)
{
    if (!tag || !field)
        return APE_TAG_FIELD_MISSING;
    const ape::TagItem* item = decompressor(tag)->tag().find(field);
    if (!item)
        return APE_TAG_FIELD_MISSING;
    return item->size > INT_MAX ? INT_MAX : int(item->size);
}

int APECODEC_CALL c_APETag_GetFieldData(APE_TAG_HANDLE tag, const char* field, char* buffer, int* capacity)
{
    if (!tag || !field)
        return APE_TAG_FIELD_MISSING;
    ape::Decompressor* d = decompressor(tag);
    const ape::TagItem* item = d->tag().find(field);
    if (!item)
        return APE_TAG_FIELD_MISSING;
    if (!buffer || !capacity || *capacity < 0)
        return APE_ERROR_BAD_PARAMETER;
    if (std::uint64_t(*capacity) < item->size) {
        *capacity = item->size > INT_MAX ? INT_MAX : int(item->size);
        return APE_ERROR_BAD_PARAMETER;
    }
    if (!ape::ApeTag::readValue(d->source(), *item, buffer))
        return APE_ERROR_IO_READ;
    if (std::uint64_t(*capacity) > item->size)
        buffer[item->size] = '\0';
    *capacity = int(item->size);
    return APE_SUCCESS;
}

} // extern "C"
