// apeenc as a user runs it: bad input gives one line on stderr, a non-zero
// exit and no output file (an existing one is left alone); good input gives
// a file that ffmpeg decodes to the WAV's samples, with the tags on it.

#include "SignalGenerator.h"
#include "TestWav.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace ape {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int exitCode;
    std::string stderrText;
};

std::string quoted(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string readText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class ApeencTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::current_path() / "apeenc_tool_test" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir);
        fs::create_directories(dir);
    }

    // `timeout` bounds every child so that a hang fails the test instead.
    ToolRun run(const std::string& arguments)
    {
        const fs::path err = dir / "stderr.txt";
        const std::string command =
            "timeout 60 " + quoted(APEENC_PATH) + " " + arguments + " 2>" + quoted(err.string());
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readText(err)};
    }

    void expectRefused(const std::vector<std::uint8_t>& wav, const std::string& what)
    {
        SCOPED_TRACE(what);
        const fs::path in = dir / "in.wav";
        const fs::path out = dir / "out.ape";
        writeBytes(in, wav);
        fs::remove(out);
        const ToolRun result = run(quoted(in.string()) + " " + quoted(out.string()));
        EXPECT_NE(result.exitCode, 0);
        ASSERT_FALSE(result.stderrText.empty());
        EXPECT_EQ(result.stderrText.find('\n'), result.stderrText.size() - 1) << result.stderrText;
        EXPECT_FALSE(fs::exists(out));
        EXPECT_FALSE(fs::exists(dir / "out.ape.partial"));
    }

    fs::path dir;
};

TEST_F(ApeencTool, BadInputGivesOneLineANonZeroExitAndNoOutput)
{
    using test::formatChunkBody;
    using test::pcmWav;
    using test::riffWave;
    expectRefused({'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v'}, "not a WAV");
    expectRefused(riffWave({{"fmt ", formatChunkBody(3, 2, 44100, 32)}, {"data", std::vector<std::uint8_t>(16)}}),
                  "floating point");
    expectRefused(pcmWav(2, 44100, 32, std::vector<std::uint8_t>(16)), "32-bit integer");
    expectRefused(pcmWav(3, 44100, 16, std::vector<std::uint8_t>(12)), "three channels");
    const std::vector<std::uint8_t> whole = pcmWav(2, 44100, 16, std::vector<std::uint8_t>(4000, 1));
    expectRefused(std::vector<std::uint8_t>(whole.begin(), whole.end() - 10), "truncated data");
    expectRefused(std::vector<std::uint8_t>(whole.begin(), whole.begin() + 30), "truncated header");
    expectRefused(pcmWav(2, 44100, 16, {}), "no samples");
}

TEST_F(ApeencTool, BadArgumentsAreRefusedWithoutTouchingAnExistingOutput)
{
    const fs::path in = dir / "in.wav";
    const fs::path out = dir / "out.ape";
    writeBytes(in, test::pcmWav(1, 8000, 8, std::vector<std::uint8_t>(100, 128)));
    writeBytes(out, {'k', 'e', 'e', 'p'});
    const std::string files = quoted(in.string()) + " " + quoted(out.string());
    for (const std::string& options :
         {std::string("--level 2500"), std::string("--level fast"), std::string("--format-version 3800"),
          std::string("--tag NoEquals"), std::string("--tag ID3=x"), std::string("--bogus")}) {
        const ToolRun result = run(options + " " + files);
        EXPECT_NE(result.exitCode, 0) << options;
        EXPECT_FALSE(result.stderrText.empty()) << options;
        EXPECT_EQ(readText(out), "keep") << options;
    }
    EXPECT_NE(run(quoted((dir / "missing.wav").string()) + " " + quoted(out.string())).exitCode, 0);
    EXPECT_EQ(readText(out), "keep");

    // The usage ends its last line, so a message printed after it starts on its own.
    const fs::path usage = dir / "usage.txt";
    const ToolRun help = run("--help >" + quoted(usage.string()));
    EXPECT_EQ(help.exitCode, 0);
    const std::string text = readText(usage);
    EXPECT_EQ(text.rfind("usage: apeenc", 0), 0u) << text;
    EXPECT_EQ(text.back(), '\n') << text;
    EXPECT_EQ(text.find("\n\n"), std::string::npos) << text;
}

TEST_F(ApeencTool, OutputDecodesWithFfmpegToTheWavSamplesAndCarriesTheTags)
{
    SignalGenerator generator(24, 2, 48000, 2);
    std::vector<std::int32_t> samples = generator.generate(Signal::music, 30000);
    for (std::int32_t& s : samples)
        s >>= 4; // well inside the range where every decoder agrees
    const std::vector<std::uint8_t> pcm = generator.pack(samples);
    const fs::path in = dir / "in.wav";
    const fs::path out = dir / "out.ape";
    writeBytes(in, test::pcmWav(2, 48000, 24, pcm));

    for (const char* version : {"3990", "3930"}) {
        SCOPED_TRACE(version);
        const ToolRun result =
            run(std::string("--level 4000 --format-version ") + version +
                " --tag Artist=Ensemble --tag 'Title=\xC3\x89tude' --tag 'File URL=https://example.org/x' " +
                quoted(in.string()) + " " + quoted(out.string()));
        ASSERT_EQ(result.exitCode, 0) << result.stderrText;
        EXPECT_TRUE(result.stderrText.empty());

        const fs::path decoded = dir / "decoded.pcm";
        const fs::path errors = dir / "ffmpeg.txt";
        const std::string decode = "timeout 60 " + quoted(FFMPEG_PATH) +
                                   " -nostdin -v error -err_detect crccheck+explode -i " + quoted(out.string()) +
                                   " -f s24le -y " + quoted(decoded.string()) + " 2>" + quoted(errors.string());
        EXPECT_EQ(std::system(decode.c_str()), 0);
        EXPECT_EQ(readText(errors), "");
        const std::string expected(pcm.begin(), pcm.end());
        EXPECT_TRUE(readText(decoded) == expected);

        const fs::path tags = dir / "tags.txt";
        const std::string probe = "timeout 60 " + quoted(FFPROBE_PATH) +
                                  " -v error -show_entries format_tags -of default=nw=1 " + quoted(out.string()) +
                                  " >" + quoted(tags.string());
        EXPECT_EQ(std::system(probe.c_str()), 0);
        const std::string shown = readText(tags);
        EXPECT_NE(shown.find("TAG:Artist=Ensemble"), std::string::npos) << shown;
        EXPECT_NE(shown.find("TAG:Title=\xC3\x89tude"), std::string::npos) << shown;
        EXPECT_NE(shown.find("TAG:File URL=https://example.org/x"), std::string::npos) << shown;
    }
}

} // namespace
} // namespace ape
