#pragma once

// The ten entry points of the module: the only symbols it exports. C linkage, caller-cleans
// calling convention, plain undecorated names, so a host in any language can bind them.
#include <stdint.h>

#if defined(_WIN32)
#if defined(WMI_BUILDING)
#define WMI_EXPORT __declspec(dllexport)
#else
// Hosts bind by GetProcAddress or the import library; in-process tests link the code itself.
#define WMI_EXPORT
#endif
#define WMI_CALL __cdecl
#else
#define WMI_EXPORT __attribute__((visibility("default")))
#define WMI_CALL
#endif

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

// Receives every message: context as given to InitializeModule, then one serialised message
// (UTF-8 JSON, not zero-terminated) that is valid only during the call.
typedef void(WMI_CALL* wmi_host_callback)(uint64_t context, void* data, unsigned int size);

WMI_EXPORT int WMI_CALL GetApiLevel(void);
WMI_EXPORT int WMI_CALL InitializeModule(uint64_t context, wmi_host_callback callback);
WMI_EXPORT void WMI_CALL GetModuleInformation(bool include_text);
WMI_EXPORT int WMI_CALL GetModuleInformationSync(char* buffer, unsigned int* size,
                                                 bool include_text);
WMI_EXPORT int WMI_CALL CreateSensorInstance(int sensor_id, const void* data, unsigned int size);
WMI_EXPORT int WMI_CALL DestroySensorInstance(int sensor_id);
WMI_EXPORT int WMI_CALL ExecuteSensorScan(int sensor_id);
WMI_EXPORT int WMI_CALL ExecuteMetaScan(int sensor_id, unsigned int request, const void* data,
                                        unsigned int size);
WMI_EXPORT int WMI_CALL ExecuteCheck(int sensor_id, const void* data, unsigned int size);
WMI_EXPORT int WMI_CALL CleanupModule(void);

#ifdef __cplusplus
}
#endif
