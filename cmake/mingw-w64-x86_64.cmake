# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads).
# Programs link statically, so no MinGW DLL travels with them; test programs
# run through Wine (scripts/wine-run keeps one wineserver up for the lot).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZANDREL_MINGW x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${ZANDREL_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZANDREL_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ZANDREL_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ZANDREL_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Windows 10 APIs; UTF-8 "ANSI" texts come from the manifest, not from here.
set(CMAKE_C_FLAGS_INIT "-DWINVER=0x0A00 -D_WIN32_WINNT=0x0A00")
set(CMAKE_CXX_FLAGS_INIT "-DWINVER=0x0A00 -D_WIN32_WINNT=0x0A00")

get_filename_component(ZANDREL_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/../scripts ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${ZANDREL_SCRIPTS}/wine-run)
