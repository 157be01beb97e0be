#pragma once

// Gives a test the source's registration to itself: removes whatever an
// earlier run left of the source's class key, its filter mapper entry, the
// .ape extension key and the media player's values, and removes them again
// when the scope ends. Uses the platform's registry calls only, so cleaning
// up never depends on the code under test. CTest runs every test that
// registers the source under one resource lock.
#include <windows.h>

class SourceRegistrationScope {
public:
    static constexpr char classKey[] = "Software\\Classes\\CLSID\\{6e2b9f14-8c3d-4a57-9d21-5f0a7c3e1b92}";
    // The filter mapper files the source under its default category.
    static constexpr char filterEntry[] = "Software\\Classes\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}"
                                          "\\Instance\\{6E2B9F14-8C3D-4A57-9D21-5F0A7C3E1B92}";
    static constexpr char extensionKey[] = "Software\\Classes\\Media Type\\Extensions\\.ape";
    static constexpr char playerTypesKey[] = "Software\\Microsoft\\MediaPlayer\\Player\\Extensions\\Types";
    static constexpr char playerDescriptionsKey[] =
        "Software\\Microsoft\\MediaPlayer\\Player\\Extensions\\Descriptions";
    static constexpr char playerValue[] = "{3F8E6A52-B1C4-4D09-A7E6-9C2D5B180F4E}";

    SourceRegistrationScope() { clear(); }
    ~SourceRegistrationScope() { clear(); }
    SourceRegistrationScope(const SourceRegistrationScope&) = delete;
    SourceRegistrationScope& operator=(const SourceRegistrationScope&) = delete;

    static void clear()
    {
        for (const char* key : {classKey, filterEntry, extensionKey})
            RegDeleteTreeA(HKEY_LOCAL_MACHINE, key);
        for (const char* key : {playerTypesKey, playerDescriptionsKey})
            RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, key, playerValue);
    }
};
