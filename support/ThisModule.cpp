#include "support/ThisModule.h"

HMODULE thisModule = nullptr;
