#include "tests/engine/scripted_socket.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "engine/core/module_state.h"
#include "engine/net/socket_api.h"
#include "platform/last_error.h"
#include "platform/window.h"

namespace scripted {

namespace {

Net g_net;

[[gnu::noinline]] std::string Text(intptr_t slot) {
    const char* text = reinterpret_cast<const char*>(slot);
    return text != nullptr ? std::string(text) : std::string();
}

plat::SOCKET Socket(int family, int /*type*/, int /*protocol*/) {
    ++g_net.opened;
    g_net.family = family;
    return kSocket;
}

int Bind(plat::SOCKET, const void*, int) {
    return 0;
}

int Connect(plat::SOCKET, const void*, int) {
    ++g_net.connects;
    return 0;
}

std::string AddressText(const void* address, int length) {
    uint8_t a[28] = {};
    std::memcpy(a, address, static_cast<size_t>(std::clamp(length, 0, 28)));
    char text[64] = {};
    if (a[0] == plat::AF_INET) {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[4], a[5], a[6], a[7]);
    } else {
        std::snprintf(text, sizeof text, "v6:%02x%02x..%02x", a[8], a[9], a[23]);
    }
    return text;
}

int Record(const void* data, int length, bool connected, std::string to) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    const Bytes message(bytes, bytes + length);
    g_net.sent.push_back(message);
    g_net.sentConnected.push_back(connected);
    g_net.sentTo.push_back(std::move(to));
    if (g_net.onSend) g_net.onSend(message);
    return length;
}

int Send(plat::SOCKET, const void* data, int length, int) {
    return Record(data, length, true, "");
}

int SendTo(plat::SOCKET, const void* data, int length, int, const void* to, int toLength) {
    return Record(data, length, false, AddressText(to, toLength));
}

int Receive(void* buffer, int length, void* from, int* fromLength) {
    ++g_net.recvCalls;
    if (g_net.queue.empty()) {
        g_net.lastError = plat::kWsaEwouldblock;
        return plat::SOCKET_ERROR;
    }
    const Datagram d = g_net.queue.front();
    g_net.queue.pop_front();
    if (d.error != 0) {
        g_net.lastError = d.error;
        return plat::SOCKET_ERROR;
    }
    const size_t n = std::min(d.bytes.size(), static_cast<size_t>(length));
    if (n > 0) std::memcpy(buffer, d.bytes.data(), n);
    if (from != nullptr && fromLength != nullptr) {
        const int size = d.from[0] == plat::AF_INET ? 16 : 28;
        std::memcpy(from, d.from, static_cast<size_t>(std::min(size, *fromLength)));
        *fromLength = size;
    }
    return static_cast<int>(n);
}

int Recv(plat::SOCKET, void* buffer, int length, int) {
    return Receive(buffer, length, nullptr, nullptr);
}

int RecvFrom(plat::SOCKET, void* buffer, int length, int, void* from, int* fromLength) {
    return Receive(buffer, length, from, fromLength);
}

int Close(plat::SOCKET) {
    ++g_net.closed;
    return 0;
}

int SetOption(plat::SOCKET, int, int, const void*, int) {
    return 0;
}

int GetOption(plat::SOCKET, int, int, void* value, int* length) {
    if (value != nullptr && length != nullptr && *length > 0) {
        std::memset(value, 0, static_cast<size_t>(*length));
    }
    return 0;
}

int Ioctl(plat::SOCKET, uint32_t, uint32_t*) {
    return 0;
}

int Select(int, plat::fd_set*, plat::fd_set*, plat::fd_set*, const plat::timeval*) {
    return 0;
}

int AsyncSelect(plat::SOCKET, plat::HWND window, uint32_t message, int32_t) {
    g_net.window = window;
    g_net.message = message;
    return 0;
}

int32_t LastError() {
    return g_net.lastError;
}

uint32_t Tick() {
    const uint32_t now = g_net.tick;
    g_net.tick += g_net.tickStep;
    return now;
}

