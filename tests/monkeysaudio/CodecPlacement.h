#pragma once

#include <string>
#include <vector>

#include <windows.h>

// A scratch directory that stands for the folder of the system's module: a
// small anchor module is loaded from it and recorded as `thisModule`, and
// codec libraries built by the tests are copied in beside it or into a second
// folder on the loader's search path. Everything is undone on destruction,
// `thisModule` and the search path included.
class CodecPlacement {
public:
    // `scenario` names the scratch folder; unique per test program and test.
    explicit CodecPlacement(const std::string& scenario);
    ~CodecPlacement();
    CodecPlacement(const CodecPlacement&) = delete;
    CodecPlacement& operator=(const CodecPlacement&) = delete;

    // Copies the library at `source` into the module's folder as MACDllC.dll.
    void placeBesideModule(const std::string& source);
    // Copies it into a folder of its own and puts that on the search path.
    void placeOnSearchPath(const std::string& source);

    std::string moduleDirectory() const { return directory + "\\module"; }
    std::string searchDirectory() const { return directory + "\\search"; }

    // The folder of the test program, where the test libraries are built.
    static std::string programDirectory();
    // A fake codec variant built under programDirectory()\fakecodec.
    static std::string fakeCodec(const std::string& variant);
    // The directory a loaded MACDllC.dll came from, or "" when none is loaded.
    static std::string loadedCodecDirectory();

private:
    void copy(const std::string& source, const std::string& target);

    std::string directory;
    HMODULE anchor = nullptr;
    std::vector<std::string> copies;
};
