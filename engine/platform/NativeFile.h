#pragma once

namespace morrow {

// What the system hands out for an open file: a descriptor on POSIX, a HANDLE on Windows (kept
// as void* so that headers need not include <windows.h>). noFile stands for none.
#ifdef _WIN32
using NativeFile = void*;
inline constexpr NativeFile noFile = nullptr;
#else
using NativeFile = int;
inline constexpr NativeFile noFile = -1;
#endif

} // namespace morrow
