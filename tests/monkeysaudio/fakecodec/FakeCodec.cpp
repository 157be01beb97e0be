// A stand-in for the codec library, with faults chosen at compile time:
//   FAKE_INTERFACE_RESULT=n        GetInterfaceCompatibility returns n
//   FAKE_WITHOUT_VERSION_NUMBER    GetVersionNumber is not exported
//   FAKE_WITHOUT_SEEK              c_APEDecompress_Seek is not exported
//   FAKE_WITHOUT_TAG_DATA          c_APETag_GetFieldData is not exported
//   FAKE_BREAKING_CONTRACT         Create and GetTag store no error code, and
//                                  GetData reports one block more than asked
// Its decoded "file" is a counting byte pattern, its tag a fixed table, and
// what it answers at run time is steered through FakeCodecControl.
#include <algorithm>
#include <cstring>
#include <string>

#include "codec/include/apecodec.h"
#include "tests/monkeysaudio/fakecodec/FakeCodecControl.h"

#ifndef FAKE_INTERFACE_RESULT
#define FAKE_INTERFACE_RESULT 0
#endif

#define FAKE_EXPORT extern "C" __declspec(dllexport)

namespace {

FakeCodecControl control;

struct FakeFile {
    std::string name;
    int currentBlock = 0;
};

struct FakeField {
    const char* key;   // compared without regard to case
    const char* value; // `size` bytes, not necessarily NUL-terminated
    int size;
    int dataResult; // forced result of c_APETag_GetFieldData, 0 for none
};

// The tag every fake file carries.
constexpr FakeField fakeTag[] = {
    {"Title", "Bj\xC3\xB6rk", 6, 0},    // UTF-8, as APEv2 stores text
    {"Artist", "Bj\xF6rk", 5, 0},       // a Latin-1 byte, as older tags hold it
    {"Comment", "", 0, 0},              // present but empty
    {"Album", "ab\0cd", 5, 0},          // a NUL inside the value
    {"Year", "\xF0\x9F\x8E\xB5", 4, 0}, // beyond the 16-bit range: a surrogate pair
    {"Track", "\xC0\xAF", 2, 0},        // an overlong form, not valid UTF-8
    {"Genre", "\xED\xA0\x80", 3, 0},    // an encoded surrogate, not valid UTF-8
    {"Copyright", "unreadable", 10, APE_ERROR_IO_READ},
};

void record(const char* event, const std::string& name)
{
    const std::string entry = std::string(event) + ' ' + name + ';';
    std::strncat(control.events, entry.c_str(), sizeof control.events - std::strlen(control.events) - 1);
}

const FakeField* findField(const char* key)
{
    for (const FakeField& field : fakeTag) {
        if (key && _stricmp(field.key, key) == 0)
            return &field;
    }
    return nullptr;
}

} // namespace

FAKE_EXPORT FakeCodecControl* __stdcall FakeCodecControlBlock()
{
    return &control;
}

#ifndef FAKE_WITHOUT_VERSION_NUMBER
FAKE_EXPORT int APECODEC_CALL GetVersionNumber(void)
{
    return APE_CODEC_VERSION;
}
#endif

FAKE_EXPORT int APECODEC_CALL GetInterfaceCompatibility(int, int, void*)
{
    return FAKE_INTERFACE_RESULT;
}

FAKE_EXPORT APE_DECOMPRESS_HANDLE APECODEC_CALL c_APEDecompress_Create(const char* fileName, int* errorCode)
{
    const std::string name = fileName ? fileName : "";
    record("create", name);
#ifndef FAKE_BREAKING_CONTRACT
    *errorCode = control.createError;
#else
    (void)errorCode;
#endif
    if (control.createError != 0)
        return nullptr;
    ++control.openFiles;
    return new FakeFile{name};
}

FAKE_EXPORT void APECODEC_CALL c_APEDecompress_Destroy(APE_DECOMPRESS_HANDLE handle)
{
    auto* file = static_cast<FakeFile*>(handle);
    record("destroy", file->name);
    --control.openFiles;
    delete file;
}

