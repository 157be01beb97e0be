// MACDllC.dll as the system uses it: loaded by name, the ten functions found
// by GetProcAddress under their undecorated names, a real file decoded
// bit-exactly, seeks, tags, and the tag/position reads racing a decode.
#include "apecodec.h"
#include "format/Md5.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <vector>

namespace {

std::string realFile(const char* name)
{
    return std::string("Z:") + APE_REAL_DIR + "/" + name;
}

struct Codec {
    HMODULE module = LoadLibraryA("MACDllC.dll");
    template <class F>
    F get(const char* name)
    {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    decltype(&GetVersionNumber) version = get<decltype(&GetVersionNumber)>("GetVersionNumber");
    decltype(&GetInterfaceCompatibility) compatibility =
        get<decltype(&GetInterfaceCompatibility)>("GetInterfaceCompatibility");
    decltype(&c_APEDecompress_Create) create = get<decltype(&c_APEDecompress_Create)>("c_APEDecompress_Create");
    decltype(&c_APEDecompress_Destroy) destroy = get<decltype(&c_APEDecompress_Destroy)>("c_APEDecompress_Destroy");
    decltype(&c_APEDecompress_GetData) getData = get<decltype(&c_APEDecompress_GetData)>("c_APEDecompress_GetData");
    decltype(&c_APEDecompress_Seek) seek = get<decltype(&c_APEDecompress_Seek)>("c_APEDecompress_Seek");
    decltype(&c_APEDecompress_GetInfo) info = get<decltype(&c_APEDecompress_GetInfo)>("c_APEDecompress_GetInfo");
    decltype(&c_APEDecompress_GetTag) getTag = get<decltype(&c_APEDecompress_GetTag)>("c_APEDecompress_GetTag");
    decltype(&c_APETag_GetFieldSize) fieldSize = get<decltype(&c_APETag_GetFieldSize)>("c_APETag_GetFieldSize");
    decltype(&c_APETag_GetFieldData) fieldData = get<decltype(&c_APETag_GetFieldData)>("c_APETag_GetFieldData");
    ~Codec()
    {
        if (module)
            FreeLibrary(module);
    }
};

std::vector<char> decodeAll(Codec& codec, APE_DECOMPRESS_HANDLE h, int chunk)
{
    const int align = codec.info(h, APE_INFO_BLOCK_ALIGN, 0, 0);
    std::vector<char> pcm, buffer(std::size_t(chunk) * std::size_t(align));
    for (;;) {
        int delivered = -1;
        EXPECT_EQ(codec.getData(h, buffer.data(), chunk, &delivered), 0);
        if (delivered <= 0)
            break;
        pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(delivered) * align);
    }
    return pcm;
}

std::string md5Of(const std::vector<char>& bytes)
{
    ape::Md5 md5;
    md5.update(bytes.data(), bytes.size());
    return ape::Md5::hex(md5.finish());
}

} // namespace

TEST(MACDllC, ExportsAllTenFunctionsByUndecoratedName)
{
    Codec codec;
    ASSERT_NE(codec.module, nullptr);
    for (void* f : {(void*)codec.version, (void*)codec.compatibility, (void*)codec.create, (void*)codec.destroy,
                    (void*)codec.getData, (void*)codec.seek, (void*)codec.info, (void*)codec.getTag,
                    (void*)codec.fieldSize, (void*)codec.fieldData})
        EXPECT_NE(f, nullptr);
    EXPECT_EQ(codec.compatibility(3970, 1, nullptr), 0);
    EXPECT_NE(codec.compatibility(4000, 1, nullptr), 0);
}

