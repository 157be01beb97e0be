#pragma once

#include <string>

#include <windows.h>

namespace oryx {

// Texts for GUIDs and HRESULTs in messages. `symbolic` asks for a readable
// name where one is known; otherwise, and always with `symbolic` false, the
// braced registry form ({E436EB83-524F-11CE-9F53-0020AF0BA770}).
std::string guidName(const GUID& guid, bool symbolic);

// "HRESULT value <hex>" unless a name is known for `hr`.
std::string describeHRESULT(HRESULT hr);

} // namespace oryx
