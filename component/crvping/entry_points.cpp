#include "component/crvping/entry_points.h"

#include "component/crvcore/engine_image.h"
#include "platform/resources.h"

namespace crv {

namespace {

EntryPointTable g_table{};
// What this unit's own load returned, for the release at program end.
void* g_base = nullptr;
void* g_entry = nullptr;

template <typename F>
void Bind(void* base, const char* name, F& slot) {
    slot = reinterpret_cast<F>(crvcore::FindEngineExport(base, name));
}

}  // namespace

EntryPointTable& EntryPoints() {
    return g_table;
}

void ClearEntryPoints() {
    g_table = EntryPointTable{};
}

void BindEntryPoints() {
    ClearEntryPoints();
    void* resource = plat::FindResourceW(nullptr, kEngineResourceName, plat::RT_RCDATA);
    if (resource == nullptr) return;
    void* loaded = plat::LoadResource(nullptr, resource);
    const void* bytes = loaded != nullptr ? plat::LockResource(loaded) : nullptr;
    if (bytes == nullptr) return;

    g_base = crvcore::LoadEngineImage(bytes, plat::SizeofResource(nullptr, resource), &g_entry);
    if (g_base != nullptr) {
        Bind(g_base, kEntryPointNames[0], g_table.EvtStr);
        Bind(g_base, kEntryPointNames[1], g_table.Stream);
        Bind(g_base, kEntryPointNames[2], g_table.Create);
        Bind(g_base, kEntryPointNames[3], g_table.Destroy);
        Bind(g_base, kEntryPointNames[4], g_table.Set);
        Bind(g_base, kEntryPointNames[5], g_table.Get);
        Bind(g_base, kEntryPointNames[6], g_table.GetLastError);
        Bind(g_base, kEntryPointNames[7], g_table.GetLastErrorCode);
        Bind(g_base, kEntryPointNames[8], g_table.SetLastErrorAndCode);
        Bind(g_base, kEntryPointNames[9], g_table.GetEventError);
        Bind(g_base, kEntryPointNames[10], g_table.GetEventErrorCode);
        Bind(g_base, kEntryPointNames[11], g_table.SetEventErrorAndCode);
        Bind(g_base, kEntryPointNames[12], g_table.CheckIndex);
        Bind(g_base, kEntryPointNames[13], g_table.Do);
    }
    plat::FreeResource(loaded);
}

EngineSession::EngineSession() {
    crvcore::CreateLoaderLock();
    BindEntryPoints();
}

EngineSession::~EngineSession() {
    ClearEntryPoints();
    crvcore::FreeEngineImage(g_base, g_entry);
    g_base = nullptr;
    g_entry = nullptr;
    crvcore::DestroyLoaderLock();
}

}  // namespace crv