bool NoCounter(int64_t*) {
    return false;
}

const corvane::SocketApi kScriptedSockets = {
    Socket, Bind,      Connect,   Send,  SendTo, Recv,        RecvFrom,
    Close,  SetOption, GetOption, Ioctl, Select, AsyncSelect, LastError,
};

const corvane::ClockApi kScriptedClock = {Tick, NoCounter, NoCounter};

HelperScript g_helper;

void* HelperOpen() {
    return reinterpret_cast<void*>(0x77);
}

int HelperClose(void*) {
    return 1;
}

uint32_t HelperEcho(void*, uint32_t, void* request, uint16_t size, plat::IP_OPTION_INFORMATION*,
                    void* reply, uint32_t replySize, uint32_t) {
    using D = HelperRecord::Data;
    if (g_helper.records.empty()) {
        plat::SetLastError(g_helper.reason);
        return 0;
    }
    auto* out = static_cast<uint8_t*>(reply);
    const auto outside = [out](intptr_t offset) {
        return reinterpret_cast<void*>(reinterpret_cast<intptr_t>(out) + offset);
    };
    size_t at = g_helper.records.size() * sizeof(plat::ICMP_ECHO_REPLY);
    for (size_t i = 0; i < g_helper.records.size(); ++i) {
        const HelperRecord& r = g_helper.records[i];
        plat::ICMP_ECHO_REPLY record{};
        record.Address = 0x0000007Fu | uint32_t{r.from} << 24;  // network order
        record.Status = r.status;
        record.DataSize = size;
        if (r.data == D::kEcho || r.data == D::kUnreachable) {
            const size_t skip = r.data == D::kUnreachable ? 28 : 0;
            if (at + skip + size > replySize) return 0;
            std::memset(out + at, 0, skip);
            std::memcpy(out + at + skip, request, size);
            record.Data = out + at;
            record.DataSize = static_cast<uint16_t>(skip + size);
            at += skip + size;
        } else if (r.data == D::kBefore) {
            record.Data = outside(-16);
        } else if (r.data == D::kPast) {
            record.Data = outside(static_cast<intptr_t>(replySize) + 8);
        } else if (r.data == D::kOverrun) {
            record.Data = outside(static_cast<intptr_t>(replySize) - 4);
        }
        std::memcpy(out + i * sizeof record, &record, sizeof record);
    }
    return static_cast<uint32_t>(g_helper.records.size());
}

}  // namespace

const corvane::HelperFunctions kHelperFunctions{nullptr, HelperOpen, HelperClose, HelperEcho};

HelperScript& Helper() {
    return g_helper;
}

Net& Current() {
    return g_net;
}

void Net::Deliver(const Bytes& bytes, const char* from) {
    Datagram d;
    d.bytes = bytes;
    ParseAddress(from, d.from);
    queue.push_back(d);
    if (notify) Notify();
}

void Net::DeliverError(int32_t error) {
    Datagram d;
    d.error = error;
    queue.push_back(d);
    if (notify) Notify();
}

void Net::Notify() {
    if (window != nullptr) plat::PostMessageA(window, message, kSocket, plat::FD_READ);
}

Scope::Scope() {
    AttachModule();
    g_net = Net{};
    corvane::SetSocketApi(&kScriptedSockets);
    corvane::SetClockApi(&kScriptedClock);
}

Scope::~Scope() {
    corvane::SetSocketApi(nullptr);
    corvane::SetClockApi(nullptr);
    // Notices left for a window that is gone are dropped with the queue's next pass.
    plat::MSG msg{};
    for (int i = 0; i < 64 && plat::PeekMessageA(&msg, nullptr, 0, 0, plat::PM_REMOVE); ++i) {
    }
    g_net = Net{};
}

void AttachModule() {
    static std::once_flag once;
    std::call_once(once, [] { corvane::ModuleAttach(nullptr); });
}

