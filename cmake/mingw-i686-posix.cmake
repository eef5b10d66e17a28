# The integration and conformance tests for the shipped 32-bit programs, with the stand-ins
# they start. GoogleTest needs std::mutex, which only the POSIX thread model provides; the
# shipped executables themselves come from mingw-i686.cmake and are started as built there.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(TOOLCHAIN_THREADS -posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
