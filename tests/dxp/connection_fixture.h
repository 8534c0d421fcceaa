// A connection whose client is one end of a loopback TCP pair held by the test, with the
// event queue emptied before and after.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dxp/dxp.h"

class ConnectionTest : public ::testing::Test {
  protected:
    Socket peer = invalid_socket; // the client's end

    void SetUp() override {
        create_event_queue(nullptr);
        Socket server = invalid_socket;
        ASSERT_FALSE(net_loopback_pair(server, peer));
        reset_dxp_ring();
        dxp_connection.client_socket.store(server);
    }

    void TearDown() override {
        close_dxp_connection();
        if (peer != invalid_socket) net_close(peer);
        drain_events();
    }

    static std::vector<int> drain_events() {
        std::vector<int> codes;
        for (int code; (code = wait_event(0)) != -1;) codes.push_back(code);
        return codes;
    }

    // Feeds bytes to the receiver's step as one chunk; true when it stopped taking bytes.
    static bool feed(const std::string& bytes) {
        return receive_bytes(bytes.data(), int(bytes.size()));
    }

    // Takes the next message; the text and whether it was refused as too long.
    static std::string take(DxpMessage& message, bool* too_long = nullptr) {
        char text[dxp_text_size];
        bool refused = next_dxp_message(text, message);
        if (too_long) *too_long = refused;
        return text;
    }
    static std::string take() {
        DxpMessage message;
        return take(message);
    }

    // Reads exactly size bytes from the peer, or what came within the time.
    std::string read_peer_exactly(size_t size, int timeout_ms = 2000) const {
        std::string bytes;
        char chunk[512];
        int64_t deadline = clock_ms() + timeout_ms;
        while (bytes.size() < size && clock_ms() < deadline) {
            if (net_wait_readable(peer, 1) != 1) continue;
            size_t want = size - bytes.size() < sizeof chunk ? size - bytes.size() : sizeof chunk;
            int n = net_receive(peer, chunk, int(want));
            if (n <= 0) break;
            bytes.append(chunk, size_t(n));
        }
        return bytes;
    }

    // True when the server has closed its end: the peer reads end of data or an error.
    bool peer_sees_close(int timeout_ms = 2000) const {
        char chunk[512];
        int64_t deadline = clock_ms() + timeout_ms;
        while (clock_ms() < deadline) {
            if (net_wait_readable(peer, 1) != 1) continue;
            if (net_receive(peer, chunk, sizeof chunk) <= 0) return true;
        }
        return false;
    }
};

inline std::string with_zero(const std::string& text) {
    return text + std::string(1, '\0');
}
