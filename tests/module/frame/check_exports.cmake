# Compares the dynamic symbols libwmi.so defines with the ten entry points.
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
    OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${listing}")
set(found "")
foreach(line ${lines})
    string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] +" "" name "${line}")
    list(APPEND found ${name})
endforeach()
list(SORT found)
set(expected CleanupModule CreateSensorInstance DestroySensorInstance ExecuteCheck
    ExecuteMetaScan ExecuteSensorScan GetApiLevel GetModuleInformation GetModuleInformationSync
    InitializeModule)
if(NOT found STREQUAL expected)
    message(FATAL_ERROR "libwmi.so exports:\n  ${found}\nexpected exactly:\n  ${expected}")
endif()
message(STATUS "libwmi.so exports exactly the ten entry points")
