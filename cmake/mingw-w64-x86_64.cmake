# Cross build for 64-bit Windows with Debian's mingw-w64 compiler (posix thread model), run under
# Wine. Libraries that Debian does not ship for mingw-w64 (OpenSSL, cJSON) come from the cache
# folder that tools/cross-deps fills.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KELVO_CROSS_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELVO_CROSS_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVO_CROSS_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVO_CROSS_TRIPLE}-windres)

if(NOT KELVO_CROSS_CACHE)
  if(DEFINED ENV{KELVO_CROSS_CACHE})
    set(KELVO_CROSS_CACHE "$ENV{KELVO_CROSS_CACHE}")
  else()
    set(KELVO_CROSS_CACHE /var/cache/kelvo-cross)
  endif()
endif()
# try_compile projects read this file again; hand them the same cache folder.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELVO_CROSS_CACHE KELVO_CROSS_BOOTSTRAP)

set(CMAKE_FIND_ROOT_PATH /usr/${KELVO_CROSS_TRIPLE})
if(NOT KELVO_CROSS_BOOTSTRAP)
  if(NOT EXISTS ${KELVO_CROSS_CACHE}/prefixes.cmake)
    message(FATAL_ERROR "${KELVO_CROSS_CACHE}/prefixes.cmake is missing: run tools/cross-deps first")
  endif()
  include(${KELVO_CROSS_CACHE}/prefixes.cmake)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KELVO_CROSS_OPENSSL} ${KELVO_CROSS_CJSON})
  set(OPENSSL_ROOT_DIR ${KELVO_CROSS_OPENSSL})
  set(OPENSSL_USE_STATIC_LIBS TRUE)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows 7 API level (asio needs at least Vista); the C and C++ runtimes and winpthread are
# linked statically so the programs and rizudada.dll need no mingw DLLs beside them.
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0601")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs (and gtest_discover_tests' listing of them) run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
