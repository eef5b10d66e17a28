# The same sources as 64-bit Windows executables, for the integration run under Wine on
# machines whose kernel cannot execute 32-bit Linux programs (and so cannot run the
# 32-bit Wine loader).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
# GoogleTest needs std::mutex, which only the POSIX thread model provides.
set(TOOLCHAIN_THREADS -posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
