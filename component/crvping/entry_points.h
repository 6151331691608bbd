// Unit crvping: the process-wide table of the engine's entry points, bound from the
// engine image the program carries as its resource "CORVANE20_DTA".
#pragma once

#include <cstdint>

#include "engine/core/corvane20.h"

namespace crv {

// Fourteen slots in binding order; each is null until bound.
struct EntryPointTable {
    decltype(&Corvane_EvtStr) EvtStr;
    decltype(&Corvane_Stream) Stream;
    decltype(&Corvane_Ping_Create) Create;
    decltype(&Corvane_Ping_Destroy) Destroy;
    decltype(&Corvane_Ping_Set) Set;
    decltype(&Corvane_Ping_Get) Get;
    decltype(&Corvane_Ping_GetLastError) GetLastError;
    decltype(&Corvane_Ping_GetLastErrorCode) GetLastErrorCode;
    decltype(&Corvane_Ping_SetLastErrorAndCode) SetLastErrorAndCode;
    decltype(&Corvane_Ping_GetEventError) GetEventError;
    decltype(&Corvane_Ping_GetEventErrorCode) GetEventErrorCode;
    decltype(&Corvane_Ping_SetEventErrorAndCode) SetEventErrorAndCode;
    decltype(&Corvane_Ping_CheckIndex) CheckIndex;
    decltype(&Corvane_Ping_Do) Do;
};

// The export names of the slots, in the same order.
inline constexpr const char* kEntryPointNames[] = {
    "Corvane_EvtStr",
    "Corvane_Stream",
    "Corvane_Ping_Create",
    "Corvane_Ping_Destroy",
    "Corvane_Ping_Set",
    "Corvane_Ping_Get",
    "Corvane_Ping_GetLastError",
    "Corvane_Ping_GetLastErrorCode",
    "Corvane_Ping_SetLastErrorAndCode",
    "Corvane_Ping_GetEventError",
    "Corvane_Ping_GetEventErrorCode",
    "Corvane_Ping_SetEventErrorAndCode",
    "Corvane_Ping_CheckIndex",
    "Corvane_Ping_Do",
};

inline constexpr char16_t kEngineResourceName[] = u"corvane20_dta";

EntryPointTable& EntryPoints();

// Finds the resource, maps the engine image and fills the table; every failure leaves
// slots null.
void BindEntryPoints();
void ClearEntryPoints();

// The units' start and end in program order: the loader lock and the bound table at
// start, the cleared table, the released image and the lock at end. The program holds
// one for its whole life, created before its windows and destroyed before them.
class EngineSession {
  public:
    EngineSession();
    ~EngineSession();
    EngineSession(const EngineSession&) = delete;
    EngineSession& operator=(const EngineSession&) = delete;
};

}  // namespace crv
