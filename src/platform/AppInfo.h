#pragma once
// The program's name and version (the project's version, one place for the title, the
// package and --version); shown joined without a separator. Here at the bottom so that
// the splash window (widgets) and the shell read the same values.
#include "tv_build_config.h"

inline constexpr char kAppName[] = "TarviVideo5X";
inline constexpr char kAppVersion[] = TV_VERSION;
