#pragma once

#include <windows.h>

// The system's own module, recorded by the module's entry point at process
// attach; null in a program that links the system's code directly. Used to
// find the module's file and directory.
extern HMODULE thisModule;
