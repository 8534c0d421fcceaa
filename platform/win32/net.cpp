// Sockets on Windows: Windows Sockets 2.2. No socket option is set.
// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <windows.h>
#include <ws2tcpip.h>

#include "platform/platform.h"

namespace {

// The lookup's own result list stands for the opaque ListenAddress.
const addrinfo* as_info(const ListenAddress* address) {
    return reinterpret_cast<const addrinfo*>(address);
}

SOCKET as_native(Socket socket) {
    return static_cast<SOCKET>(socket);
}
Socket as_ours(SOCKET socket) {
    return socket == INVALID_SOCKET ? invalid_socket : static_cast<Socket>(socket);
}

} // namespace

bool net_start() {
    WSADATA data;
    const int error = WSAStartup(MAKEWORD(2, 2), &data);
    if (error != 0) {
        SetLastError(DWORD(error));
        return true;
    }
    return false;
}

void net_stop() {
    WSACleanup();
}

bool net_lookup_passive(const char* service, ListenAddress*& address) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* result = nullptr;
    const int error = getaddrinfo(nullptr, service, &hints, &result);
    if (error != 0 || result == nullptr) {
        WSASetLastError(error != 0 ? error : WSAHOST_NOT_FOUND);
        address = nullptr;
        return true;
    }
    address = reinterpret_cast<ListenAddress*>(result);
    return false;
}

void net_free_address(ListenAddress* address) {
    if (address != nullptr) freeaddrinfo(reinterpret_cast<addrinfo*>(address));
}

Socket net_socket(const ListenAddress* address) {
    const addrinfo* info = as_info(address);
    return as_ours(socket(info->ai_family, info->ai_socktype, info->ai_protocol));
}

bool net_bind(Socket socket, const ListenAddress* address) {
    const addrinfo* info = as_info(address);
    return bind(as_native(socket), info->ai_addr, static_cast<int>(info->ai_addrlen)) ==
           SOCKET_ERROR;
}

bool net_listen(Socket socket) {
    return listen(as_native(socket), SOMAXCONN) == SOCKET_ERROR;
}

int net_wait_readable(Socket socket, int seconds) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(as_native(socket), &readable);
    timeval wait{seconds, 0};
    const int result = select(0, &readable, nullptr, nullptr, &wait);
    if (result == SOCKET_ERROR) return -1;
    return result > 0 ? 1 : 0;
}

int net_wait_any(const Socket* sockets, int count, int milliseconds) {
    if (count < 1 || count > 8) return -2;
    fd_set readable;
    FD_ZERO(&readable);
    for (int i = 0; i < count; ++i) FD_SET(as_native(sockets[i]), &readable);
    timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
    const int result = select(0, &readable, nullptr, nullptr, &wait);
    if (result == SOCKET_ERROR) return -2;
    for (int i = 0; i < count && result > 0; ++i)
        if (FD_ISSET(as_native(sockets[i]), &readable)) return i;
    return -1;
}

Socket net_accept(Socket socket) {
    return as_ours(accept(as_native(socket), nullptr, nullptr));
}

int net_receive(Socket socket, char* data, int size) {
    return recv(as_native(socket), data, size, 0);
}

int net_send(Socket socket, const char* data, int size) {
    return send(as_native(socket), data, size, 0);
}

void net_shutdown_send(Socket socket) {
    shutdown(as_native(socket), SD_SEND);
}

void net_shutdown(Socket socket) {
    shutdown(as_native(socket), SD_BOTH);
    // A shutdown alone leaves a receive that is already waiting blocked (so under wine):
    // cancel it, so that it returns with an error.
    CancelIoEx(reinterpret_cast<HANDLE>(as_native(socket)), nullptr);
}

void net_close(Socket socket) {
    if (socket == invalid_socket) return;
    // Shutting both directions first wakes a thread blocked in recv on this socket.
    shutdown(as_native(socket), SD_BOTH);
    closesocket(as_native(socket));
}

Socket net_connect(const char* host, const char* service) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* result = nullptr;
    if (const int error = getaddrinfo(host, service, &hints, &result); error != 0) {
        WSASetLastError(error);
        return invalid_socket;
    }
    SOCKET connection = INVALID_SOCKET;
    for (const addrinfo* info = result; info != nullptr; info = info->ai_next) {
        connection = socket(info->ai_family, info->ai_socktype, info->ai_protocol);
        if (connection == INVALID_SOCKET) continue;
        if (connect(connection, info->ai_addr, static_cast<int>(info->ai_addrlen)) == 0) break;
        const int error = WSAGetLastError();
        closesocket(connection);
        WSASetLastError(error);
        connection = INVALID_SOCKET;
    }
    freeaddrinfo(result);
    // Small messages go out at once, not held back until the last one is acknowledged.
    const BOOL on = TRUE;
    if (connection != INVALID_SOCKET)
        setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                   sizeof on);
    return as_ours(connection);
}

bool net_loopback_pair(Socket& one, Socket& other) {
    one = other = invalid_socket;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) return true;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0; // any free port
    int length = sizeof address;
    auto* generic = reinterpret_cast<sockaddr*>(&address);
    bool failed = bind(listener, generic, length) != 0 || listen(listener, 1) != 0 ||
                  getsockname(listener, generic, &length) != 0;
    SOCKET first = INVALID_SOCKET;
    SOCKET second = INVALID_SOCKET;
    if (!failed) {
        first = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        failed = first == INVALID_SOCKET || connect(first, generic, length) != 0;
    }
    if (!failed) {
        second = accept(listener, nullptr, nullptr);
        failed = second == INVALID_SOCKET;
    }
    const int error = WSAGetLastError();
    closesocket(listener);
    if (failed) {
        if (first != INVALID_SOCKET) closesocket(first);
        WSASetLastError(error);
        return true;
    }
    one = as_ours(first);
    other = as_ours(second);
    return false;
}
