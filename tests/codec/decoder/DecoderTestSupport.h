// Shared helpers of the decoder tests: the real sample files and what ffmpeg
// made of them (EXPECTED.tsv), whole-file decoding and MD5 of PCM.
#pragma once

#include "decoder/Decompressor.h"
#include "decoder/FileByteSource.h"
#include "decoder/MemoryByteSource.h"
#include "format/Md5.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace apetest {

inline std::string realFile(const std::string& name)
{
    return std::string(APE_REAL_DIR) + "/" + name;
}

struct Expected {
    std::string file;
    int version = 0;
    int channels = 0;
    int bits = 0;
    std::uint64_t totalBlocks = 0;
    std::uint64_t decodedBlocks = 0;
    std::string md5; // "-" when ffmpeg decoded nothing
    bool good() const { return decodedBlocks == totalBlocks && md5 != "-"; }
};

inline std::vector<Expected> expectedFiles()
{
    std::ifstream in(realFile("EXPECTED.tsv"));
    std::vector<Expected> rows;
    std::string line;
    std::getline(in, line); // column names
    while (std::getline(in, line)) {
        std::vector<std::string> col;
        std::stringstream ss(line);
        for (std::string c; std::getline(ss, c, '\t');)
            col.push_back(c);
        if (col.size() < 14)
            continue;
        Expected e;
        e.file = col[0];
        e.version = std::stoi(col[1]);
        e.channels = std::stoi(col[3]);
        e.bits = std::stoi(col[5]);
        e.totalBlocks = std::stoull(col[8]);
        e.decodedBlocks = std::stoull(col[9]);
        e.md5 = col[13];
        rows.push_back(e);
    }
    return rows;
}

inline std::vector<std::uint8_t> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::unique_ptr<ape::Decompressor> openFile(const std::string& path)
{
    return ape::Decompressor::open(std::make_unique<ape::FileByteSource>(path));
}

// Decodes from the current position to the end in calls of `chunk` blocks;
// `error` receives the first non-zero code (decoding stops there).
inline std::vector<std::uint8_t> decodeRest(ape::Decompressor& d, std::uint32_t chunk, int* error = nullptr)
{
    const std::uint32_t align = std::uint32_t(d.container().blockAlign());
    std::vector<std::uint8_t> pcm, buffer(std::size_t(chunk) * align);
    int rc = 0;
    for (;;) {
        std::uint32_t got = 0;
        rc = d.getData(buffer.data(), chunk, &got);
        pcm.insert(pcm.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(std::size_t(got) * align));
        if (rc != 0 || got == 0)
            break;
    }
    if (error)
        *error = rc;
    return pcm;
}

// ffmpeg's whole-file decode of `file`, single-threaded, as raw PCM in
// `format` (u8, s16le or s24le); empty when ffmpeg cannot be run.
inline std::vector<std::uint8_t> ffmpegDecode(const std::string& file, const std::string& format)
{
    std::string command = "ffmpeg -nostdin -v quiet -threads 1 -i '" + file + "' -f " + format + " -";
    std::vector<std::uint8_t> out;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return out;
    std::uint8_t buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.insert(out.end(), buffer, buffer + n);
    pclose(pipe);
    return out;
}

inline std::string md5Of(const std::vector<std::uint8_t>& bytes)
{
    ape::Md5 md5;
    md5.update(bytes.data(), bytes.size());
    return ape::Md5::hex(md5.finish());
}

} // namespace apetest
