// Inside the Linux backend: what the socket files share. Everything here speaks Linux
// numbers unless a name says Windows.
#pragma once

// First: it must precede the system socket headers.
#include "platform/posix/winsock_numbers.h"

#include <sys/socket.h>

#include "platform/posix/icmp_datagram.h"

#include <cstddef>
#include <cstdint>

namespace plat::posix {

// False, with 10093 as the last socket error, while Windows Sockets is not started.
bool RequireStarted();

// The descriptor behind a SOCKET; -1 with 10038 when the value cannot be one.
int DescriptorOf(SOCKET s);

// Records the Windows number for a failed system call on a socket.
void FailWithErrno(int err);
// Records code and returns SOCKET_ERROR, for the one-line failure paths.
int Fail(int32_t code);

// Facts about a descriptor that no system call reports cheaply.
inline constexpr uint8_t kIcmpErrorQueue = 1;  // raw ICMP socket whose ICMP errors we read
inline constexpr uint8_t kAsyncSelected = 2;   // WSAAsyncSelect events are registered
inline constexpr uint8_t kStashed = 4;         // a peeked ICMP error datagram is kept
inline constexpr uint8_t kIcmpDatagram = 8;    // an ICMP datagram socket standing in for raw
uint8_t SocketFlags(int fd);
void UpdateSocketFlags(int fd, uint8_t set, uint8_t clear);
// Clears the flags and drops a kept datagram; for a new or closed descriptor.
void ForgetSocketFlags(int fd);

// Linux has no peer address for a raw socket (getpeername fails), so connect keeps it.
void KeepPeer(int fd, const sockaddr_storage& peer);
bool KeptPeer(int fd, sockaddr_storage* peer);

// The error queue cannot be peeked: a datagram taken from it by a peek is kept here
// until a receive takes it. TakeStash copies at most capacity bytes and returns the
// datagram's length, 0 when none is kept.
bool StashDatagram(int fd, const uint8_t* data, size_t length, const sockaddr_storage& source);
size_t TakeStash(int fd, bool peek, uint8_t* buffer, size_t capacity, sockaddr_storage* source);

// What an ICMP datagram socket keeps of its recent echo requests: the identifier the
// caller wrote, found again by sequence number and the first data bytes.
struct SentEcho {
    uint16_t identifier;  // as in the message, network order
    uint16_t sequence;
    uint8_t keyLength;
    uint8_t key[8];
};
void KeepSentEcho(int fd, const SentEcho& sent);
bool FindSentEcho(int fd, uint16_t sequence, const uint8_t* key, size_t keyLength,
                  uint16_t* identifier);

// Windows socket address (family 2 or 23) to the Linux form. False with 10014 for a
// missing or short address and 10047 for another family.
bool ToLinuxAddress(const void* address, int length, sockaddr_storage* out, socklen_t* outLength);
// Linux socket address to the Windows layout; the number of bytes written, or -1 with
// 10014 when out is too small and 10047 for a family Windows has no layout for.
int ToWindowsAddress(const sockaddr_storage& address, void* out, int outLength);

// Errno values the kernel reports for an ICMP error about a datagram the socket sent.
bool IsIcmpErrno(int err);

// The next ICMP error queued on fd as the datagram a Windows raw socket would have
// received: its length (possibly more than capacity; only capacity bytes are copied),
// or 0 when none is queued. Entries that give no datagram are dropped on the way: local
// errors (the send reported them) and errors the peer sent itself (those also arrive as
// data). The pending socket error an entry raised is cleared with it. With peek the
// datagram is kept for the next receive, which returns it first.
size_t TakeIcmpErrorDatagram(int fd, bool peek, uint8_t* buffer, size_t capacity,
                             sockaddr_storage* source);

}  // namespace plat::posix
