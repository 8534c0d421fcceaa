// The connections to the followers (the server, and the opponent when refereeing):
// zero-terminated messages over TCP, and the check of every received text before it is decoded.
#include <cstdio>
#include <cstring>

#include "dxp/dxp.h"
#include "platform/platform.h"
#include "tools/dxp_match/match.h"

MatchLink match_link;

namespace {

struct SocketLink {
    Socket socket;
    char buffer[4 * dxp_text_size]; // received bytes not yet handed out
    int used;
};
SocketLink socket_links[2] = {{invalid_socket, {}, 0}, {invalid_socket, {}, 0}};

bool socket_send(int side, const char* text) {
    SocketLink& link = socket_links[side];
    if (link.socket == invalid_socket) return true;
    const int length = int(strlen(text)) + 1; // the zero byte ends the message
    int sent = 0;
    while (sent < length) {
        int n = net_send(link.socket, text + sent, length - sent);
        if (n <= 0) return true;
        sent += n;
    }
    return false;
}

// Hands out the first complete message of the buffer, if there is one.
ReceiveResult take_message(SocketLink& link, char* text, int size, bool& found) {
    found = false;
    const void* zero = memchr(link.buffer, 0, size_t(link.used));
    if (!zero) {
        // No end yet: more than the longest message means the sender is not speaking DXP.
        if (link.used > dxp_max_text) return receive_too_long;
        return receive_message;
    }
    int length = int(static_cast<const char*>(zero) - link.buffer);
    if (length > dxp_max_text || length + 1 > size) return receive_too_long;
    memcpy(text, link.buffer, size_t(length) + 1);
    link.used -= length + 1;
    memmove(link.buffer, link.buffer + length + 1, size_t(link.used));
    found = true;
    return receive_message;
}

// Whichever side of the mask has a message first; the wait ends the moment one arrives.
ReceiveResult socket_receive(int mask, int& side, char* text, int size, int timeout_seconds) {
    const int64_t deadline = clock_ms() + int64_t(timeout_seconds) * 1000;
    side = mask & 1 ? 0 : 1;
    for (;;) {
        Socket waiting[2];
        int sides[2], count = 0;
        for (int s = 0; s < 2; ++s) {
            if (!(mask >> s & 1)) continue;
            side = s;
            SocketLink& link = socket_links[s];
            if (link.socket == invalid_socket) return receive_closed;
            bool found = false;
            ReceiveResult result = take_message(link, text, size, found);
            if (found || result != receive_message) return result;
            waiting[count] = link.socket;
            sides[count++] = s;
        }
        side = sides[0];
        const int64_t left = deadline - clock_ms();
        if (left <= 0) return receive_timeout;
        const int ready = net_wait_any(waiting, count, int(left));
        if (ready == -2) return receive_closed;
        if (ready < 0) continue;
        side = sides[ready];
        SocketLink& link = socket_links[side];
        int room = int(sizeof link.buffer) - link.used;
        int n = net_receive(link.socket, link.buffer + link.used, room);
        if (n <= 0) return receive_closed;
        link.used += n;
    }
}

void socket_close(int side) {
    SocketLink& link = socket_links[side];
    if (link.socket == invalid_socket) return;
    net_shutdown_send(link.socket);
    net_close(link.socket);
    link.socket = invalid_socket;
    link.used = 0;
    net_stop();
}

bool digits(const char* text, int from, int count) {
    for (int i = from; i < from + count; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

} // namespace

bool open_socket_link(int side, const char* host, const char* port, int retry_seconds) {
    if (net_start()) {
        printf("Cannot start the network library.\n");
        return true;
    }
    // A server listens in short turns and may not be up yet: try again for a while.
    const int64_t give_up = clock_ms() + int64_t(retry_seconds) * 1000;
    Socket s = net_connect(host, port);
    while (s == invalid_socket && clock_ms() < give_up) {
        pause_ms(200);
        s = net_connect(host, port);
    }
    if (s == invalid_socket) {
        char reason[200];
        last_error_text(reason, sizeof reason);
        size_t length = strlen(reason);
        while (length > 0 && (reason[length - 1] == '.' || reason[length - 1] == ' '))
            reason[--length] = '\0'; // the line ends with its own full stop
        printf("Cannot connect to %s port %s%s%s.\n", host, port, reason[0] ? ": " : "", reason);
        net_stop();
        return true;
    }
    socket_links[side].socket = s;
    socket_links[side].used = 0;
    match_link = MatchLink{socket_send, socket_receive, socket_close};
    return false;
}

bool check_dxp_text(const char* text, char* error, size_t size) {
    int length = 0;
    while (length <= dxp_max_text && text[length] != '\0') ++length;
    auto fail = [&](const char* why) {
        snprintf(error, size, "%s", why);
        return true;
    };
    if (length == 0) return fail("empty message");
    if (length > dxp_max_text) return fail("message too long");
    switch (text[0]) {
    case 'A':
        if (length != 34) return fail("GAMEACC of the wrong length");
        if (!digits(text, 33, 1)) return fail("GAMEACC acceptance is not a digit");
        return false;
    case 'M': {
        if (length < 11 || !digits(text, 1, length - 1)) return fail("MOVE with a non-digit field");
        int count = (text[9] - '0') * 10 + (text[10] - '0');
        if (count > max_capture_pieces) return fail("MOVE takes more pieces than any move can");
        if (length != 11 + 2 * count) return fail("MOVE length does not fit its capture count");
        return false;
    }
    case 'E':
        if (length != 3 || !digits(text, 1, 2)) return fail("malformed GAMEEND");
        return false;
    case 'C':
        return false;
    case 'B':
        if (length != 5 || !digits(text, 1, 3) || (text[4] != 'W' && text[4] != 'Z'))
            return fail("malformed BACKREQ");
        return false;
    case 'K':
        if (length != 2 || !digits(text, 1, 1)) return fail("malformed BACKACC");
        return false;
    case 'R':
        if (length != 43 && length != 94) return fail("malformed GAMEREQ");
        return false;
    default:
        return fail("unknown message type");
    }
}