uint16_t Checksum(const uint8_t* data, size_t length, uint32_t sum) {
    for (size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<uint32_t>(data[i] << 8 | data[i + 1]);
    if ((length & 1) != 0) sum += static_cast<uint32_t>(data[length - 1]) << 8;
    while ((sum >> 16) != 0)
        sum = (sum >> 16) + (sum & 0xFFFF);
    return static_cast<uint16_t>(~sum);
}

uint32_t PseudoSum(const uint8_t* source, const uint8_t* destination, size_t length) {
    uint8_t pseudo[40] = {};
    std::memcpy(pseudo, source, 16);
    std::memcpy(pseudo + 16, destination, 16);
    pseudo[32] = static_cast<uint8_t>(length >> 24);
    pseudo[33] = static_cast<uint8_t>(length >> 16);
    pseudo[34] = static_cast<uint8_t>(length >> 8);
    pseudo[35] = static_cast<uint8_t>(length);
    pseudo[39] = 58;
    uint32_t sum = 0;
    for (size_t i = 0; i < sizeof pseudo; i += 2)
        sum += static_cast<uint32_t>(pseudo[i] << 8 | pseudo[i + 1]);
    return sum;
}

bool ChecksumVerifies(const Bytes& message, uint32_t pseudoSum) {
    return Checksum(message.data(), message.size(), pseudoSum) == 0;
}

Bytes WithIpv4Header(const Bytes& icmp, uint8_t first) {
    // Sized once: GCC 12 at -O3 warns falsely about a vector that grows by an insert.
    Bytes d(20 + icmp.size(), 0);
    d[0] = first;
    d[2] = static_cast<uint8_t>(d.size() >> 8);
    d[3] = static_cast<uint8_t>(d.size());
    d[8] = 64;
    d[9] = 1;
    std::copy(icmp.begin(), icmp.end(), d.begin() + 20);
    return d;
}

Bytes EchoReplyTo(const Bytes& request, uint8_t type) {
    Bytes m = request;
    m[0] = type;
    m[2] = m[3] = 0;
    const uint16_t sum = Checksum(m.data(), m.size());
    m[2] = static_cast<uint8_t>(sum >> 8);
    m[3] = static_cast<uint8_t>(sum);
    return m;
}

Bytes ErrorFor(const Bytes& request, uint8_t type, uint8_t code, size_t invokingHeader) {
    Bytes m(8, 0);
    m[0] = type;
    m[1] = code;
    Bytes header(invokingHeader, 0);
    header[0] = invokingHeader == 20 ? 0x45 : 0x60;
    m.insert(m.end(), header.begin(), header.end());
    m.insert(m.end(), request.begin(), request.begin() + std::min<size_t>(request.size(), 8));
    const uint16_t sum = Checksum(m.data(), m.size());
    m[2] = static_cast<uint8_t>(sum >> 8);
    m[3] = static_cast<uint8_t>(sum);
    return m;
}

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool ParseAddress(const char* text, uint8_t (&out)[28]) {
    std::memset(out, 0, sizeof out);
    unsigned a, b, c, d;
    char tail;
    if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) == 4) {
        out[0] = plat::AF_INET;
        out[4] = static_cast<uint8_t>(a);
        out[5] = static_cast<uint8_t>(b);
        out[6] = static_cast<uint8_t>(c);
        out[7] = static_cast<uint8_t>(d);
        return true;
    }
    // IPv6: only the forms the tests use, "::N" and "PREFIX::N" with 16-bit groups.
    out[0] = plat::AF_INET6;
    uint8_t* address = out + 8;
    const char* gap = std::strstr(text, "::");
    if (gap == nullptr) return false;
    unsigned group;
    size_t at = 0;
    for (const char* p = text; p < gap && at < 14;) {
        if (std::sscanf(p, "%x", &group) != 1) return false;
        address[at++] = static_cast<uint8_t>(group >> 8);
        address[at++] = static_cast<uint8_t>(group);
        p = std::strchr(p, ':');
        if (p == nullptr || p >= gap) break;
        ++p;
    }
    if (gap[2] != '\0' && std::sscanf(gap + 2, "%x", &group) == 1) {
        address[14] = static_cast<uint8_t>(group >> 8);
        address[15] = static_cast<uint8_t>(group);
    }
    return true;
}

