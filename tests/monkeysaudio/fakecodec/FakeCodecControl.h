#pragma once

// Shared between the fake codec libraries and the tests that drive them. A
// test reaches the loaded fake's control block through its extra export
// FakeCodecControl; the block starts out describing a sound codec and a
// stereo 16-bit file of fakeTotalBlocks blocks at 44,100 Hz.

constexpr int fakeTotalBlocks = 5000;
constexpr int fakeSampleRate = 44100;
constexpr int fakeBlockAlign = 4; // bytes per block: two 16-bit channels

struct FakeCodecControl {
    // What the fake answers; 0 means success for the error codes.
    int createError = 0;
    int seekResult = 0;
    int getDataResult = 0;
    int tagError = 0;
    bool negativeDelivered = false; // GetData reports -1 blocks delivered
    int sampleRate = fakeSampleRate;

    // What the fake was asked.
    int getDataCalls = 0;
    int openFiles = 0;
    unsigned lastSeekBlock = 0;
    char events[512] = {}; // "create <name>;" and "destroy <name>;" in call order
};

using FakeCodecControlFunction = FakeCodecControl*(__stdcall*)();
