// What the ICMP helper tests share: the three functions bound by name the way the
// engine binds them, a handle closed on every path, and one echo with its outcome.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/icmp_helper.h"
#include "platform/last_error.h"
#include "platform/module.h"

namespace icmptest {

inline constexpr const char* kNeedRawSockets = "raw ICMP sockets need root or CAP_NET_RAW";
inline constexpr uint32_t kAccessDenied = 5;
inline constexpr size_t kRecordSize = sizeof(plat::ICMP_ECHO_REPLY);

struct HelperFunctions {
    plat::IcmpCreateFileFn create = nullptr;
    plat::IcmpCloseHandleFn close = nullptr;
    plat::IcmpSendEchoFn send = nullptr;
};

// False when the module or one of its functions is missing.
inline bool Bind(const char* moduleName, HelperFunctions* out) {
    void* module = plat::LoadLibraryA(moduleName);
    if (module == nullptr) return false;
    out->create =
        reinterpret_cast<plat::IcmpCreateFileFn>(plat::GetProcAddress(module, "IcmpCreateFile"));
    out->close =
        reinterpret_cast<plat::IcmpCloseHandleFn>(plat::GetProcAddress(module, "IcmpCloseHandle"));
    out->send =
        reinterpret_cast<plat::IcmpSendEchoFn>(plat::GetProcAddress(module, "IcmpSendEcho"));
    return out->create != nullptr && out->close != nullptr && out->send != nullptr;
}

// Closes its helper handle when the test ends, whichever way.
struct Handle {
    HelperFunctions fns;
    void* h = plat::INVALID_HANDLE_VALUE;
    uint32_t createError = 0;
    explicit Handle(const HelperFunctions& f) : fns(f) {
        h = fns.create();
        if (h == plat::INVALID_HANDLE_VALUE) createError = plat::GetLastError();
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (valid()) fns.close(h);
    }
    bool valid() const { return h != plat::INVALID_HANDLE_VALUE; }
};

// Skips the test where raw sockets are not allowed; fails on any other reason.
#define CREATE_HANDLE_OR_SKIP(var, fns)                             \
    ::icmptest::Handle var{fns};                                    \
    if (!var.valid()) {                                             \
        if (var.createError == ::icmptest::kAccessDenied) {         \
            GTEST_SKIP() << ::icmptest::kNeedRawSockets;            \
        }                                                           \
        FAIL() << "IcmpCreateFile failed with " << var.createError; \
    }

inline uint32_t Address(const char* dotted) {
    return ::inet_addr(dotted);
}

inline uint32_t NextMarker() {
    static std::atomic<uint32_t> counter{0};
    return 0xC0DE0000u + (static_cast<uint32_t>(getpid()) << 8) + counter++;
}

// Request data that begin with a 4-byte marker, as the engine's begin with its RequestId.
inline std::vector<uint8_t> RequestData(uint32_t marker, size_t size) {
    std::vector<uint8_t> d(size);
    for (size_t i = 0; i < size; ++i)
        d[i] = static_cast<uint8_t>('A' + i % 26);
    for (size_t i = 0; i < 4 && i < size; ++i)
        d[i] = static_cast<uint8_t>(marker >> (24 - 8 * i));
    return d;
}

inline uint32_t MarkerAt(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

struct Echo {
    uint32_t count = 0;
    uint32_t error = 0;  // the last error when count is 0
    int64_t elapsedMs = 0;
    plat::ICMP_ECHO_REPLY record{};
    std::vector<uint8_t> data;  // what record.Data pointed at
    bool dataInBuffer = false;  // Data pointed into the reply buffer, behind the record
};

inline Echo SendEcho(const HelperFunctions& fns, void* handle, uint32_t destination,
                     std::vector<uint8_t> request, plat::IP_OPTION_INFORMATION* options,
                     uint32_t timeout, uint32_t replySize = 4096) {
    alignas(8) static thread_local uint8_t reply[65600];
    memset(reply, 0xEE, sizeof reply);
    Echo e;
    const auto start = std::chrono::steady_clock::now();
    e.count = fns.send(handle, destination, request.empty() ? nullptr : request.data(),
                       static_cast<uint16_t>(request.size()), options, reply, replySize, timeout);
    e.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
    if (e.count == 0) {
        e.error = plat::GetLastError();
        return e;
    }
    memcpy(&e.record, reply, sizeof e.record);
    const auto* data = static_cast<const uint8_t*>(e.record.Data);
    e.dataInBuffer = data >= reply + kRecordSize && data + e.record.DataSize <= reply + replySize;
    if (e.dataInBuffer) e.data.assign(data, data + e.record.DataSize);
    return e;
}

}  // namespace icmptest
