# 32-bit x86 Linux on a 64-bit Debian machine (Debian's g++-multilib): int,
# long, pointers and size_t of 4 bytes and the i386 alignment rules, the
# closest a Linux machine comes to the 32-bit Windows DLL's own target.
#   cmake -S . -B build/i386 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i386.cmake
# SSE2 arithmetic as in the 32-bit Windows build (cmake/mingw-i686.cmake).
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# The system's GoogleTest libraries are 64-bit: build its sources instead.
set(CA410_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build with the tests")
