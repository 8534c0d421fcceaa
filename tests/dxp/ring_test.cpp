// Framing in the receive ring, fed chunk by chunk on one thread so that every interleaving
// of arrival and taking is chosen by the test.
#include <cstring>
#include <stdexcept>

#include "tests/dxp/connection_fixture.h"

using Framing = ConnectionTest;
using Codes = std::vector<int>;

TEST_F(Framing, SplitMessagePostsItsEventOnlyAtItsZeroByte) {
    EXPECT_FALSE(feed("M00"));
    EXPECT_FALSE(feed("0032"));
    EXPECT_FALSE(feed("2800"));
    EXPECT_TRUE(drain_events().empty());
    EXPECT_FALSE(feed(std::string(1, '\0')));
    EXPECT_EQ(drain_events(), Codes{DXP_MOVE});
    DxpMessage m;
    EXPECT_EQ(take(m), "M0000322800");
    EXPECT_EQ(m.move.from_square, 32);
    EXPECT_EQ(m.move.to_square, 28);
}

TEST_F(Framing, SeveralMessagesInOneChunkPostInOrderWithTheirCodes) {
    std::string all;
    for (const char* text : {"R01", "A", "M", "E00", "C", "B001W", "K0"}) all += with_zero(text);
    EXPECT_FALSE(feed(all));
    EXPECT_EQ(drain_events(), (Codes{1, 2, 3, 4, 5, 6, 7}));
    for (int i = 0; i < 7; ++i) take();

    EXPECT_FALSE(feed(with_zero("K1") + with_zero("E20") + with_zero("Chello") + "R0"));
    EXPECT_EQ(drain_events(), (Codes{DXP_BACKACC, DXP_GAMEEND, DXP_CHAT}));
    DxpMessage m;
    EXPECT_EQ(take(m), "K1");
    EXPECT_EQ(m.backacc.acceptance, 1);
    EXPECT_EQ(take(m), "E20");
    EXPECT_EQ(m.gameend.reason, 2);
    EXPECT_EQ(take(m), "Chello");
    EXPECT_STREQ(m.chat.text, "hello");
    EXPECT_EQ(take(m), ""); // "R0" is not complete
    EXPECT_EQ(m.type, 0);
}

TEST_F(Framing, MessageAcrossTheEndOfTheRingIsTakenWhole) {
    // Move both indices to 1018 with messages taken as they come.
    for (int i = 0; i < 9; ++i) {
        ASSERT_FALSE(feed(with_zero("C" + std::string(100, 'f')))); // 102 bytes
        ASSERT_EQ(take().size(), 101u);
    }
    ASSERT_FALSE(feed(with_zero("C" + std::string(98, 'g')))); // 100 bytes: at 1018 now
    ASSERT_EQ(take().size(), 99u);
    ASSERT_EQ(dxp_connection.write_index.load(), 1018);
    drain_events();

    EXPECT_FALSE(feed("M000"));  // 1018..1021
    EXPECT_FALSE(feed("03228")); // 1022, 1023, 0, 1, 2
    EXPECT_TRUE(drain_events().empty());
    EXPECT_FALSE(feed(with_zero("0128"))); // letter sits at 1018, zero at 7
    EXPECT_EQ(dxp_connection.write_index.load(), 8);
    EXPECT_EQ(drain_events(), Codes{DXP_MOVE});
    DxpMessage m;
    EXPECT_EQ(take(m), "M000032280128");
    EXPECT_EQ(m.move.captured[0], 28);
    EXPECT_EQ(dxp_connection.read_index.load(), 8);
}

TEST_F(Framing, MessageOf132CharactersIsTakenAndDecoded) {
    const std::string text = "C" + std::string(131, 'x');
    EXPECT_FALSE(feed(with_zero(text)));
    EXPECT_EQ(drain_events(), Codes{DXP_CHAT});
    DxpMessage m;
    bool too_long = true;
    EXPECT_EQ(take(m, &too_long), text);
    EXPECT_FALSE(too_long);
    EXPECT_EQ(std::strlen(m.chat.text), 126u);
    EXPECT_NE(dxp_connection.client_socket.load(), invalid_socket);
}

TEST_F(Framing, MessageOf133CharactersClosesWhenTheMainThreadTakesIt) {
    // A good message before it still goes through.
    const std::string text = "C" + std::string(132, 'y');
    EXPECT_TRUE(feed(with_zero("K1") + with_zero(text) + with_zero("E00")));
    EXPECT_EQ(drain_events(), (Codes{DXP_BACKACC, DXP_CHAT}));
    EXPECT_NE(dxp_connection.client_socket.load(), invalid_socket); // not until it is taken
    DxpMessage m;
    EXPECT_EQ(take(m), "K1");
    std::memset(&m, 0x33, sizeof m);
    const DxpMessage before = m;
    bool too_long = false;
    EXPECT_EQ(take(m, &too_long), text.substr(0, 131));
    EXPECT_TRUE(too_long);
    EXPECT_EQ(std::memcmp(&m, &before, sizeof m), 0); // left undecoded
    EXPECT_EQ(drain_events(), Codes{DXP_CONNECTIONLOST});
    EXPECT_EQ(dxp_connection.client_socket.load(), invalid_socket);
    EXPECT_TRUE(peer_sees_close());
}

