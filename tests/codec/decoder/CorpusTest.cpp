// The generated corpus (every version from 3930, level, depth, channel count,
// lengths around frame boundaries): each file decodes to its source PCM, also
// after seeks to random blocks, and to exactly what the ffmpeg binary makes
// of it for one file of every format.
#include "DecoderTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <set>

using namespace apetest;

namespace {

struct CorpusFile {
    std::string name;
    int version = 0, level = 0, channels = 0, bits = 0;
    std::uint64_t blocks = 0;
};

std::vector<CorpusFile> corpus()
{
    std::ifstream in(std::string(APE_CORPUS_DIR) + "/corpus.tsv");
    std::string line;
    std::vector<CorpusFile> files;
    if (!std::getline(in, line))
        return files;
    std::map<std::string, std::size_t> column;
    {
        std::stringstream ss(line);
        std::size_t i = 0;
        for (std::string c; std::getline(ss, c, '\t');)
            column[c] = i++;
    }
    while (std::getline(in, line)) {
        std::vector<std::string> col;
        std::stringstream ss(line);
        for (std::string c; std::getline(ss, c, '\t');)
            col.push_back(c);
        if (col.size() < column.size())
            continue;
        CorpusFile f;
        f.name = col[column["name"]];
        f.version = std::stoi(col[column["version"]]);
        f.level = std::stoi(col[column["level"]]);
        f.channels = std::stoi(col[column["channels"]]);
        f.bits = std::stoi(col[column["bits"]]);
        f.blocks = std::stoull(col[column["blocks"]]);
        files.push_back(f);
    }
    return files;
}

std::string path(const CorpusFile& f, const char* extension)
{
    return std::string(APE_CORPUS_DIR) + "/" + f.name + extension;
}

// ffmpeg's whole-file decode in the file's own sample format.
std::vector<std::uint8_t> ffmpegDecode(const CorpusFile& f)
{
    return apetest::ffmpegDecode(path(f, ".ape"), f.bits == 8 ? "u8" : f.bits == 16 ? "s16le" : "s24le");
}

} // namespace

TEST(Corpus, EveryFileDecodesToItsSourcePcmAndSeeksLandOnExactBlocks)
{
    auto files = corpus();
    ASSERT_FALSE(files.empty()) << "no corpus in " << APE_CORPUS_DIR;
    std::mt19937 random(4242);
    for (const CorpusFile& f : files) {
        SCOPED_TRACE(f.name);
        auto source = readBytes(path(f, ".pcm"));
        auto d = openFile(path(f, ".ape"));
        const std::uint32_t align = std::uint32_t(d->container().blockAlign());
        ASSERT_EQ(d->totalBlocks(), f.blocks);
        int rc = -1;
        EXPECT_TRUE(decodeRest(*d, 3001, &rc) == source);
        EXPECT_EQ(rc, 0);
        for (int i = 0; i < 4; ++i) {
            std::uint64_t block = random() % (f.blocks + 1);
            ASSERT_EQ(d->seek(block), 0);
            auto rest = decodeRest(*d, 1 + random() % 5000, &rc);
            EXPECT_EQ(rc, 0);
            ASSERT_EQ(rest.size(), (f.blocks - block) * align) << "after seeking to " << block;
            EXPECT_TRUE(std::equal(rest.begin(), rest.end(), source.begin() + std::ptrdiff_t(block * align)))
                << "after seeking to " << block;
        }
    }
}

TEST(Corpus, OurDecodesAndSeeksEqualFfmpegsWholeFileDecodeForOneFileOfEveryFormat)
{
    std::set<std::tuple<int, int, int, int>> seen; // version, level, channels, bits
    std::mt19937 random(777);
    int compared = 0;
    for (const CorpusFile& f : corpus()) {
        if (!seen.insert({f.version, f.level, f.channels, f.bits}).second || f.blocks < 2)
            continue;
        SCOPED_TRACE(f.name);
        auto d = openFile(path(f, ".ape"));
        auto ours = decodeRest(*d, 1 << 16);
        auto theirs = ffmpegDecode(f);
        ASSERT_FALSE(theirs.empty()) << "ffmpeg produced nothing";
        EXPECT_TRUE(ours == theirs);
        const std::uint32_t align = std::uint32_t(d->container().blockAlign());
        for (int i = 0; i < 3; ++i) {
            std::uint64_t block = random() % f.blocks;
            ASSERT_EQ(d->seek(block), 0);
            auto rest = decodeRest(*d, 1 + random() % 5000);
            ASSERT_EQ(rest.size() + block * align, theirs.size()) << "after seeking to " << block;
            EXPECT_TRUE(std::equal(rest.begin(), rest.end(), theirs.begin() + std::ptrdiff_t(block * align)))
                << "after seeking to " << block;
        }
        ++compared;
    }
    EXPECT_GT(compared, 0);
}
