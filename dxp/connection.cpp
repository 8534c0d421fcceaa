// The one client connection: listening, the receiver thread with its ring, and sending.
//
// The ring: the receiver thread alone writes the bytes and write_index, the main thread alone
// writes read_index. A byte is stored before write_index passes it, and a message's event is
// posted only after write_index has passed its zero byte, so a posted message is always
// whole in the ring. The receiver never stores more than the free room, so a client that
// runs ahead of the main thread is held back by TCP instead of overwriting unread bytes.
#include <cstdio>
#include <cstring>

#include "dxp/dxp.h"

DxpConnection dxp_connection;
int dxp_port = 27531;

namespace {

constexpr int32_t ring_mask = dxp_ring_size - 1;
constexpr uint32_t event_window_message = 0x401; // WM_USER + 1
constexpr int ring_full_poll_ms = 2;
constexpr int failed_attempt_pause_ms = 1000;
constexpr int receiver_end_wait_ms = 10000;

// The message the receiver is in the middle of: its first character and how many
// characters have arrived. The receiver thread's alone once it runs.
struct Framing {
    int32_t length;
    char letter;
};
Framing framing;

int event_code(char letter) {
    switch (letter) {
    case 'R':
        return DXP_GAMEREQ;
    case 'A':
        return DXP_GAMEACC;
    case 'M':
        return DXP_MOVE;
    case 'E':
        return DXP_GAMEEND;
    case 'C':
        return DXP_CHAT;
    case 'B':
        return DXP_BACKREQ;
    case 'K':
        return DXP_BACKACC;
    default:
        return 0;
    }
}

// An attempt that fails before its one-second wait would otherwise be retried at once, and
// a port held by another program would keep the processor busy.
bool fail_attempt_slowly() {
    pause_ms(failed_attempt_pause_ms);
    return true;
}

// A port that cannot be had must say so, or a user believes the server listens while a
// client reaches someone else's. Retried every second, so the reason is printed when it
// first appears and again only when it changes.
char last_listen_failure[300];

void report_listen_failure(const char* call_name) {
    char reason[256];
    last_error_text(reason, sizeof reason);
    char line[sizeof last_listen_failure];
    std::snprintf(line, sizeof line, "%s; %s\n", call_name, reason);
    if (std::strcmp(line, last_listen_failure) == 0) return;
    std::memcpy(last_listen_failure, line, sizeof line);
    print_line("%s", line);
}

// A thread that works on the socket outside close_dxp_connection takes a use of it first.
// The descriptor of a closed connection is released by whoever ends the last use, so it is
// never closed, and its number never reused, under a receive or a send still running on it.
void release_retired_socket() {
    if (dxp_connection.socket_users.load() != 0) return;
    Socket retired = dxp_connection.retired_socket.exchange(invalid_socket);
    if (retired != invalid_socket) net_close(retired);
}

void end_use() {
    dxp_connection.socket_users.fetch_sub(1);
    release_retired_socket();
}

// The open socket with a use taken on it, or invalid_socket when the connection is closed.
Socket use_socket() {
    dxp_connection.socket_users.fetch_add(1);
    Socket socket = dxp_connection.client_socket.load();
    if (socket == invalid_socket) end_use();
    return socket;
}

void send_text(const char* text) {
    Socket socket = use_socket();
    if (socket == invalid_socket) return;       // closed already: nothing to send, no event
    int remaining = int(std::strlen(text)) + 1; // the zero byte ends the message
    int at = 0;
    while (remaining > 0 && dxp_connection.client_socket.load() != invalid_socket) {
        int sent = net_send(socket, text + at, remaining);
        if (sent <= 0) {
            close_dxp_connection();
            break;
        }
        at += sent;
        remaining -= sent;
    }
    end_use();
}

} // namespace

// The listening socket outlives an attempt that merely timed out: closing it every second
// would reset a client whose connection arrived just as the wait ended. Only the connect
// thread touches it.
static Socket listener = invalid_socket;

