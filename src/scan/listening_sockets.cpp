#include "scan/listening_sockets.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "base/file_reading.h"
#include "base/text.h"
#include "base/unique_fd.h"

namespace halvo {
namespace {

// The kernel never sends a dump batch larger than 32 KiB, whatever the
// receiver offers; a bigger buffer would only cost memory.
constexpr size_t kNetlinkBufferSize = 32768;

bool sendDumpRequest(int fd, uint8_t family, uint32_t sequence) {
    struct {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } request{};
    request.header.nlmsg_len = sizeof(request);
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
    request.body.sdiag_family = family;
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_states = 1u << TCP_LISTEN;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do {
        sent = sendto(fd, &request, sizeof(request), 0, reinterpret_cast<sockaddr*>(&kernel),
                      sizeof(kernel));
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof(request));
}

enum class Batch { more, done, failed };

// Adds the listeners of one received batch. `interrupted` is set when the
// kernel marks the dump as inconsistent (the table changed while it ran).
Batch readBatch(const char* data, size_t length, uint32_t sequence, ListeningSockets& sockets,
                bool& interrupted) {
    while (length >= sizeof(nlmsghdr)) {
        nlmsghdr header;
        std::memcpy(&header, data, sizeof(header));
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > length) {
            return Batch::failed;
        }
        const char* payload = data + NLMSG_HDRLEN;
        const size_t payloadLength = header.nlmsg_len - NLMSG_HDRLEN;
        if (header.nlmsg_seq == sequence) {
            if ((header.nlmsg_flags & NLM_F_DUMP_INTR) != 0) {
                interrupted = true;
            }
            if (header.nlmsg_type == NLMSG_ERROR) {
                return Batch::failed;
            }
            if (header.nlmsg_type == NLMSG_DONE) {
                // A dump that broke off in the kernel ends with a negative error.
                int error = 0;
                if (payloadLength >= sizeof(error)) {
                    std::memcpy(&error, payload, sizeof(error));
                }
                return error < 0 ? Batch::failed : Batch::done;
            }
            if (header.nlmsg_type == SOCK_DIAG_BY_FAMILY &&
                payloadLength >= sizeof(inet_diag_msg)) {
                inet_diag_msg message;
                std::memcpy(&message, payload, sizeof(message));
                if (message.idiag_state == TCP_LISTEN) {
                    sockets[message.idiag_inode] = {ntohs(message.id.idiag_sport),
                                                    message.idiag_uid};
                }
            }
        }
        const size_t step = NLMSG_ALIGN(header.nlmsg_len);
        if (step >= length) {
            break;
        }
        data += step;
        length -= step;
    }
    return Batch::more;
}

enum class Dump { complete, interrupted, refused };

// Reads the reply to its end even when it is marked interrupted, so that the
// socket is free for the next dump.
Dump dumpFamily(int fd, uint8_t family, uint32_t sequence, char* buffer,
                ListeningSockets& sockets) {
    if (!sendDumpRequest(fd, family, sequence)) {
        return Dump::refused;
    }
    bool interrupted = false;
    for (;;) {
        iovec vector{buffer, kNetlinkBufferSize};
        sockaddr_nl sender{};
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof(sender);
        message.msg_iov = &vector;
        message.msg_iovlen = 1;
        ssize_t received = recvmsg(fd, &message, 0);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received < 0) {
            return Dump::refused;
        }
        // Any process may write to this socket; only the kernel's word counts.
        if (message.msg_namelen < sizeof(sender) || sender.nl_family != AF_NETLINK ||
            sender.nl_pid != 0) {
            continue;
        }
        if (received == 0 || (message.msg_flags & MSG_TRUNC) != 0) {
            return Dump::refused;
        }
        switch (readBatch(buffer, static_cast<size_t>(received), sequence, sockets, interrupted)) {
            case Batch::more:
                break;
            case Batch::done:
                return interrupted ? Dump::interrupted : Dump::complete;
            case Batch::failed:
                return Dump::refused;
        }
    }
}

bool isHex(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

// Whitespace-separated fields of one line, as many as `fields` holds.
size_t splitFields(std::string_view line, std::string_view* fields, size_t capacity) {
    size_t count = 0;
    size_t i = 0;
    while (count < capacity) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        if (i == line.size()) {
            break;
        }
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            ++i;
        }
        fields[count++] = line.substr(start, i - start);
    }
    return count;
}

// "  0: 0100007F:1F90 00000000:0000 0A ... uid timeout inode ..."
void addLine(std::string_view line, ListeningSockets& sockets) {
    constexpr size_t kUidField = 7;
    constexpr size_t kInodeField = 9;
    std::string_view fields[kInodeField + 1];
    if (splitFields(line, fields, kInodeField + 1) != kInodeField + 1) {
        return;
    }
    const std::string_view state = fields[3];
    if (state.size() != 2 || parseHex32(state) != TCP_LISTEN) {
        return;
    }
    const std::string_view local = fields[1];
    const size_t colon = local.find(':');
    if (colon == std::string_view::npos) {
        return;
    }
    const std::string_view address = local.substr(0, colon);
    const std::string_view port = local.substr(colon + 1);
    const std::optional<uint32_t> portNumber = port.size() == 4 ? parseHex32(port) : std::nullopt;
    if ((address.size() != 8 && address.size() != 32) || !isHex(address) || !portNumber) {
        return;
    }
    const std::optional<uint64_t> uid = parseUint64(fields[kUidField]);
    const std::optional<uint64_t> inode = parseUint64(fields[kInodeField]);
    if (!uid || *uid > UINT32_MAX || !inode) {
        return;
    }
    sockets[*inode] = {static_cast<int64_t>(*portNumber), static_cast<uint32_t>(*uid)};
}

}  // namespace

std::optional<ListeningSockets> listeningSocketsFromNetlink() {
    UniqueFd fd(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!fd.valid()) {
        return std::nullopt;
    }
    return listeningSocketsFromNetlink(fd.get());
}

std::optional<ListeningSockets> listeningSocketsFromNetlink(int socketFd) {
    alignas(nlmsghdr) char buffer[kNetlinkBufferSize];
    uint32_t sequence = 0;
    // An interrupted dump may have missed sockets: it is taken once more, and
    // then left to /proc/net.
    for (int attempt = 0; attempt < 2; ++attempt) {
        ListeningSockets sockets;
        bool interrupted = false;
        for (uint8_t family : {uint8_t{AF_INET}, uint8_t{AF_INET6}}) {
            const Dump dump = dumpFamily(socketFd, family, ++sequence, buffer, sockets);
            if (dump == Dump::refused) {
                return std::nullopt;
            }
            if (dump == Dump::interrupted) {
                interrupted = true;
                break;
            }
        }
        if (!interrupted) {
            return sockets;
        }
    }
    return std::nullopt;
}

void addListeningFromProcNetText(std::string_view text, ListeningSockets& sockets) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        addLine(text.substr(0, end), sockets);
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
}

std::optional<ListeningSockets> listeningSocketsFromProcNet(const std::string& procRoot) {
    ListeningSockets sockets;
    bool read = false;
    for (const char* table : {"/net/tcp", "/net/tcp6"}) {
        const std::string path = procRoot + table;
        if (const auto text = readAll(UniqueFd(open(path.c_str(), O_RDONLY | O_CLOEXEC)))) {
            addListeningFromProcNetText(*text, sockets);
            read = true;
        }
    }
    if (!read) {
        return std::nullopt;
    }
    return sockets;
}

}  // namespace halvo
