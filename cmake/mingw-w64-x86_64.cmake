# Cross build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix, whose
# POSIX thread model gives std::thread and std::mutex). Programs are linked statically, so an
# .exe needs no MinGW runtime DLLs beside it.
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DREADERDESK_LINK_ONLY=ON
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(READERDESK_MINGW_PREFIX x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${READERDESK_MINGW_PREFIX}-g++-posix ${READERDESK_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${READERDESK_MINGW_PREFIX}-gcc-posix ${READERDESK_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${READERDESK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${READERDESK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine on the build machine (the prefix comes from WINEPREFIX).
find_program(READERDESK_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(READERDESK_WINE NAMES wine64 wine)
if(READERDESK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${READERDESK_WINE})
endif()
