#pragma once
// The program's name and version; shown joined without a separator.
inline constexpr char AppName[] = "TarviVideo5X";
inline constexpr char AppVersion[] = "1.0";
