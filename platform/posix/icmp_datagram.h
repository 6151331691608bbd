// Inside the Linux backend: ICMP datagram sockets in the place of raw ones. Needs only
// the system socket header, so that the ICMP helper functions can use it too.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace plat::posix {

// ICMP datagram sockets ("ping sockets", permitted by net.ipv4.ping_group_range) stand in
// for the raw ICMP sockets the system refuses to an unprivileged process. They differ
// from raw ones in three ways this layer hides: IPv4 datagrams arrive without their IP
// header, the kernel puts its own identifier into every echo request it sends, and ICMP
// errors arrive only through the error queue.

// A new ICMP datagram socket of the Linux family, set up and marked to stand in for a
// raw one; -1 with errno when the system refuses it too.
int OpenIcmpDatagram(int family, int protocol);
bool IsIcmpDatagram(int fd);
// 0 when the message can be sent as it is, else the Windows error that refuses it: the
// kernel sends only echo requests, and writes its own identifier into them.
int32_t RefusedIcmpDatagramSend(int fd, const uint8_t* message, size_t length);
// Remembers the identifier of an echo request that went out, so that the answers to it
// can carry it again.
void NoteIcmpDatagramSent(int fd, const uint8_t* message, size_t length);
// Puts back the identifier of the request into the echo message (a reply, or a request
// quoted in an error) of length bytes at message, with its checksum adjusted. Nothing
// happens when no request sent on fd matches.
void RestoreEchoIdentifier(int fd, uint8_t* message, size_t length);
// One data datagram in the form a raw socket gives it (IPv4 with its IP header): the
// number of bytes in buffer, or -1 with errno. *truncated when it did not fit.
ssize_t ReceiveIcmpDatagram(int fd, uint8_t* buffer, size_t capacity, int flags,
                            sockaddr_storage* source, bool* truncated);

// For a caller that reads without Windows Sockets (the ICMP helper functions): the next
// ICMP error from the error queue or else the next data datagram, as a raw socket gives
// them; -1 with errno (EAGAIN when there is none). Never blocks.
ssize_t ReceiveAsRaw(int fd, uint8_t* buffer, size_t capacity, sockaddr_storage* source);
// Closes a socket of OpenIcmpDatagram and forgets what was kept for it.
void CloseIcmpDatagram(int fd);

}  // namespace plat::posix
