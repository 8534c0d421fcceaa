// A connection whose client is one end of a loopback TCP pair held by the test, with the
// event queue emptied before and after; and the waits the connection tests share.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dxp/dxp.h"

inline std::string with_zero(const std::string& text) {
    return text + std::string(1, '\0');
}

// True once done() holds, false when timeout_ms passed first.
inline bool wait_until(const std::function<bool()>& done, int timeout_ms = 5000) {
    const int64_t deadline = clock_ms() + timeout_ms;
    while (!done())
        if (clock_ms() > deadline)
            return false;
        else
            pause_ms(1);
    return true;
}

// Takes the next message; the text and whether it was refused as too long.
inline std::string take(DxpMessage& message, bool* too_long = nullptr) {
    char text[dxp_text_size];
    const bool refused = next_dxp_message(text, message);
    if (too_long) *too_long = refused;
    return text;
}
inline std::string take() {
    DxpMessage message;
    return take(message);
}

class ConnectionTest : public ::testing::Test {
  protected:
    Socket peer = invalid_socket; // the client's end

    void SetUp() override {
        create_event_queue(nullptr);
        connect_pair();
    }
    void connect_pair() {
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

    // Reads exactly size bytes from the peer, or what came within two seconds.
    std::string read_peer_exactly(size_t size) const {
        std::string bytes;
        char chunk[512];
        const int64_t deadline = clock_ms() + 2000;
        while (bytes.size() < size && clock_ms() < deadline) {
            if (net_wait_readable(peer, 1) != 1) continue;
            const int n =
                net_receive(peer, chunk, int(std::min(size - bytes.size(), sizeof chunk)));
            if (n <= 0) break;
            bytes.append(chunk, size_t(n));
        }
        return bytes;
    }

    // True when the server has closed its end: the peer reads end of data or an error.
    bool peer_sees_close() const {
        char chunk[512];
        return wait_until(
            [&] {
                return net_wait_readable(peer, 0) == 1 &&
                       net_receive(peer, chunk, sizeof chunk) <= 0;
            },
            2000);
    }
};
