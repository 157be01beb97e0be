#pragma once

#include <string>

#include <windows.h>

namespace oryx {

// Texts for GUIDs and HRESULTs in messages. `symbolic` asks for a readable
// name where one is known (the developer's name file, the multimedia
// manufacturer, product and FOURCC patterns, the registered interfaces and
// classes); otherwise, and always with `symbolic` false, the braced registry
// form ({E436EB83-524F-11CE-9F53-0020AF0BA770}) without touching any table
// or the registry.
std::string guidName(const GUID& guid, bool symbolic);

// The developer's name for `hr`, else "HRESULT value <hex>".
std::string describeHRESULT(HRESULT hr);

// Whether the vendor key marks this machine as a developer's. Never raises:
// anything unreadable counts as no.
bool isDevelopmentSystem();

} // namespace oryx
