# Cross-building tarvo for 64-bit Windows with mingw-w64 (Debian:
# g++-mingw-w64-x86-64-posix). The posix flavour of the compiler is the one
# with std::thread, std::mutex and std::condition_variable.
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DTARVO_WITH_QT=OFF
#
# The Qt panel is not part of this build: Debian ships no Qt for Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVO_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry their C and C++ run-time libraries (libgcc, libstdc++,
# winpthread) inside, so a single .exe runs on a Windows machine, or under
# wine, without the mingw DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
