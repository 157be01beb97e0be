#pragma once

#include <windows.h>

#include "com/COMServer.h"
#include "com/FilterRegistration.h"

// What the module registers about .ape beyond its class table, and the two
// registration requests of its exports.

// The filter mapper's record of the source: normal merit, one output pin
// of PCM audio, the mapper's default category.
extern const oryx::FilterRegistration sourceFilterRegistration;

// DllRegisterServer: registers the server's class table with `module` as
// the server file, then associates .ape with the source for the platform's
// media-type detection and the media player's file types. The association
// is written even when the class table fails; the result is the first
// failure, S_OK only when everything was written.
HRESULT registerServer(const oryx::COMServer& server, HMODULE module);

// DllUnregisterServer: only on a development system (E_NOTIMPL and nothing
// changed elsewhere), removes the class keys and filter entries of the
// server's table and returns that removal's result. The .ape association
// stays.
HRESULT unregisterServer(const oryx::COMServer& server);
