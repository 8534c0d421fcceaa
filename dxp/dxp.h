// DamExchange: the message record, its wire text, and the one client connection.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

enum DxpType : int32_t {
    DXP_GAMEREQ = 1,
    DXP_GAMEACC = 2,
    DXP_MOVE = 3,
    DXP_GAMEEND = 4,
    DXP_CHAT = 5,
    DXP_BACKREQ = 6,
    DXP_BACKACC = 7,
};
constexpr int DXP_CONNECTIONLOST = 100; // an event code only, never a record type

constexpr int dxp_max_captured = 59; // room in the MOVE body
constexpr int dxp_max_text = 132;    // longest message taken, without its zero byte
constexpr int dxp_text_size = 133;   // buffer for a received text
constexpr int dxp_send_size = 128;   // buffer for a sent text (longest: a full CHAT)
constexpr int dxp_max_sent_captures = (dxp_send_size - 1 - 11) / 2; // 58 fit a sent MOVE

// The bodies of the seven message types.
struct DxpGameReq {
    int16_t version;
    char initiator_name[33];
    char follower_colour;
    int16_t thinking_time;
    int16_t move_count;
    char start_position; // 'A' standard start, else the colour to move
    char position[50];   // not terminated
};
struct DxpGameAcc {
    char follower_name[33];
    uint8_t acceptance;
};
struct DxpMove {
    int16_t time;
    int16_t from_square;
    int16_t to_square;
    int16_t capture_count;
    int16_t captured[dxp_max_captured];
};
struct DxpGameEnd {
    int16_t reason;
    int16_t stop_code;
};
struct DxpChat {
    char text[127];
};
struct DxpBackReq {
    int16_t move_number;
    char colour;
};
struct DxpBackAcc {
    int16_t acceptance;
};

struct DxpMessage {
    int32_t type; // 1..7; 0 for no message
    union {
        DxpGameReq gamereq;
        DxpGameAcc gameacc;
        DxpMove move;
        DxpGameEnd gameend;
        DxpChat chat;
        DxpBackReq backreq;
        DxpBackAcc backacc;
    };
};

// Writes the wire text with its zero byte into text (at least dxp_send_size bytes). A type
// outside 1..7 gives an empty text. Numbers are clamped to their field's width, and a MOVE
// carries at most dxp_max_sent_captures squares, so the text always fits the buffer.
void encode_dxp_message(const DxpMessage& message, char* text);
// Fills the record from one message text (the characters before its zero byte, at most
// dxp_max_text of them). A text with an unknown first character leaves the record as it was.
void decode_dxp_message(const char* text, DxpMessage& message);
void trim_trailing_spaces(char* text);

// ---- the connection ------------------------------------------------------------------
constexpr int dxp_ring_size = 1024; // one byte always stays free: 1023 unread bytes at most
constexpr int dxp_receive_chunk = 299;

struct DxpConnection {
    char service[12];
    uint32_t event_message;                            // the window message of an event, WM_USER+1
    std::atomic<Socket> client_socket{invalid_socket}; // invalid_socket when there is none
    // The descriptor of a closed connection is released only once no thread uses it any more,
    // so that it can never be reused under a receive or a send still running on it.
    std::atomic<int32_t> socket_users;                  // the receiver, a send in progress
    std::atomic<Socket> retired_socket{invalid_socket}; // closed, waiting for its last user
    ThreadHandle receiver_thread;       // released as soon as the receiver runs: it ends by itself
    std::atomic<bool> receiver_running; // from the accepted client until the receiver ends
    std::atomic<int32_t> read_index;    // written by the main thread only
    std::atomic<int32_t> write_index;   // written by the receiver thread only
    char ring[dxp_ring_size];
    uint32_t receiver_thread_id;
};
extern DxpConnection dxp_connection;
// The port listen_and_accept listens on. The protocol fixes it; tests may change it.
extern int dxp_port;

// One attempt to get the client, waiting at most one second. Returns true on failure; an
// attempt that fails before its wait (the port is taken, say) pauses a second first. A
// failed bind or listen prints "bind; <reason>" when the reason is new. Once a client is
// accepted nothing listens, unless keep_listening: then the next client's connection is
// taken by the system meanwhile and waits for the next call.
bool listen_and_accept(bool keep_listening);
void run_receiver(void*);
// Receiver side, one received chunk: stores its bytes in the ring and posts one event per
// complete message. size must not exceed dxp_ring_room(). Returns true when no more bytes
// may be taken: a bad message closed the connection, or an over-long one is waiting for the
// main thread to refuse it.
bool receive_bytes(const char* data, int size);
// Bytes the receiver may store now without touching any the main thread has not taken.
int dxp_ring_room();
// Empties the ring and forgets any partly received message (receiver start, and tests).
void reset_dxp_ring();
// Main thread: takes the next complete message out of the ring into text (dxp_text_size
// bytes) and decodes it. An empty text and a cleared record when none is complete.
// Returns true when the message was too long and the connection has been closed: the record
// is then left as it was and must not be acted on.
bool next_dxp_message(char* text, DxpMessage& message);
// Main thread: encodes and sends; the wire text stays in text for the echo.
void send_dxp_message(const DxpMessage& message, char* text);
// The same with a buffer of its own, for a reply that is not echoed.
void send_dxp_message_quietly(const DxpMessage& message);
// True once the accepted client's connection has closed, from either side.
bool dxp_connection_lost();
// Closes the connection once, whichever thread finds it open first; posts
// DXP_CONNECTIONLOST when it did the closing.
void close_dxp_connection();
// Main thread, once a client's connection is lost and the server is to serve another: waits
// for the receiver thread to end, then forgets every byte and event of that client. True
// (after printing why) when the receiver does not end.
bool end_dxp_client();
// Sends an analysis line to the client as a CHAT of its first 126 characters and prints
// "Sent: ..."; the dispatcher hands it to the board wait only when "-pvall" is set.
void analysis_relay(const char* line);