Component::Component() : handle_(Corvane_Ping_Create(&Component::OnEvent, this, nullptr, 0)) {
    // The scripted clock decides when a wait ends; the pump need not sleep.
    Config("SelectWaitMillis=0");
}

Component::~Component() {
    Corvane_Ping_Destroy(handle_);
}

int32_t Component::OnEvent(void* context, int32_t event, int32_t count, intptr_t* params,
                           int32_t*) {
    auto* self = static_cast<Component*>(context);
    if (event == CORVANE_PING_EVENT_RESPONSE && count == 4) {
        self->responses.push_back({static_cast<int32_t>(params[0]), Text(params[1]),
                                   Text(params[2]), static_cast<int32_t>(params[3]),
                                   self->GetText(CORVANE_PING_RESPONSE_SOURCE)});
        return self->responseResult;
    }
    if (event == CORVANE_PING_EVENT_ERROR && count == 2) {
        self->errors.push_back({static_cast<int32_t>(params[0]), Text(params[1])});
    }
    return 0;
}

int32_t Component::Config(const char* setting) const {
    intptr_t slots[2] = {reinterpret_cast<intptr_t>(setting), 0};
    int32_t lengths[2] = {};
    return Corvane_Ping_Do(handle_, CORVANE_PING_CONFIG, 1, slots, lengths, 0);
}

int32_t Component::Set(int32_t property, intptr_t value) const {
    return Corvane_Ping_Set(handle_, property, 0, value, 0);
}

intptr_t Component::Get(int32_t property) const {
    return Corvane_Ping_Get(handle_, property, 0, nullptr, 0);
}

std::string Component::GetText(int32_t property) const {
    return Text(Get(property));
}

int32_t Component::PingHost(const char* host) const {
    intptr_t slots[2] = {reinterpret_cast<intptr_t>(host), 0};
    int32_t lengths[2] = {};
    return Corvane_Ping_Do(handle_, CORVANE_PING_PING_HOST, 1, slots, lengths, 0);
}

int32_t Component::DoEvents() const {
    intptr_t slots[1] = {};
    int32_t lengths[1] = {};
    return Corvane_Ping_Do(handle_, CORVANE_PING_DO_EVENTS, 0, slots, lengths, 0);
}

void Component::Pump(int passes) const {
    for (int i = 0; i < passes; ++i)
        DoEvents();
}

int32_t Component::LastErrorCode() const {
    return Corvane_Ping_GetLastErrorCode(handle_);
}

std::string Component::LastError() const {
    return Text(reinterpret_cast<intptr_t>(Corvane_Ping_GetLastError(handle_)));
}

Layer::Layer() : PingCore(static_cast<corvane::EventSink*>(this)) {
    Reset();
    SetTimeout(60, true);
    const char* answer = nullptr;
    Configure("SelectWaitMillis=0", &answer);
}

Layer::~Layer() = default;

int32_t Layer::FireError(int32_t code, const char* description) {
    errors.push_back({code, description != nullptr ? description : ""});
    return 0;
}

int32_t Layer::FireResponse(int32_t requestId, const char* source, const char* status,
                            int32_t time) {
    responses.push_back({requestId, source, status, time, ResponseSource()});
    return 0;
}

void Layer::Readable() {
    OnWindowMessage(kNotifyMessage, kSocket, plat::FD_READ);
}

int32_t Layer::OnIcmpPacket(uint8_t type, uint8_t code, const uint8_t* data, uint32_t length,
                            bool checksumOk, const char* source) {
    packets.push_back({type, code, Bytes(data, data + length), checksumOk, source});
    return PingCore::OnIcmpPacket(type, code, data, length, checksumOk, source);
}

}  // namespace scripted
