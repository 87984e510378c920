# Cross-build of test programs for 64-bit Windows (package g++-mingw-w64-x86-64-posix):
# the x64 toolchain with the posix thread-model compiler, whose C++ library has
# std::mutex and std::thread, linked statically so the programs need no runtime DLLs.
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-x86_64-w64-mingw32.cmake)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Libraries and headers of hosts installed outside the mingw-w64 root are found too.
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
