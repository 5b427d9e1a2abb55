# wmi.dll exports exactly the ten entry points, undecorated, and imports only system DLLs:
# cmake -DOBJDUMP=<triple>-objdump -DLIBRARY=<dll> -P check_dll_tables.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT EXISTS "${LIBRARY}")
    message(FATAL_ERROR "${LIBRARY} does not exist (make windows builds it)")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}")
endif()

# The name pointer table lists every exported name once: "\t[   0] GetApiLevel".
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(.*)" tail "${listing}")
set(exported "")
string(REGEX MATCHALL "[^\n]+" lines "${CMAKE_MATCH_1}")
foreach(line ${lines})
    if(NOT line MATCHES "^\t\\[ *[0-9]+\\] (.+)$")
        break()
    endif()
    list(APPEND exported ${CMAKE_MATCH_1})
endforeach()
list(SORT exported)
set(expected CleanupModule CreateSensorInstance DestroySensorInstance ExecuteCheck
    ExecuteMetaScan ExecuteSensorScan GetApiLevel GetModuleInformation GetModuleInformationSync
    InitializeModule)
if(NOT exported STREQUAL expected)
    message(FATAL_ERROR "${LIBRARY} exports:\n  ${exported}\nexpected exactly:\n  ${expected}")
endif()

# No export by ordinal alone either: the address table holds exactly the ten.
if(NOT listing MATCHES "\tExport Address Table[ \t]+0000000a\n")
    message(FATAL_ERROR "${LIBRARY}: the export address table does not hold exactly ten entries")
endif()

# Any other import (libstdc++-6.dll, libgcc_s_*.dll, libwinpthread-1.dll) would have to ship
# beside the module.
set(system_dlls advapi32.dll bcrypt.dll crypt32.dll kernel32.dll msvcrt.dll ntdll.dll
    secur32.dll user32.dll ws2_32.dll mswsock.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${listing}")
if(NOT imports)
    message(FATAL_ERROR "${LIBRARY}: no import table found")
endif()
foreach(entry ${imports})
    string(REPLACE "DLL Name: " "" name "${entry}")
    string(TOLOWER "${name}" name)
    if(NOT name IN_LIST system_dlls AND NOT name MATCHES "^api-ms-win-")
        message(FATAL_ERROR "${LIBRARY} imports ${name}, which is not a system DLL")
    endif()
endforeach()
message(STATUS "${LIBRARY}: exactly the ten entry points; imports ${imports}")
