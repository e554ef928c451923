# Cross build for 64-bit Windows with Debian's mingw-w64 (package
# g++-mingw-w64-x86-64-posix). The "-posix" compilers use winpthreads and so
# have std::thread and std::mutex; the default "-win32" ones do not.
#
#   cmake -S cross-build-win32-serial -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The whole program chain-loads it from Qt's toolchain file
# (scripts/build-windows.sh).
#
# Test programs run under wine (CMAKE_CROSSCOMPILING_EMULATOR), so ctest works
# unchanged in the cross build directory.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZRM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZRM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZRM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZRM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZRM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained executables: libgcc, libstdc++ and winpthreads linked in, so
# neither a Windows PC nor wine needs the compiler's DLLs beside them. The
# program with Qt links them as DLLs instead (-DZRM_MINGW_STATIC_RUNTIME=OFF):
# Qt's DLLs use those, and one C++ runtime per process is what exceptions and
# memory crossing a DLL boundary need.
if(NOT DEFINED ZRM_MINGW_STATIC_RUNTIME OR ZRM_MINGW_STATIC_RUNTIME)
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endif()

find_program(ZRM_WINE NAMES wine64 wine)
if(ZRM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZRM_WINE})
endif()