TEST(MACDllC, DecodesRealFilesBitExactlyAndSeeksToExactBlocks)
{
    Codec codec;
    ASSERT_NE(codec.module, nullptr);
    struct Case {
        const char* file;
        const char* md5;
    };
    for (Case c : {Case{"atl-ape.ape", "b0954b7a4dcffd524f507c8d54a77c73"},
                   Case{"atl-v394.ape", "b0954b7a4dcffd524f507c8d54a77c73"},
                   Case{"musicmetadata-tagged-36items.ape", "666a89e0fcc4bfccefe7a3c247ff6e1a"},
                   Case{"waxflow-noise-c4000-s24.ape", "d41ec4014931a29e0b101a120c6322c5"}}) {
        SCOPED_TRACE(c.file);
        int error = -1;
        APE_DECOMPRESS_HANDLE h = codec.create(realFile(c.file).c_str(), &error);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(error, 0);
        auto whole = decodeAll(codec, h, 3000);
        EXPECT_EQ(md5Of(whole), c.md5);
        const int align = codec.info(h, APE_INFO_BLOCK_ALIGN, 0, 0);
        const int total = codec.info(h, APE_INFO_TOTAL_BLOCKS, 0, 0);
        for (int block : {total / 3, total - 1, 73728, 5}) {
            if (block >= total)
                continue;
            ASSERT_EQ(codec.seek(h, block), 0);
            EXPECT_EQ(codec.info(h, APE_INFO_CURRENT_BLOCK, 0, 0), block);
            std::vector<char> part(std::size_t(align) * 2);
            int delivered = -1;
            ASSERT_EQ(codec.getData(h, part.data(), 2, &delivered), 0);
            ASSERT_GE(delivered, 1);
            EXPECT_TRUE(std::equal(part.begin(), part.begin() + delivered * align,
                                   whole.begin() + std::ptrdiff_t(block) * align));
        }
        EXPECT_EQ(codec.seek(h, total + 1), APE_ERROR_BAD_PARAMETER);
        codec.destroy(h);
    }
}

TEST(MACDllC, BadFilesGiveErrorCodesAndNullHandles)
{
    Codec codec;
    ASSERT_NE(codec.module, nullptr);
    for (const char* file : {"exiftool-APE.ape", "taglib-zerodiv.ape", "does-not-exist.ape"}) {
        int error = 0;
        EXPECT_EQ(codec.create(realFile(file).c_str(), &error), nullptr) << file;
        EXPECT_NE(error, 0) << file;
    }
}

TEST(MACDllC, TagAndPositionReadsWhileAnotherThreadDecodesStayConsistent)
{
    Codec codec;
    ASSERT_NE(codec.module, nullptr);
    int error = -1;
    APE_DECOMPRESS_HANDLE h = codec.create(realFile("taglib-mac-399-tagged.ape").c_str(), &error);
    ASSERT_NE(h, nullptr);
    APE_TAG_HANDLE tag = codec.getTag(h, &error);
    ASSERT_EQ(error, 0);
    const int total = codec.info(h, APE_INFO_TOTAL_BLOCKS, 0, 0);
    const int size = codec.fieldSize(tag, "Artist");
    ASSERT_GT(size, 0);
    std::string artist(std::size_t(size), '\0');
    int capacity = size;
    ASSERT_EQ(codec.fieldData(tag, "ARTIST", artist.data(), &capacity), 0);

    std::atomic<bool> done{false};
    auto reader = std::async(std::launch::async, [&] {
        bool consistent = true;
        int last = 0;
        while (!done.load()) {
            int block = codec.info(h, APE_INFO_CURRENT_BLOCK, 0, 0);
            consistent &= block >= last && block <= total;
            last = block;
            std::string value(std::size_t(size), '\0');
            int cap = size;
            consistent &= codec.fieldData(tag, "artist", value.data(), &cap) == 0 && value == artist;
            consistent &= codec.fieldSize(tag, "NoSuchField") == -1;
        }
        return consistent;
    });
    std::string md5 = md5Of(decodeAll(codec, h, 1000));
    done = true;
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_TRUE(reader.get());
    EXPECT_EQ(md5, "cfe3d9dabadeab2cbf2ca235274b7f76");
    codec.destroy(h);
}
