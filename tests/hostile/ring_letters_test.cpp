// Every possible first byte of a message, through the receiver's own chunk handling: the seven
// letters post their event and the bytes after them are kept; anything else closes the
// connection once, posts no event of its own and keeps nothing that follows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dxp/dxp.h"

namespace {

std::vector<int> drain_events() {
    std::vector<int> codes;
    for (int code; (code = wait_event(0)) != -1;) codes.push_back(code);
    return codes;
}

TEST(RingLetters, EveryFirstByteIsAcceptedOnlyForTheSevenLetters) {
    create_event_queue(nullptr);
    const std::string letters = "RAMECBK";
    for (int value = 0; value < 256; ++value) {
        SCOPED_TRACE(value);
        Socket server = invalid_socket, peer = invalid_socket;
        ASSERT_FALSE(net_loopback_pair(server, peer));
        reset_dxp_ring();
        dxp_connection.client_socket.store(server);
        drain_events();

        // A message before, the one under test, one after, all in one chunk.
        std::string bytes("E00\0", 4);
        bytes += char(value);
        bytes += std::string("12\0E11\0", 7);
        const bool stopped = receive_bytes(bytes.data(), int(bytes.size()));
        const size_t at = letters.find(char(value));
        const bool known = value != 0 && at != std::string::npos;

        const std::vector<int> events = drain_events();
        if (known) {
            EXPECT_FALSE(stopped);
            EXPECT_EQ(events, (std::vector<int>{DXP_GAMEEND, int(at) + 1, DXP_GAMEEND}));
            EXPECT_NE(dxp_connection.client_socket.load(), invalid_socket);
        } else {
            EXPECT_TRUE(stopped);
            EXPECT_EQ(events, (std::vector<int>{DXP_GAMEEND, DXP_CONNECTIONLOST}));
            EXPECT_EQ(dxp_connection.client_socket.load(), invalid_socket);
            // Stored up to the bad message's zero byte, nothing after it.
            const int stored = value == 0 ? 5 : 8;
            EXPECT_EQ(dxp_connection.write_index.load(), stored);
        }

        // The first message comes out whole and decoded either way.
        char text[dxp_text_size];
        DxpMessage message{};
        EXPECT_FALSE(next_dxp_message(text, message));
        EXPECT_STREQ(text, "E00");
        EXPECT_EQ(message.type, DXP_GAMEEND);

        close_dxp_connection();
        drain_events();
        net_close(peer);
    }
}

} // namespace
