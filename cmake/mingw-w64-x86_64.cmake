# Cross-builds Morrow for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The programs are linked statically (libstdc++, libgcc, winpthread, zlib), so they run from any
# folder without DLLs beside them. Built programs that CMake or CTest run go through
# scripts/wine-run, which starts them under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MORROW_MINGW_TRIPLET x86_64-w64-mingw32)

# The posix flavour: std::thread and friends through winpthread.
set(CMAKE_C_COMPILER ${MORROW_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORROW_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MORROW_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MORROW_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