TEST_F(Framing, OverlongMessageIsRefusedBeforeItsZeroArrives) {
    // The receiver stops taking bytes at 133 characters, and the main thread refuses the
    // message, so the ring cannot fill for good.
    EXPECT_FALSE(feed("M" + std::string(100, '1')));
    EXPECT_TRUE(feed(std::string(100, '2')));
    EXPECT_EQ(dxp_connection.write_index.load(), 133);
    EXPECT_EQ(drain_events(), Codes{DXP_MOVE});
    bool too_long = false;
    DxpMessage m;
    take(m, &too_long);
    EXPECT_TRUE(too_long);
    EXPECT_EQ(drain_events(), Codes{DXP_CONNECTIONLOST});
}

TEST_F(Framing, OverlongMessageWithABadLetterClosesAtOnce) {
    EXPECT_TRUE(feed("X" + std::string(140, 'x')));
    EXPECT_EQ(drain_events(), Codes{DXP_CONNECTIONLOST});
    EXPECT_TRUE(peer_sees_close());
}

TEST_F(Framing, BadFirstLetterClosesAndDropsTheRestOfTheChunk) {
    EXPECT_TRUE(feed(with_zero("K1") + with_zero("D12") + with_zero("E00")));
    EXPECT_EQ(drain_events(), (Codes{DXP_BACKACC, DXP_CONNECTIONLOST}));
    EXPECT_EQ(dxp_connection.write_index.load(), 7); // "E00" was never stored
    EXPECT_EQ(dxp_connection.client_socket.load(), invalid_socket);
    EXPECT_TRUE(peer_sees_close());
    EXPECT_EQ(take(), "K1");
}

TEST_F(Framing, EmptyMessageClosesAndEarlierMessagesStillPost) {
    EXPECT_TRUE(feed(with_zero("K1") + with_zero("Chi") + std::string(1, '\0') + with_zero("E00")));
    EXPECT_EQ(drain_events(), (Codes{DXP_BACKACC, DXP_CHAT, DXP_CONNECTIONLOST}));
    EXPECT_EQ(take(), "K1");
    EXPECT_EQ(take(), "Chi");
}

TEST_F(Framing, NothingCompleteGivesAClearedRecordAndKeepsTheReadIndex) {
    DxpMessage m;
    std::memset(&m, 0x44, sizeof m);
    char text[dxp_text_size];
    std::memset(text, 'q', sizeof text);
    EXPECT_FALSE(next_dxp_message(text, m));
    EXPECT_STREQ(text, "");
    EXPECT_EQ(m.type, 0);
    EXPECT_EQ(m.move.capture_count, 0);
    EXPECT_EQ(dxp_connection.read_index.load(), 0);

    ASSERT_FALSE(feed(with_zero("K0") + "M00003"));
    EXPECT_EQ(take(), "K0");
    std::memset(&m, 0x44, sizeof m);
    EXPECT_EQ(take(m), "");
    EXPECT_EQ(m.type, 0);
    EXPECT_EQ(dxp_connection.read_index.load(), 3);
    ASSERT_FALSE(feed(with_zero("22800")));
    EXPECT_EQ(take(m), "M0000322800");
}

TEST_F(Framing, FullRingHasNoRoomUntilTheMainThreadTakesAndNeverOverwrites) {
    const std::string filler = "C" + std::string(9, 'r');
    for (int i = 0; i < 93; ++i) ASSERT_FALSE(feed(with_zero(filler))); // 1023 bytes
    EXPECT_EQ(dxp_ring_room(), 0);
    EXPECT_EQ(drain_events().size(), 93u);
    // Storing beyond the room stops instead of overwriting the oldest message.
    fatal_stop_hook = [] { throw std::runtime_error("stopped"); };
    EXPECT_THROW(feed("K1"), std::runtime_error);
    fatal_stop_hook = nullptr;
    // The room is what the main thread has taken, never more.
    EXPECT_EQ(take(), filler);
    EXPECT_EQ(dxp_ring_room(), 11);
    ASSERT_FALSE(feed(with_zero("Clast_msg")));
    EXPECT_EQ(dxp_ring_room(), 1);
    for (int i = 0; i < 92; ++i) ASSERT_EQ(take(), filler);
    EXPECT_EQ(take(), "Clast_msg");
    EXPECT_EQ(dxp_ring_room(), dxp_ring_size - 1);
}
