// TCP sockets on POSIX: thin wrappers that keep the DXP code free of system headers.
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

// A ListenAddress is never defined: the pointer handed out is the addrinfo list itself.
const addrinfo* as_info(const ListenAddress* address) {
    return reinterpret_cast<const addrinfo*>(address);
}

// getaddrinfo reports through its own codes; keep errno meaningful for last_error_text.
void set_lookup_errno(int code) {
    errno = code == EAI_SYSTEM ? errno : EINVAL;
}

int as_fd(Socket socket) {
    return int(socket);
}

// Every socket is closed on exec, so that no engine started later inherits the port.
Socket open_stream_socket(int family, int type, int protocol) {
    int fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
    return fd < 0 ? invalid_socket : Socket(fd);
}

} // namespace

bool net_start() {
    return false;
}
void net_stop() {}

// IPv4 TCP addresses of host (null with AI_PASSIVE: every local interface); null on failure.
static addrinfo* lookup_tcp4(const char* host, const char* service, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    addrinfo* result = nullptr;
    if (int code = getaddrinfo(host, service, &hints, &result); code != 0) {
        set_lookup_errno(code);
        return nullptr;
    }
    return result;
}

bool net_lookup_passive(const char* service, ListenAddress*& address) {
    address = reinterpret_cast<ListenAddress*>(lookup_tcp4(nullptr, service, AI_PASSIVE));
    return address == nullptr;
}

void net_free_address(ListenAddress* address) {
    if (address) freeaddrinfo(reinterpret_cast<addrinfo*>(address));
}

Socket net_socket(const ListenAddress* address) {
    const addrinfo* info = as_info(address);
    return open_stream_socket(info->ai_family, info->ai_socktype, info->ai_protocol);
}

bool net_bind(Socket socket, const ListenAddress* address) {
    // A restarted server must be able to listen at once, while the port still has
    // connections of the last run in TIME_WAIT.
    int on = 1;
    if (setsockopt(as_fd(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return true;
    const addrinfo* info = as_info(address);
    return bind(as_fd(socket), info->ai_addr, info->ai_addrlen) != 0;
}

bool net_listen(Socket socket) {
    return listen(as_fd(socket), SOMAXCONN) != 0;
}

int net_wait_readable(Socket socket, int seconds) {
    pollfd entry{as_fd(socket), POLLIN, 0};
    int result = poll(&entry, 1, seconds * 1000);
    if (result < 0) return errno == EINTR ? 0 : -1;
    return result > 0 ? 1 : 0;
}

int net_wait_any(const Socket* sockets, int count, int milliseconds) {
    pollfd entries[8];
    if (count < 1 || count > 8) return -2;
    for (int i = 0; i < count; ++i) entries[i] = pollfd{as_fd(sockets[i]), POLLIN, 0};
    int result = poll(entries, nfds_t(count), milliseconds);
    if (result < 0) return errno == EINTR ? -1 : -2;
    for (int i = 0; i < count && result > 0; ++i)
        if (entries[i].revents) return i; // POLLHUP or POLLERR too: the receive will tell
    return -1;
}

Socket net_accept(Socket socket) {
    int fd;
    do fd = accept4(as_fd(socket), nullptr, nullptr, SOCK_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd < 0 ? invalid_socket : Socket(fd);
}

int net_receive(Socket socket, char* data, int size) {
    ssize_t result;
    do result = recv(as_fd(socket), data, size_t(size), 0);
    while (result < 0 && errno == EINTR);
    return int(result);
}

int net_send(Socket socket, const char* data, int size) {
    // MSG_NOSIGNAL: a peer that has gone gives an error here, not a SIGPIPE that ends us.
    ssize_t result;
    do result = send(as_fd(socket), data, size_t(size), MSG_NOSIGNAL);
    while (result < 0 && errno == EINTR);
    return int(result);
}

void net_shutdown_send(Socket socket) {
    shutdown(as_fd(socket), SHUT_WR);
}

void net_shutdown(Socket socket) {
    shutdown(as_fd(socket), SHUT_RDWR);
}

void net_close(Socket socket) {
    // Shutting down first wakes a thread blocked in recv on this socket.
    shutdown(as_fd(socket), SHUT_RDWR);
    close(as_fd(socket));
}

Socket net_connect(const char* host, const char* service) {
    addrinfo* result = lookup_tcp4(host, service, 0);
    if (result == nullptr) return invalid_socket;
    Socket socket = invalid_socket;
    for (const addrinfo* info = result; info; info = info->ai_next) {
        socket = open_stream_socket(info->ai_family, info->ai_socktype, info->ai_protocol);
        if (socket == invalid_socket) continue;
        if (connect(as_fd(socket), info->ai_addr, info->ai_addrlen) == 0) break;
        int error = errno;
        close(as_fd(socket));
        errno = error;
        socket = invalid_socket;
    }
    freeaddrinfo(result);
    // Small messages go out at once, not held back until the last one is acknowledged.
    int on = 1;
    if (socket != invalid_socket)
        setsockopt(as_fd(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return socket;
}

bool net_loopback_pair(Socket& one, Socket& other) {
    one = other = invalid_socket;
    Socket listener = open_stream_socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == invalid_socket) return true;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0; // any free port
    socklen_t length = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    bool failed = bind(as_fd(listener), generic, length) != 0 || listen(as_fd(listener), 1) != 0 ||
                  getsockname(as_fd(listener), generic, &length) != 0;
    if (!failed) {
        one = open_stream_socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        failed = one == invalid_socket || connect(as_fd(one), generic, length) != 0;
    }
    if (!failed) {
        other = net_accept(listener);
        failed = other == invalid_socket;
    }
    close(as_fd(listener));
    if (failed) {
        if (one != invalid_socket) close(as_fd(one));
        one = other = invalid_socket;
    }
    return failed;
}
