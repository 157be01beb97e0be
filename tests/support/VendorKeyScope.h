#pragma once

#include <string>

#include <windows.h>

#include "support/VendorKey.h"

// Gives a test the vendor key to itself: removes whatever an earlier run
// left and removes what the test wrote when the scope ends. Uses the
// platform's own tree deletion, so cleaning up never depends on the code
// under test. CTest runs every test that touches the vendor key under one
// resource lock, so no other process sees it half-written.
class VendorKeyScope {
public:
    VendorKeyScope() { clear(); }
    ~VendorKeyScope() { clear(); }
    VendorKeyScope(const VendorKeyScope&) = delete;
    VendorKeyScope& operator=(const VendorKeyScope&) = delete;

    static void clear() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, oryx::vendorKey::keyName); }
};
