// Shared between the Windows window layer and its resource functions.
#pragma once

#include <windows.h>

namespace plat::win {

// The module whose resources the program uses: the executable.
HINSTANCE ProgramInstance();

}  // namespace plat::win
