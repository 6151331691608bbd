// ICMP messages on the port's raw socket: framing and checksum of what is sent, and the
// reading of every datagram that arrives, handed on one ICMP message at a time.
#include <cstring>

#include "engine/core/error_codes.h"
#include "engine/icmp/checksum.h"
#include "engine/icmp/icmp_port.h"
#include "engine/net/host_resolution.h"
#include "engine/net/socket_api.h"

namespace corvane {

namespace {

constexpr uint32_t kIcmpHeaderSize = 4;
constexpr uint32_t kIpv4HeaderSize = 20;
constexpr uint8_t kIpv4PlainHeader = 0x45;  // version 4, no options

}  // namespace

void IcmpPort::FormatRemote(char* out, size_t size) const {
    out[0] = '\0';
    if (Ipv6()) {
        if (!Ipv6AddressIsAny(remoteIpv6_)) Ipv6AddressText(remoteIpv6_, out, size);
    } else if (remoteIpv4_ != 0) {
        FormatIpv4(remoteIpv4_, out, size);
    }
}

int32_t IcmpPort::SendIcmp(const uint8_t* data, uint32_t length) {
    if (HelperMode()) return SendViaHelper(data, length);
    ClearError();
    if (RemoteAddressText()[0] == '\0') {
        return Fail(kInvalidRemoteAddress, kTextInvalidRemoteAddress);
    }
    if (socket_ == plat::INVALID_SOCKET) return Fail(kPortMustBeActive, kTextPortMustBeActive);
    packets_.Empty();
    if (length > GetMaxPacketSize()) return Fail(kMessageTooLong, kTextMessageTooLong);

    uint8_t* message = packets_.Data();
    const uint32_t size = length + kIcmpHeaderSize;
    message[0] = typeByte_;
    message[1] = 0;
    message[2] = message[3] = 0;
    if (length > 0) std::memcpy(message + kIcmpHeaderSize, data, length);
    if (Ipv6()) {
        Ipv6PseudoHeader pseudo{};
        plat::sockaddr_in6 local;
        plat::sockaddr_in6 remote;
        std::memcpy(&local, LocalIpv6(), sizeof local);
        std::memcpy(&remote, remoteIpv6_, sizeof remote);
        std::memcpy(pseudo.source, local.sin6_addr, sizeof pseudo.source);
        std::memcpy(pseudo.destination, remote.sin6_addr, sizeof pseudo.destination);
        pseudo.length = size;
        StoreChecksum(message + 2, InternetChecksum(message, size, &pseudo));
    } else {
        StoreChecksum(message + 2, InternetChecksum(message, size));
    }

    int sent;
    if (useConnection_) {
        sent = Sockets().send(socket_, message, static_cast<int>(size), 0);
        if (sent != plat::SOCKET_ERROR && !AbsoluteTimeout()) ArmDeadline();
    } else if (Ipv6()) {
        plat::sockaddr_in6 remote;
        std::memcpy(&remote, remoteIpv6_, sizeof remote);
        remote.sin6_port = 0;
        sent =
            Sockets().sendto(socket_, message, static_cast<int>(size), 0, &remote, sizeof remote);
    } else {
        plat::sockaddr_in remote{};
        remote.sin_family = plat::AF_INET;
        remote.sin_addr = remoteIpv4_;
        sent =
            Sockets().sendto(socket_, message, static_cast<int>(size), 0, &remote, sizeof remote);
    }
    return sent == plat::SOCKET_ERROR ? Sockets().WSAGetLastError() : 0;
}

bool IcmpPort::ChecksumOk(uint8_t* message, uint32_t length, const uint8_t* sender) const {
    const uint16_t carried = static_cast<uint16_t>((message[2] << 8) | message[3]);
    message[2] = message[3] = 0;
    uint16_t computed;
    if (Ipv6()) {
        Ipv6PseudoHeader pseudo{};
        plat::sockaddr_in6 local;
        std::memcpy(&local, LocalIpv6(), sizeof local);
        std::memcpy(pseudo.source, sender, sizeof pseudo.source);
        std::memcpy(pseudo.destination, local.sin6_addr, sizeof pseudo.destination);
        pseudo.length = length;
        computed = InternetChecksum(message, length, &pseudo);
    } else {
        computed = InternetChecksum(message, length);
    }
    StoreChecksum(message + 2, carried);
    return computed == carried;
}

int32_t IcmpPort::ReadDatagrams(ReadMode mode) {
    // A handler that destroyed the object ends the reading; the socket goes with it.
    while (socket_ != plat::INVALID_SOCKET && !Destroyed()) {
        if (mode == ReadMode::kNotified && closePending_) {
            readInProgress_ = false;
            CloseSocket();
            return 0;
        }
        packets_.Empty();
        uint8_t* datagram = packets_.Data();
        const int capacity = static_cast<int>(packets_.Capacity());
        plat::sockaddr_in6 from{};  // large enough for either family
        int received;
        if (useConnection_) {
            received = Sockets().recv(socket_, datagram, capacity, 0);
        } else {
            int fromLength = sizeof from;
            received = Sockets().recvfrom(socket_, datagram, capacity, 0, &from, &fromLength);
        }
        if (received == 0) return 0;
        if (received == plat::SOCKET_ERROR) {
            const int32_t error = Sockets().WSAGetLastError();
            if (error == plat::kWsaEwouldblock || error == plat::kWsaEnotsock) return 0;
            Sink()->FireError(error, kTextWinsockRecv);
            return error;
        }

        uint8_t* message = datagram;
        uint32_t length = static_cast<uint32_t>(received);
        if (!Ipv6() && length >= kIpv4HeaderSize && datagram[0] == kIpv4PlainHeader) {
            message += kIpv4HeaderSize;
            length -= kIpv4HeaderSize;
        }
        if (length < kIcmpHeaderSize) {
            Sink()->FireError(kMessageTooShort, kTextMessageTooShort);
            return kMessageTooShort;
        }

        uint8_t sender[16] = {};
        if (useConnection_) {
            FormatRemote(sourceText_, sizeof sourceText_);
            if (Ipv6()) {
                plat::sockaddr_in6 remote;
                std::memcpy(&remote, remoteIpv6_, sizeof remote);
                std::memcpy(sender, remote.sin6_addr, sizeof sender);
            }
        } else if (Ipv6()) {
            std::memcpy(sender, from.sin6_addr, sizeof sender);
            uint8_t address[28];
            std::memcpy(address, &from, sizeof address);
            Ipv6AddressText(address, sourceText_, sizeof sourceText_);
        } else {
            plat::sockaddr_in source;
            std::memcpy(&source, &from, sizeof source);
            FormatIpv4(source.sin_addr, sourceText_, sizeof sourceText_);
        }

        const bool checksumOk = ChecksumOk(message, length, sender);
        if (!AbsoluteTimeout()) ArmDeadline();
        const int32_t rc = OnIcmpPacket(message[0], message[1], message + kIcmpHeaderSize,
                                        length - kIcmpHeaderSize, checksumOk, sourceText_);
        if (rc != 0) return rc;
    }
    return 0;
}

int32_t IcmpPort::OnIcmpPacket(uint8_t /*type*/, uint8_t /*code*/, const uint8_t* /*data*/,
                               uint32_t /*length*/, bool /*checksumOk*/, const char* /*source*/) {
    return 0;
}

plat::LRESULT IcmpPort::OnWindowMessage(uint32_t message, plat::WPARAM wParam,
                                        plat::LPARAM lParam) {
    if (message != kSocketNotifyMessage || socket_ == plat::INVALID_SOCKET || wParam != socket_) {
        return SocketCore::OnWindowMessage(message, wParam, lParam);
    }
    const int32_t event = static_cast<int32_t>(lParam & 0xFFFF);
    if (event == plat::FD_READ) {
        // A notice that comes while reading is dropped: the running loop empties the socket.
        if (!readInProgress_) {
            readInProgress_ = true;
            ReadDatagrams(ReadMode::kNotified);
            readInProgress_ = false;
            if (closePending_) CloseSocket();
        }
    } else if (event == plat::FD_WRITE) {
        OnReadyToSend();
    }
    return 0;
}

}  // namespace corvane
