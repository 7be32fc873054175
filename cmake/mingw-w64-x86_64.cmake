# Cross-builds for 64-bit Windows with Debian's MinGW-w64, posix thread model
# (std::thread, std::mutex and friends over winpthread):
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# Programs and DLLs link libgcc, libstdc++, winpthread and every other library
# statically, so they need only Windows' own DLLs. Programs the build runs
# (tests through ctest) run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUARRIN_MINGW_TRIPLE x86_64-w64-mingw32)

# The -posix compilers: the -win32 ones have no std::thread.
find_program(CMAKE_C_COMPILER NAMES ${QUARRIN_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QUARRIN_MINGW_TRIPLE}-g++-posix REQUIRED)
set(CMAKE_ASM_COMPILER ${CMAKE_C_COMPILER})
find_program(CMAKE_RC_COMPILER NAMES ${QUARRIN_MINGW_TRIPLE}-windres REQUIRED)
# Message compiler: turns an event-message text file into a message table.
find_program(QUARRIN_WINDMC NAMES ${QUARRIN_MINGW_TRIPLE}-windmc REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARRIN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config reads the Windows libraries' .pc files (libgcrypt), not Linux's.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${QUARRIN_MINGW_TRIPLE}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Self-contained binaries: static archives are preferred to import libraries
# for everything but Windows' own DLLs, which only exist as import libraries.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Wine runs what the build runs. Its 64-bit loader itself rather than Debian's
# "wine" wrapper, which expects a 32-bit Wine as well and says so on every run.
find_program(QUARRIN_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(QUARRIN_WINE NAMES wine64 wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARRIN_WINE})
