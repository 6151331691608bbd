// The engine's own error codes and their fixed texts.
#pragma once

#include <cstdint>

namespace corvane {

inline constexpr int32_t kRefused = -1;
inline constexpr int32_t kResetFailed = 1;
inline constexpr int32_t kInvalidRemoteAddress = 102;
inline constexpr int32_t kPortAlreadyActive = 104;
inline constexpr int32_t kLocalHostWhileActive = 107;
inline constexpr int32_t kPortMustBeActive = 109;
inline constexpr int32_t kMaxPacketSizeWhileActive = 112;
inline constexpr int32_t kRemoteHostWhileConnected = 114;
inline constexpr int32_t kUseConnectionWhileActive = 117;
inline constexpr int32_t kMessageTooLong = 118;
inline constexpr int32_t kMessageTooShort = 119;
inline constexpr int32_t kCannotCreateIcmpHandle = 120;
inline constexpr int32_t kErrorReply = 127;
inline constexpr int32_t kBadMacAddress = 128;
inline constexpr int32_t kOutOfMemory = 200;
inline constexpr int32_t kWindowsMessagesInUse = 287;
inline constexpr int32_t kWaitEnded = 301;
inline constexpr int32_t kIpv6WithHelperLibrary = 306;

inline constexpr const char kTextUnknownConfig[] = "Unknown config setting.";
inline constexpr const char kTextInvalidRemoteAddress[] = "The RemoteHost address is invalid.";
inline constexpr const char kTextPortAlreadyActive[] = "ICMPPort is already Active.";
inline constexpr const char kTextLocalHostWhileActive[] =
    "Cannot change LocalHost when ICMPPort is Active.";
inline constexpr const char kTextPortMustBeActive[] = "ICMPPort must be Active for this operation.";
inline constexpr const char kTextMaxPacketSizeWhileActive[] =
    "Cannot change MaxPacketSize while ICMPPort is Active.";
inline constexpr const char kTextRemoteHostWhileConnected[] =
    "Cannot change RemoteHost when UseConnection is set and ICMPPort is Active.";
inline constexpr const char kTextUseConnectionWhileActive[] =
    "Cannot change UseConnection option while ICMPPort is Active.";
inline constexpr const char kTextMessageTooLong[] = "Message can't be longer than MaxMessageSize.";
inline constexpr const char kTextMessageTooShort[] = "Message too short.";
inline constexpr const char kTextCannotCreateIcmpHandle[] = "Can't create ICMP handle.";
inline constexpr const char kTextBadMacAddress[] = "Bad MAC address.";
inline constexpr const char kTextOutOfMemory[] = "Out of memory.";
inline constexpr const char kTextWindowsMessagesInUse[] =
    "UseWindowsMessages cannot be changed at this time. A connection is in progress.";
inline constexpr const char kTextTimeout[] = "Timeout.";
inline constexpr const char kTextInterrupted[] = "Interrupted.";
inline constexpr const char kTextIpv6WithHelperLibrary[] =
    "IPv6 is not supported when the UseICMPDLL configuration is set to true.";
inline constexpr const char kTextWinsockRecv[] = "Winsock error in recv()";
inline constexpr const char kTextUnhandledEventError[] =
    "An unhandled error occurred in the %s event handler";

}  // namespace corvane
