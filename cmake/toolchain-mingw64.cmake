# Cross-building the Windows x64 library with MinGW-w64 (the posix thread model: std::thread and
# std::mutex). Tools built for the target run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VELQUORA_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
