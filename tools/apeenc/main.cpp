// apeenc: encodes a PCM WAV file as an .ape file, for tests and
// demos. The output appears complete or not at all: it is written under a
// temporary name and renamed only once everything succeeded.

#include "encoder/ApeEncoder.h"
#include "encoder/ApeTagWriter.h"
#include "encoder/EncodeError.h"
#include "Utf8Arguments.h"
#include "WavReader.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: apeenc [--help] [--level N] [--tag KEY=VALUE]... [--format-version V] [--blocks-per-frame N]\n"
    "              [--stereo-width strict|portable|ffmpeg51] INPUT.wav OUTPUT.ape\n";

struct UsageError {
    std::string message;
};

struct Arguments {
    ape::EncoderOptions options;
    ape::ApeTagWriter tag;
    std::string input;
    std::string output;
    bool helpWanted = false;
};

unsigned long parseNumber(const std::string& option, const std::string& text)
{
    std::size_t used = 0;
    unsigned long value = 0;
    try {
        value = std::stoul(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size())
        throw UsageError{option + " needs a number, not \"" + text + "\""};
    return value;
}

Arguments parseArguments(const std::vector<std::string>& argv)
{
    Arguments args;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < argv.size(); ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argv.size())
                throw UsageError{arg + " needs a value"};
            return argv[++i];
        };
        if (arg == "--help") {
            args.helpWanted = true;
        } else if (arg == "--level") {
            args.options.level = unsigned(parseNumber(arg, value()));
        } else if (arg == "--format-version") {
            args.options.version = unsigned(parseNumber(arg, value()));
        } else if (arg == "--blocks-per-frame") {
            args.options.blocksPerFrame = std::uint32_t(parseNumber(arg, value()));
        } else if (arg == "--stereo-width") {
            const std::string rule = value();
            if (rule == "strict")
                args.options.widthPolicy = ape::WidthPolicy::strict;
            else if (rule == "portable")
                args.options.widthPolicy = ape::WidthPolicy::portable;
            else if (rule == "ffmpeg51")
                args.options.widthPolicy = ape::WidthPolicy::ffmpeg51;
            else
                throw UsageError{"--stereo-width is strict, portable or ffmpeg51, not \"" + rule + "\""};
        } else if (arg == "--tag") {
            const std::string item = value();
            const std::size_t equals = item.find('=');
            if (equals == std::string::npos)
                throw UsageError{"--tag needs KEY=VALUE, not \"" + item + "\""};
            args.tag.addText(item.substr(0, equals), item.substr(equals + 1));
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option " + arg};
        } else {
            files.push_back(arg);
        }
    }
    if (args.helpWanted)
        return args;
    if (files.size() != 2)
        throw UsageError{"expected an input and an output file"};
    args.input = files[0];
    args.output = files[1];
    return args;
}

std::vector<std::uint8_t> readFile(const std::string& path)
{
    std::ifstream in(ape::pathFromUtf8(path), std::ios::binary);
    if (!in)
        throw ape::EncodeError("cannot open " + path);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw ape::EncodeError("cannot read " + path);
    return bytes;
}

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::filesystem::path path) : filePath(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile()
    {
        if (!filePath.empty()) {
            std::error_code ignored; // nothing more can be done about a failed clean-up here
            std::filesystem::remove(filePath, ignored);
        }
    }
    const std::filesystem::path& path() const { return filePath; }
    void commitAs(const std::filesystem::path& target)
    {
        std::filesystem::rename(filePath, target);
        filePath.clear();
    }

private:
    std::filesystem::path filePath;
};

void writeAtomically(const std::string& output, const std::vector<std::uint8_t>& bytes)
{
    TemporaryFile temporary(ape::pathFromUtf8(output + ".partial"));
    {
        std::ofstream out(temporary.path(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.close();
        if (!out)
            throw ape::EncodeError("cannot write " + output);
    }
    try {
        temporary.commitAs(ape::pathFromUtf8(output));
    } catch (const std::filesystem::filesystem_error& e) {
        throw ape::EncodeError("cannot write " + output + ": " + e.code().message());
    }
}

} // namespace

int main(int argc, char** argv)
{
    try {
        Arguments args = parseArguments(ape::utf8Arguments(argc, argv));
        if (args.helpWanted) {
            // Flushed before anything else can reach the terminal: a usage
            // text cut at its last line runs into the next message.
            std::cout << usage << std::flush;
            return EXIT_SUCCESS;
        }
        const std::vector<std::uint8_t> wav = readFile(args.input);
        const ape::WavReader reader(wav);
        ape::ApeEncoder encoder(reader.format(), args.options);
        std::vector<std::uint8_t> file = encoder.encode(reader.samples(), reader.header(), reader.tail());
        if (!args.tag.empty()) {
            const std::vector<std::uint8_t> tag = args.tag.bytes();
            file.insert(file.end(), tag.begin(), tag.end());
        }
        writeAtomically(args.output, file);
        return EXIT_SUCCESS;
    } catch (const UsageError& e) {
        std::cerr << "apeenc: " << e.message << " (apeenc --help shows the usage)\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "apeenc: " << e.what() << "\n";
        return EXIT_FAILURE;
    }
}
