/* Entry points of the engine module's ping component. Plain C: integers and pointers only. */
#ifndef CORVANE20_H
#define CORVANE20_H

#include <stdint.h>

#if defined(_WIN32)
#define CORVANE_API __declspec(dllexport)
#else
#define CORVANE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t (*CorvaneEventCallback)(void* context, int32_t event, int32_t count,
                                        intptr_t* params, int32_t* lengths);

CORVANE_API int32_t Corvane_Ping_StaticInit(void* module);
CORVANE_API int32_t Corvane_Ping_StaticDestroy(void);
CORVANE_API void* Corvane_Ping_Create(CorvaneEventCallback callback, void* context,
                                      const char* reserved, int32_t options);
CORVANE_API int32_t Corvane_Ping_Destroy(void* ping);
CORVANE_API int32_t Corvane_Ping_CheckIndex(void* ping, int32_t property, int32_t index);
CORVANE_API intptr_t Corvane_Ping_Get(void* ping, int32_t property, int32_t index, int32_t* length,
                                      int64_t reserved);
CORVANE_API int32_t Corvane_Ping_Set(void* ping, int32_t property, int32_t index, intptr_t value,
                                     int32_t length);
CORVANE_API int32_t Corvane_Ping_Do(void* ping, int32_t method, int32_t count, intptr_t* params,
                                    int32_t* lengths, int64_t reserved);
CORVANE_API const char* Corvane_Ping_GetLastError(void* ping);
CORVANE_API int32_t Corvane_Ping_GetLastErrorCode(void* ping);
CORVANE_API int32_t Corvane_Ping_SetLastErrorAndCode(void* ping, int32_t code, const char* text);
CORVANE_API const char* Corvane_Ping_GetEventError(void* ping);
CORVANE_API int32_t Corvane_Ping_GetEventErrorCode(void* ping);
CORVANE_API int32_t Corvane_Ping_SetEventErrorAndCode(void* ping, int32_t code, const char* text);
CORVANE_API intptr_t Corvane_EvtStr(void* record, int32_t operation, void* value, int32_t form);
CORVANE_API intptr_t Corvane_Stream(void* stream, int32_t operation, void* param, int32_t length);

/* Property identifiers. */
#define CORVANE_PING_VERSION_TAG 0
#define CORVANE_PING_ACTIVE 1
#define CORVANE_PING_IDLE 2
#define CORVANE_PING_LOCAL_HOST 3
#define CORVANE_PING_PACKET_SIZE 4
#define CORVANE_PING_REMOTE_HOST 5
#define CORVANE_PING_REQUEST_ID 6
#define CORVANE_PING_RESPONSE_SOURCE 7
#define CORVANE_PING_RESPONSE_TIME 8
#define CORVANE_PING_TIMEOUT 9
#define CORVANE_PING_TIME_TO_LIVE 10
#define CORVANE_PING_TYPE_OF_SERVICE 11
#define CORVANE_PING_CODE_PAGE_ID 2010

/* Method identifiers. */
#define CORVANE_PING_CONFIG 2
#define CORVANE_PING_DO_EVENTS 3
#define CORVANE_PING_INTERRUPT 4
#define CORVANE_PING_PING_HOST 5
#define CORVANE_PING_RESET 6
#define CORVANE_PING_WAKE_ON_LAN 7
#define CORVANE_PING_CONVERT_TO_WIDE 2003

/* Event identifiers. */
#define CORVANE_PING_EVENT_ERROR 1
#define CORVANE_PING_EVENT_RESPONSE 2

/* Identifier offsets selecting the UTF-16 or the byte form of strings. */
#define CORVANE_WIDE_ID_OFFSET 10000
#define CORVANE_BYTE_ID_OFFSET 20000

/* Options of Corvane_Ping_Create. */
#define CORVANE_OPTION_WIDE_EVENTS 1

#ifdef __cplusplus
}
#endif

#endif /* CORVANE20_H */
