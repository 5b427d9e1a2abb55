# Shared by the two mingw-w64 toolchain files; the including file sets WMI_MINGW_TRIPLE first.
# Debian's posix-thread-model compilers: only they have std::thread, std::mutex and friends.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${WMI_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WMI_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${WMI_MINGW_TRIPLE}-windres)

# The stage prefix holds what Debian has no mingw package for (GoogleTest, pugixml) and config
# files exposing the header-only Boost and nlohmann-json trees; `make windows-stage` fills it.
# /usr/include itself is never searched: glibc's headers break a Windows build.
set(WMI_STAGE_PREFIX ${CMAKE_CURRENT_LIST_DIR}/../build/stage/${WMI_MINGW_TRIPLE}
    CACHE PATH "Prefix with the target's GoogleTest, pugixml and header-only library configs")
set(CMAKE_FIND_ROOT_PATH /usr/${WMI_MINGW_TRIPLE} ${WMI_STAGE_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static runtime (libgcc, libstdc++, winpthread): the DLL and the test programs import only
# system DLLs, so they run anywhere without the compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