static bool close_listener_and_fail(bool waited) {
    net_close(listener);
    listener = invalid_socket;
    net_stop();
    return waited ? true : fail_attempt_slowly();
}

bool listen_and_accept(bool keep_listening) {
    DxpConnection& c = dxp_connection;
    if (listener == invalid_socket) {
        if (net_start()) return fail_attempt_slowly();
        c.event_message = event_window_message;
        c.client_socket.store(invalid_socket);
        c.receiver_thread = ThreadHandle{0};
        std::snprintf(c.service, sizeof c.service, "%d", dxp_port);

        ListenAddress* address = nullptr;
        if (net_lookup_passive(c.service, address)) {
            net_stop();
            return fail_attempt_slowly();
        }
        listener = net_socket(address);
        if (listener == invalid_socket) {
            net_free_address(address);
            net_stop();
            return fail_attempt_slowly();
        }
        const char* failed_call = net_bind(listener, address) ? "bind"
                                  : net_listen(listener)      ? "listen"
                                                              : nullptr;
        net_free_address(address);
        if (failed_call != nullptr) {
            report_listen_failure(failed_call);
            return close_listener_and_fail(false);
        }
    }

    int ready = net_wait_readable(listener, 1);
    if (ready == 0) return true; // no client within the second: listen on, try again
    if (ready != 1) return close_listener_and_fail(false);
    Socket client = net_accept(listener);
    if (keep_listening) {
        // The listener stays, so that the next client's connection is taken while this one is
        // served, and waits its turn. The client holds a start of the socket library of its
        // own, which its close gives back.
        if (client == invalid_socket) return fail_attempt_slowly();
        if (net_start()) {
            net_close(client);
            return fail_attempt_slowly();
        }
    } else {
        net_close(listener);
        listener = invalid_socket;
        if (client == invalid_socket) {
            net_stop();
            return fail_attempt_slowly();
        }
    }

    // No event exists yet: the ring can be set up before the receiver starts.
    reset_dxp_ring();
    c.receiver_running.store(true);
    c.client_socket.store(client);
    if (start_thread(run_receiver, nullptr, c.receiver_thread, c.receiver_thread_id)) {
        c.receiver_running.store(false);
        c.client_socket.store(invalid_socket);
        net_close(client);
        net_stop();
        return true;
    }
    release_thread(c.receiver_thread); // it ends by itself
    return false;
}

int dxp_ring_room() {
    int32_t read = dxp_connection.read_index.load(std::memory_order_acquire);
    int32_t write = dxp_connection.write_index.load(std::memory_order_relaxed);
    return int((read - write - 1) & ring_mask);
}

void reset_dxp_ring() {
    dxp_connection.read_index.store(0);
    dxp_connection.write_index.store(0);
    framing = Framing{0, '\0'};
}

void run_receiver(void*) {
    Socket socket = use_socket();
    if (socket != invalid_socket) {
        char chunk[dxp_receive_chunk];
        // Until the main thread closes the connection, or this loop does.
        while (dxp_connection.client_socket.load() != invalid_socket) {
            int room = dxp_ring_room();
            if (room == 0) {
                // Full: wait for the main thread to take messages. Every message is at most
                // 133 bytes, so a full ring always holds complete messages with queued events.
                pause_ms(ring_full_poll_ms);
                continue;
            }
            int received =
                net_receive(socket, chunk, room < dxp_receive_chunk ? room : dxp_receive_chunk);
            if (received <= 0) {
                close_dxp_connection(); // posts the event unless the main thread closed first
                break;
            }
            if (receive_bytes(chunk, received)) break;
        }
        end_use();
    }
    dxp_connection.receiver_running.store(false);
}

