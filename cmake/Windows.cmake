# What the Windows build needs beyond the shared build description.
enable_language(RC)

# 32-bit Windows: the entries of the hand-built tables are free functions with the thiscall
# convention (VELQUORA_MEMBER_CALL), which GCC applies but reports as meant for class members.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_options(-Wno-attributes)
endif()

# Static libraries only: the DLL and the test programs must start without any MinGW runtime
# DLL beside them.
add_link_options(-static -static-libgcc -static-libstdc++)
# No build time in the file header: the same sources give the same DLL.
add_link_options(-Wl,--no-insert-timestamp)
# The DLL's C++ runtime is its own, so the DLL gives back what that runtime keeps.
add_compile_definitions(VELQUORA_PRIVATE_CXX_RUNTIME)
# libzip's static library needs the crypto API (its zlib comes from the dependency prefix through
# libzip.pc, never from the build machine); cmark's headers must not ask for imports.
target_link_libraries(PkgConfig::LIBZIP INTERFACE advapi32)
target_compile_definitions(PkgConfig::CMARK INTERFACE CMARK_STATIC_DEFINE)

# Header-only JSON for the test programs that read the emulator's tables: the build machine's
# copy, without letting the rest of /usr/include into a Windows compile.
set(VELQUORA_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
if(EXISTS /usr/include/nlohmann/json.hpp)
  file(COPY /usr/include/nlohmann DESTINATION ${VELQUORA_HOST_HEADERS})
endif()
add_library(nlohmann_json_host INTERFACE)
target_include_directories(nlohmann_json_host SYSTEM INTERFACE ${VELQUORA_HOST_HEADERS})
add_library(nlohmann_json::nlohmann_json ALIAS nlohmann_json_host)

# GoogleTest built for the target from Debian's source (googletest package).
macro(velquora_windows_gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  target_compile_options(gtest PRIVATE -w)
  target_compile_options(gtest_main PRIVATE -w)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endmacro()
