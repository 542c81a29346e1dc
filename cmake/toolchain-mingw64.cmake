# Cross-building for 64-bit Windows with Debian's mingw-w64 (posix threads,
# so that std::thread and std::mutex work):
#   cmake --preset windows-cross
# Programs without Qt are linked statically, so they run without the
# compiler's DLLs beside them; Qt programs use those DLLs, as Qt does, and get
# them copied beside them (cmake/windows_cross.cmake, read after project()).
# The tests run under Wine (cmake/wine-run.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(BR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${BR_MINGW_PREFIX}-windres)

# Libraries, headers and packages come from the mingw-w64 tree only; programs
# run during the build come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${BR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config must not hand out the host's Linux libraries either.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${BR_MINGW_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Qt for mingw-w64, the runtime each program links and the deploy step.
set(CMAKE_PROJECT_batchreplace_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/windows_cross.cmake)

# Test programs (and anything else run for the target) run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

# GCC 12 reports overlapping copies inside libstdc++'s std::string
# concatenation at -O2 that cannot happen (GCC bug 105329); only this cross
# compiler inlines far enough to see them.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
