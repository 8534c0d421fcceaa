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

struct DxpMessage {
    int32_t type; // 1..7; 0 for no message
    union {
        struct {
            int16_t version;
            char initiator_name[33];
            char follower_colour;
            int16_t thinking_time;
            int16_t move_count;
            char start_position; // 'A' standard start, else the colour to move
            char position[50];   // not terminated
        } gamereq;
        struct {
            char follower_name[33];
            uint8_t acceptance;
        } gameacc;
        struct {
            int16_t time;
            int16_t from_square;
            int16_t to_square;
            int16_t capture_count;
            int16_t captured[dxp_max_captured];
        } move;
        struct {
            int16_t reason;
            int16_t stop_code;
        } gameend;
        struct {
            char text[127];
        } chat;
        struct {
            int16_t move_number;
            char colour;
        } backreq;
        struct {
            int16_t acceptance;
        } backacc;
    };
};

// Writes the wire text with its zero byte into text (at least dxp_send_size bytes).
void encode_dxp_message(const DxpMessage& message, char* text);
// Fills the record from one message text (the characters before its zero byte).
void decode_dxp_message(const char* text, DxpMessage& message);
void trim_trailing_spaces(char* text);

// ---- the connection ------------------------------------------------------------------
constexpr int dxp_ring_size = 1024;
constexpr int dxp_receive_chunk = 299;

struct DxpConnection {
    char service[12];
    uint32_t event_message;              // the window message of an event, WM_USER+1
    std::atomic<Socket> client_socket;   // invalid_socket when there is none
    ThreadHandle receiver_thread;
    std::atomic<int32_t> read_index;     // written by the main thread only
    std::atomic<int32_t> write_index;    // written by the receiver thread only
    char ring[dxp_ring_size];
    uint32_t receiver_thread_id;
};
extern DxpConnection dxp_connection;

// One attempt to get the client, waiting at most one second. Returns true on failure.
bool listen_and_accept();
void run_receiver(void*);
// Main thread: takes the next complete message out of the ring into text (dxp_text_size
// bytes) and decodes it. An empty text and a cleared record when none is complete.
// Returns true when the message was too long and the connection has been closed.
bool next_dxp_message(char* text, DxpMessage& message);
// Main thread: encodes and sends; the wire text stays in text for the echo.
void send_dxp_message(const DxpMessage& message, char* text);
// Closes the connection once, whichever thread finds it open first; posts
// DXP_CONNECTIONLOST when it did the closing.
void close_dxp_connection();
// Sends an analysis line to the client as a CHAT of its first 126 characters and prints
// "Sent: ..."; the dispatcher hands it to the board wait when "-pvall" is set.
void analysis_relay(const char* line);