FAKE_EXPORT int APECODEC_CALL c_APEDecompress_GetData(APE_DECOMPRESS_HANDLE handle, char* buffer, int blocks,
                                                      int* delivered)
{
    auto* file = static_cast<FakeFile*>(handle);
    ++control.getDataCalls;
    *delivered = 0;
    if (control.getDataResult != 0)
        return control.getDataResult;
    if (control.negativeDelivered) {
        *delivered = -1;
        return APE_SUCCESS;
    }
    const int count = std::min(blocks, fakeTotalBlocks - file->currentBlock);
    for (int byte = 0; byte < count * fakeBlockAlign; ++byte)
        buffer[byte] = static_cast<char>(file->currentBlock * fakeBlockAlign + byte);
    file->currentBlock += count;
#ifndef FAKE_BREAKING_CONTRACT
    *delivered = count;
#else
    *delivered = blocks + 1;
#endif
    return APE_SUCCESS;
}

#ifndef FAKE_WITHOUT_SEEK
FAKE_EXPORT int APECODEC_CALL c_APEDecompress_Seek(APE_DECOMPRESS_HANDLE handle, int block)
{
    control.lastSeekBlock = static_cast<unsigned>(block);
    if (control.seekResult != 0)
        return control.seekResult;
    if (control.lastSeekBlock > static_cast<unsigned>(fakeTotalBlocks))
        return APE_ERROR_BAD_PARAMETER;
    static_cast<FakeFile*>(handle)->currentBlock = block;
    return APE_SUCCESS;
}
#endif

FAKE_EXPORT int APECODEC_CALL c_APEDecompress_GetInfo(APE_DECOMPRESS_HANDLE handle, int field, int, int)
{
    const auto* file = static_cast<const FakeFile*>(handle);
    if (!file)
        return -1;
    switch (field) {
    case APE_INFO_SAMPLE_RATE:
        return control.sampleRate;
    case APE_INFO_BITS_PER_SAMPLE:
        return 16;
    case APE_INFO_CHANNELS:
        return 2;
    case APE_INFO_BLOCK_ALIGN:
        return fakeBlockAlign;
    case APE_INFO_CURRENT_BLOCK:
        return file->currentBlock;
    case APE_INFO_TOTAL_BLOCKS:
        return fakeTotalBlocks;
    default:
        return 0;
    }
}

FAKE_EXPORT APE_TAG_HANDLE APECODEC_CALL c_APEDecompress_GetTag(APE_DECOMPRESS_HANDLE, int* errorCode)
{
#ifndef FAKE_BREAKING_CONTRACT
    *errorCode = control.tagError;
#else
    (void)errorCode;
#endif
    return control.tagError == 0 ? const_cast<FakeField*>(fakeTag) : nullptr;
}

FAKE_EXPORT int APECODEC_CALL c_APETag_GetFieldSize(APE_TAG_HANDLE, const char* fieldName)
{
    const FakeField* field = findField(fieldName);
    return field ? field->size : APE_TAG_FIELD_MISSING;
}

#ifndef FAKE_WITHOUT_TAG_DATA
FAKE_EXPORT int APECODEC_CALL c_APETag_GetFieldData(APE_TAG_HANDLE, const char* fieldName, char* buffer, int* capacity)
{
    const FakeField* field = findField(fieldName);
    if (!field)
        return APE_TAG_FIELD_MISSING;
    if (field->dataResult != 0)
        return field->dataResult;
    // Like the real codec, which refuses a null buffer whatever the capacity.
    if (!buffer)
        return APE_ERROR_BAD_PARAMETER;
    if (*capacity < field->size) {
        *capacity = field->size;
        return APE_ERROR_BAD_PARAMETER;
    }
    if (field->size > 0)
        std::memcpy(buffer, field->value, static_cast<std::size_t>(field->size));
    if (*capacity > field->size)
        buffer[field->size] = '\0';
    return APE_SUCCESS;
}
#endif