bool receive_bytes(const char* data, int size) {
    DxpConnection& c = dxp_connection;
    if (size > dxp_ring_room()) {
        print_line("Receive ring overrun.\n");
        fatal_stop();
    }
    int32_t write = c.write_index.load(std::memory_order_relaxed);
    for (int i = 0; i < size; ++i) {
        char byte = data[i];
        c.ring[write] = byte;
        write = (write + 1) & ring_mask;
        c.write_index.store(write, std::memory_order_release);
        if (byte != '\0') {
            if (framing.length == 0) framing.letter = byte;
            if (++framing.length < dxp_text_size) continue;
            // 133 characters and still no zero: too long, whatever follows. Its event goes
            // now so that the main thread takes the message and refuses it, and nothing more
            // is stored: a client that never sends a zero cannot fill the ring for good.
            int code = event_code(framing.letter);
            if (code == 0)
                close_dxp_connection();
            else
                post_event(code);
            return true;
        }
        char letter = framing.length > 0 ? framing.letter : '\0'; // two zeros: empty message
        framing.length = 0;
        int code = event_code(letter);
        if (code == 0) {
            // A protocol violation: no event for it, the rest of the chunk is dropped.
            close_dxp_connection();
            return true;
        }
        post_event(code);
    }
    return false;
}

bool next_dxp_message(char* text, DxpMessage& message) {
    DxpConnection& c = dxp_connection;
    const int32_t write = c.write_index.load(std::memory_order_acquire);
    int32_t read = c.read_index.load(std::memory_order_relaxed);
    int copied = 0;
    while (read != write) {
        char byte = c.ring[read];
        read = (read + 1) & ring_mask;
        text[copied++] = byte;
        if (byte == '\0') {
            c.read_index.store(read, std::memory_order_release);
            decode_dxp_message(text, message);
            return false;
        }
        // Checked before the end of the data, so 133 characters without a zero are refused
        // even when nothing has arrived after them.
        if (copied == dxp_text_size) {
            c.read_index.store(read, std::memory_order_release);
            text[dxp_text_size - 2] = '\0'; // the first 131 characters
            close_dxp_connection();
            return true;
        }
    }
    // Nothing, or only part of a message: read_index stays where it was.
    std::memset(&message, 0, sizeof message);
    text[0] = '\0';
    return false;
}

void send_dxp_message(const DxpMessage& message, char* text) {
    encode_dxp_message(message, text);
    send_text(text);
}

void send_dxp_message_quietly(const DxpMessage& message) {
    char text[dxp_send_size];
    send_dxp_message(message, text);
}

bool dxp_connection_lost() {
    return dxp_connection.client_socket.load() == invalid_socket;
}

void close_dxp_connection() {
    // One atomic step: whichever thread gets the open socket out of the record closes it and
    // reports the loss; the other finds it invalid and does nothing.
    Socket socket = dxp_connection.client_socket.exchange(invalid_socket);
    if (socket == invalid_socket) return;
    post_event(DXP_CONNECTIONLOST);
    net_shutdown(socket); // wakes a receiver blocked on it
    dxp_connection.retired_socket.store(socket);
    release_retired_socket();
    net_stop();
}

bool end_dxp_client() {
    // The socket is closed by now, which wakes a receiver blocked on it; one that waits for
    // room in the ring looks at the socket every few milliseconds.
    const int64_t give_up = clock_ms() + receiver_end_wait_ms;
    while (dxp_connection.receiver_running.load()) {
        if (clock_ms() > give_up) {
            print_line("The receiver thread did not end.\n");
            return true;
        }
        pause_ms(1);
    }
    // Only now can no more of the client's bytes or events arrive.
    discard_events();
    reset_dxp_ring();
    return false;
}

void analysis_relay(const char* line) {
    DxpMessage message;
    std::memset(&message, 0, sizeof message);
    message.type = DXP_CHAT;
    for (int i = 0; i < 126 && line[i] != '\0'; ++i) message.chat.text[i] = line[i];
    char text[dxp_send_size];
    send_dxp_message(message, text);
    print_line("Sent: \"%s\"\n", text);
}
