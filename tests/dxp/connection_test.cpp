// The connection with its threads: the receiver on a real loopback socket, sending, and
// the closing of the connection from both sides at once.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "tests/dxp/connection_fixture.h"

namespace {

void send_all(Socket socket, const std::string& bytes) {
    for (size_t at = 0; at < bytes.size();) {
        const int n = net_send(socket, bytes.data() + at, int(bytes.size() - at));
        ASSERT_GT(n, 0) << "send failed";
        at += size_t(n);
    }
}

} // namespace

class Receiver : public ConnectionTest {
  protected:
    std::thread receiver;

    void start_receiver() {
        dxp_connection.receiver_running.store(true);
        receiver = std::thread(run_receiver, nullptr);
    }
    void client_leaves() {
        net_close(peer);
        peer = invalid_socket;
    }
    void TearDown() override {
        close_dxp_connection(); // wakes the receiver if it still waits
        if (receiver.joinable()) receiver.join();
        ConnectionTest::TearDown();
    }
};

TEST_F(Receiver, FullRingHoldsTheClientBackAndLosesNothing) {
    start_receiver();
    constexpr int count = 2000;
    std::thread client([this] {
        std::string all;
        for (int i = 0; i < count; ++i) all += with_zero("C" + std::to_string(i));
        send_all(peer, all);
    });
    // The main thread takes nothing until the receiver has filled the ring and stopped.
    EXPECT_TRUE(wait_until([] { return dxp_ring_room() == 0; }));
    pause_ms(50);
    EXPECT_EQ(dxp_ring_room(), 0);
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(wait_event(5000), DXP_CHAT) << "message " << i;
        DxpMessage m;
        ASSERT_EQ(take(m), "C" + std::to_string(i));
        ASSERT_EQ(std::string(m.chat.text), std::to_string(i));
    }
    client.join();
    EXPECT_EQ(wait_event(50), -1); // one event per message, no more
    client_leaves();
    EXPECT_EQ(wait_event(5000), DXP_CONNECTIONLOST);
    receiver.join();
    EXPECT_FALSE(dxp_connection.receiver_running.load());
    EXPECT_EQ(wait_event(50), -1);
}

TEST_F(Receiver, ClientLeavingPostsTheLossOnce) {
    start_receiver();
    send_all(peer, with_zero("E00"));
    client_leaves();
    EXPECT_EQ(wait_event(5000), DXP_GAMEEND);
    EXPECT_EQ(wait_event(5000), DXP_CONNECTIONLOST);
    receiver.join();
    EXPECT_EQ(dxp_connection.client_socket.load(), invalid_socket);
    close_dxp_connection();
    EXPECT_EQ(wait_event(50), -1);
    EXPECT_EQ(take(), "E00"); // the message before the loss is still there
}

TEST_F(Receiver, MainThreadClosingWakesABlockedReceiver) {
    start_receiver();
    pause_ms(20); // the receiver is now blocked in its receive
    close_dxp_connection();
    receiver.join(); // bounded by the test's timeout
    EXPECT_EQ(wait_event(5000), DXP_CONNECTIONLOST);
    EXPECT_EQ(wait_event(50), -1);
}

TEST_F(Receiver, OverlongMessageStopsTheReceiverUntilTheMainThreadRefusesIt) {
    start_receiver();
    send_all(peer, "C" + std::string(200, 'z')); // no zero ever comes
    EXPECT_EQ(wait_event(5000), DXP_CHAT);
    receiver.join(); // it takes no more bytes
    EXPECT_NE(dxp_connection.client_socket.load(), invalid_socket);
    DxpMessage m;
    bool too_long = false;
    take(m, &too_long);
    EXPECT_TRUE(too_long);
    EXPECT_EQ(wait_event(5000), DXP_CONNECTIONLOST);
    EXPECT_TRUE(peer_sees_close());
}

TEST_F(Receiver, BothSidesClosingAtOncePostOneLoss) {
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        if (round > 0) connect_pair();
        start_receiver();
        std::atomic<bool> go{false};
        std::thread client([&] {
            while (!go.load()) {
            }
            net_close(peer);
        });
        if (round % 3 == 0) pause_ms(1); // sometimes the receiver is already in its receive
        go.store(true);
        close_dxp_connection();
        client.join();
        receiver.join();
        peer = invalid_socket;
        EXPECT_EQ(wait_event(5000), DXP_CONNECTIONLOST);
        EXPECT_EQ(wait_event(0), -1);
        EXPECT_EQ(dxp_connection.client_socket.load(), invalid_socket);
    }
}

using Sending = ConnectionTest;

TEST_F(Sending, SendsTheTextWithItsZeroAndKeepsItForTheEchoOrPrintsNothing) {
    DxpMessage m;
    std::memset(&m, 0, sizeof m);
    m.type = DXP_MOVE;
    m.move.from_square = 32;
    m.move.to_square = 28;
    char text[dxp_send_size];
    send_dxp_message(m, text);
    EXPECT_STREQ(text, "M0000322800");
    EXPECT_EQ(read_peer_exactly(12), with_zero("M0000322800"));

    std::memset(&m, 0, sizeof m);
    m.type = DXP_GAMEEND;
    testing::internal::CaptureStdout();
    send_dxp_message_quietly(m);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(read_peer_exactly(4), with_zero("E00"));
}

TEST_F(Sending, AnalysisRelaySendsTheFirst126CharactersAsAChat) {
    std::string line;
    for (int i = 0; i < 162; ++i) line += char('a' + i % 26);
    testing::internal::CaptureStdout();
    analysis_relay(line.c_str());
    const std::string wire = "C" + line.substr(0, 126);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Sent: \"" + wire + "\"\n");
    EXPECT_EQ(read_peer_exactly(128), with_zero(wire));
    pause_ms(20);
    EXPECT_EQ(net_wait_readable(peer, 0), 0); // 128 bytes, nothing more
}

TEST_F(Sending, FailedSendClosesOnceAndRaisesNoSignal) {
    net_close(peer); // the client has gone: sends fail, and must not raise SIGPIPE
    peer = invalid_socket;
    DxpMessage m;
    std::memset(&m, 0, sizeof m);
    m.type = DXP_CHAT;
    std::memset(m.chat.text, 's', 126);
    char text[dxp_send_size];
    for (int i = 0; i < 200 && dxp_connection.client_socket.load() != invalid_socket; ++i) {
        send_dxp_message(m, text);
        pause_ms(2);
    }
    EXPECT_EQ(dxp_connection.client_socket.load(), invalid_socket);
    // Closed: nothing more is sent and the loss is not reported again.
    send_dxp_message(m, text);
    close_dxp_connection();
    EXPECT_EQ(drain_events(), std::vector<int>{DXP_CONNECTIONLOST});
}
