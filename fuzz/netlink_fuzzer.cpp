// Replies to the sock_diag dumps. Only the kernel can send on a netlink
// socket, so this binary stands in for it: sendto and recvmsg on one
// descriptor are answered from the input, every other descriptor goes to the
// C library. The input is a series of datagrams, each
//   flags (1 byte) | length (2 bytes, little-endian) | bytes
// with flags bit 0: sent by a process rather than the kernel; bit 1: cut
// short (MSG_TRUNC); bit 2: every message carries the sequence number of the
// last request, so that the fuzzer need not guess it. When the input runs
// out, reading fails as a broken socket would. fuzz/make-netlink-seeds.py
// writes the seed corpus.
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "check.h"
#include "scan/listening_sockets.h"

namespace {

struct Replies {
    int fd = -1;
    const uint8_t* data = nullptr;
    size_t size = 0;
    uint32_t sequence = 0;
    int requests = 0;
};

// The one fuzzing run in flight (libFuzzer runs inputs one at a time).
Replies replies;

void stampSequence(uint8_t* message, size_t length, uint32_t sequence) {
    while (length >= sizeof(nlmsghdr)) {
        nlmsghdr header;
        std::memcpy(&header, message, sizeof(header));
        header.nlmsg_seq = sequence;
        std::memcpy(message, &header, sizeof(header));
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > length ||
            NLMSG_ALIGN(header.nlmsg_len) >= length) {
            return;
        }
        const size_t step = NLMSG_ALIGN(header.nlmsg_len);
        message += step;
        length -= step;
    }
}

ssize_t nextReply(msghdr* message) {
    if (replies.size < 3) {
        errno = ECONNRESET;
        return -1;
    }
    const uint8_t flags = replies.data[0];
    size_t length = replies.data[1] | (static_cast<size_t>(replies.data[2]) << 8);
    replies.data += 3;
    replies.size -= 3;
    length = std::min(length, replies.size);

    const iovec& vector = message->msg_iov[0];
    const size_t copied = std::min(length, vector.iov_len);
    std::memcpy(vector.iov_base, replies.data, copied);
    replies.data += length;
    replies.size -= length;
    if (flags & 4) {
        stampSequence(static_cast<uint8_t*>(vector.iov_base), copied, replies.sequence);
    }

    sockaddr_nl sender{};
    sender.nl_family = AF_NETLINK;
    sender.nl_pid = (flags & 1) ? 4242 : 0;
    const size_t nameLength = std::min<size_t>(message->msg_namelen, sizeof(sender));
    std::memcpy(message->msg_name, &sender, nameLength);
    message->msg_namelen = sizeof(sender);
    message->msg_flags = (flags & 2) || copied < length ? MSG_TRUNC : 0;
    return static_cast<ssize_t>(copied);
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t sendto(int fd, const void* buffer, size_t length, int flags,
                          const sockaddr* address, socklen_t addressLength) {
    if (fd != replies.fd || replies.fd < 0) {
        static const auto real =
            next<ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t)>("sendto");
        return real(fd, buffer, length, flags, address, addressLength);
    }
    FUZZ_CHECK(length >= sizeof(nlmsghdr));
    nlmsghdr header;
    std::memcpy(&header, buffer, sizeof(header));
    FUZZ_CHECK(header.nlmsg_len == length);
    replies.sequence = header.nlmsg_seq;
    ++replies.requests;
    return static_cast<ssize_t>(length);
}

extern "C" ssize_t recvmsg(int fd, msghdr* message, int flags) {
    if (fd != replies.fd || replies.fd < 0) {
        static const auto real = next<ssize_t (*)(int, msghdr*, int)>("recvmsg");
        return real(fd, message, flags);
    }
    return nextReply(message);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A real descriptor number that nothing else reads from.
    static const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    replies = Replies{fd, data, size, 0, 0};

    const auto sockets = halvo::listeningSocketsFromNetlink(fd);
    // Two families, and one more try of both after an interrupted dump.
    FUZZ_CHECK(replies.requests >= 1 && replies.requests <= 4);
    if (sockets) {
        FUZZ_CHECK(replies.requests >= 2);
        for (const auto& [inode, socket] : *sockets) {
            FUZZ_CHECK(socket.port >= 0 && socket.port <= 0xFFFF);
        }
    }
    replies.fd = -1;
    return 0;
}
