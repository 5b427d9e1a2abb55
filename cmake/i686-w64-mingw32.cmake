# 32-bit Windows: the deliverable wmi.dll.
set(WMI_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
