#include "platform/posix/socket_internal.h"

#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>

namespace plat::posix {

namespace {

struct Stash {
    size_t length;
    sockaddr_storage source;
    uint8_t data[1];  // length bytes
};

// Enough for every request an asynchronous run keeps in flight on one socket.
constexpr size_t kSentCapacity = 256;

struct SentRing {
    size_t next;
    size_t used;
    SentEcho entries[kSentCapacity];
};

struct Entry {
    uint8_t flags;
    Stash* stash;
    SentRing* sent;
    sockaddr_in6 peer;  // large enough for either family; family 0 when none is kept
};

// One entry per descriptor number, grown on demand; descriptors are small and dense,
// and only sockets made through this layer ever get a non-empty entry.
std::mutex g_lock;
Entry* g_entries = nullptr;
size_t g_size = 0;

Entry* EntryFor(int fd, bool grow) {
    if (fd < 0) return nullptr;
    const size_t index = static_cast<size_t>(fd);
    if (index < g_size) return &g_entries[index];
    if (!grow) return nullptr;
    size_t size = g_size == 0 ? 64 : g_size;
    while (size <= index)
        size *= 2;
    auto* grown = static_cast<Entry*>(realloc(g_entries, size * sizeof(Entry)));
    if (grown == nullptr) return nullptr;  // the socket then behaves like a plain one
    memset(grown + g_size, 0, (size - g_size) * sizeof(Entry));
    g_entries = grown;
    g_size = size;
    return &g_entries[index];
}

}  // namespace

uint8_t SocketFlags(int fd) {
    std::lock_guard<std::mutex> hold(g_lock);
    const Entry* entry = EntryFor(fd, false);
    return entry != nullptr ? entry->flags : 0;
}

void UpdateSocketFlags(int fd, uint8_t set, uint8_t clear) {
    std::lock_guard<std::mutex> hold(g_lock);
    Entry* entry = EntryFor(fd, set != 0);
    if (entry != nullptr) entry->flags = static_cast<uint8_t>((entry->flags & ~clear) | set);
}

void ForgetSocketFlags(int fd) {
    Stash* stash = nullptr;
    SentRing* sent = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        Entry* entry = EntryFor(fd, false);
        if (entry == nullptr) return;
        stash = entry->stash;
        sent = entry->sent;
        *entry = Entry{};
    }
    free(stash);
    free(sent);
}

void KeepSentEcho(int fd, const SentEcho& echo) {
    std::lock_guard<std::mutex> hold(g_lock);
    Entry* entry = EntryFor(fd, true);
    if (entry == nullptr) return;
    if (entry->sent == nullptr) {
        entry->sent = static_cast<SentRing*>(calloc(1, sizeof(SentRing)));
        if (entry->sent == nullptr) return;  // its answers then keep the kernel's identifier
    }
    SentRing& ring = *entry->sent;
    ring.entries[ring.next] = echo;
    ring.next = (ring.next + 1) % kSentCapacity;
    if (ring.used < kSentCapacity) ring.used += 1;
}

bool FindSentEcho(int fd, uint16_t sequence, const uint8_t* key, size_t keyLength,
                  uint16_t* identifier) {
    std::lock_guard<std::mutex> hold(g_lock);
    const Entry* entry = EntryFor(fd, false);
    if (entry == nullptr || entry->sent == nullptr) return false;
    const SentRing& ring = *entry->sent;
    // The newest first: a request sent again is answered as the latest one.
    for (size_t i = 1; i <= ring.used; ++i) {
        const SentEcho& sent = ring.entries[(ring.next + kSentCapacity - i) % kSentCapacity];
        if (sent.sequence != sequence) continue;
        const size_t n = keyLength < sent.keyLength ? keyLength : sent.keyLength;
        if (n > 0 && memcmp(sent.key, key, n) != 0) continue;
        *identifier = sent.identifier;
        return true;
    }
    return false;
}

void KeepPeer(int fd, const sockaddr_storage& peer) {
    std::lock_guard<std::mutex> hold(g_lock);
    Entry* entry = EntryFor(fd, true);
    if (entry == nullptr) return;
    const size_t size = peer.ss_family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    memset(&entry->peer, 0, sizeof entry->peer);
    memcpy(&entry->peer, &peer, size);
}

bool KeptPeer(int fd, sockaddr_storage* peer) {
    std::lock_guard<std::mutex> hold(g_lock);
    const Entry* entry = EntryFor(fd, false);
    if (entry == nullptr || entry->peer.sin6_family == 0) return false;
    memset(peer, 0, sizeof *peer);
    memcpy(peer, &entry->peer, sizeof entry->peer);
    return true;
}

bool StashDatagram(int fd, const uint8_t* data, size_t length, const sockaddr_storage& source) {
    auto* stash = static_cast<Stash*>(malloc(sizeof(Stash) + length));
    if (stash == nullptr) return false;
    stash->length = length;
    stash->source = source;
    memcpy(stash->data, data, length);
    Stash* old = nullptr;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        Entry* entry = EntryFor(fd, true);
        if (entry == nullptr) {
            old = stash;
        } else {
            old = entry->stash;
            entry->stash = stash;
            entry->flags |= kStashed;
        }
    }
    free(old);
    return old != stash;
}

size_t TakeStash(int fd, bool peek, uint8_t* buffer, size_t capacity, sockaddr_storage* source) {
    Stash* taken = nullptr;
    size_t length = 0;
    {
        std::lock_guard<std::mutex> hold(g_lock);
        Entry* entry = EntryFor(fd, false);
        if (entry == nullptr || entry->stash == nullptr) return 0;
        const Stash& stash = *entry->stash;
        length = stash.length;
        if (buffer != nullptr) memcpy(buffer, stash.data, length < capacity ? length : capacity);
        *source = stash.source;
        if (!peek) {
            taken = entry->stash;
            entry->stash = nullptr;
            entry->flags &= static_cast<uint8_t>(~kStashed);
        }
    }
    free(taken);
    return length;
}

}  // namespace plat::posix
