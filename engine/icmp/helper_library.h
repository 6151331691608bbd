// The system ICMP helper library, bound once per process from "icmp.dll" and from
// "Iphlpapi.dll"; each function is null when its library or the function is missing.
#pragma once

#include "platform/icmp_helper.h"

namespace corvane {

struct HelperFunctions {
    void* module = nullptr;
    plat::IcmpCreateFileFn IcmpCreateFile = nullptr;
    plat::IcmpCloseHandleFn IcmpCloseHandle = nullptr;
    plat::IcmpSendEchoFn IcmpSendEcho = nullptr;
};

void BindHelperLibraries();
void ReleaseHelperLibraries();

// The functions of "Iphlpapi.dll" when useIphlp is set, else those of "icmp.dll".
const HelperFunctions& HelperLibrary(bool useIphlp);

// Scripted functions in place of both libraries' (tests of the record walk); null brings
// the libraries' own back.
void SetHelperFunctions(const HelperFunctions* functions);

}  // namespace corvane
