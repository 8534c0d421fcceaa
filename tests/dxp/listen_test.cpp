// Listening on the protocol's own port 27531 for one client.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "tests/dxp/connection_fixture.h"

namespace {

// Connects to the server's port, retrying while it is not listening yet.
Socket connect_client(int timeout_ms = 5000) {
    Socket s = invalid_socket;
    wait_until(
        [&] {
            return (s = net_connect("127.0.0.1", std::to_string(dxp_port).c_str())) !=
                   invalid_socket;
        },
        timeout_ms);
    return s;
}

bool wait_receiver_end() {
    return wait_until([] { return !dxp_connection.receiver_running.load(); });
}

std::string receive_some(Socket s) {
    char chunk[256];
    if (net_wait_readable(s, 2) != 1) return "";
    const int n = net_receive(s, chunk, sizeof chunk);
    return n > 0 ? std::string(chunk, size_t(n)) : "";
}

// A "K1" from the client arrives as its event and its text.
void expect_k1_through(Socket client) {
    ASSERT_EQ(net_send(client, "K1\0", 3), 3);
    EXPECT_EQ(wait_event(5000), DXP_BACKACC);
    EXPECT_EQ(take(), "K1");
}

// One attempt that fails within its one-second wait, with no client accepted.
void expect_failed_attempt(int at_least_ms, int below_ms) {
    const int64_t start = clock_ms();
    EXPECT_TRUE(listen_and_accept());
    const int64_t elapsed = clock_ms() - start;
    EXPECT_GE(elapsed, at_least_ms);
    EXPECT_LT(elapsed, below_ms);
    EXPECT_EQ(dxp_connection.client_socket.load(), invalid_socket);
}

} // namespace

TEST(Listen, AcceptsOneClientAndListensAgainAtOnceAfterClosingFirst) {
    create_event_queue(nullptr);
    ASSERT_EQ(dxp_port, 27531);
    std::atomic<int> attempts{0};
    std::thread server([&] {
        do ++attempts;
        while (listen_and_accept() && attempts < 10);
    });
    Socket client = connect_client();
    server.join();
    ASSERT_NE(client, invalid_socket);
    ASSERT_NE(dxp_connection.client_socket.load(), invalid_socket);
    EXPECT_STREQ(dxp_connection.service, "27531");
    EXPECT_EQ(dxp_connection.event_message, 0x401u);
    expect_k1_through(client);
    DxpMessage reply;
    std::memset(&reply, 0, sizeof reply);
    reply.type = DXP_GAMEEND;
    send_dxp_message_quietly(reply);
    EXPECT_EQ(receive_some(client), std::string("E00", 4));

    // The server closes first, so its end of the connection stays in TIME_WAIT.
    close_dxp_connection();
    EXPECT_EQ(wait_event(5000), DXP_CONNECTIONLOST);
    EXPECT_EQ(receive_some(client), "");
    net_close(client);
    ASSERT_TRUE(wait_receiver_end());
    EXPECT_EQ(wait_event(0), -1);

    // A restarted server must get the port on its first attempt all the same.
    bool failed = true;
    std::thread again([&] { failed = listen_and_accept(); });
    Socket second = connect_client(3000);
    again.join();
    EXPECT_FALSE(failed);
    ASSERT_NE(second, invalid_socket);
    net_close(second);
    EXPECT_EQ(wait_event(5000), DXP_CONNECTIONLOST);
    EXPECT_TRUE(wait_receiver_end());
}

TEST(Listen, AttemptOnATakenPortPausesInsteadOfSpinning) {
    ListenAddress* address = nullptr; // another program holds the port
    ASSERT_FALSE(net_lookup_passive("27531", address));
    Socket holder = net_socket(address);
    ASSERT_NE(holder, invalid_socket);
    ASSERT_FALSE(net_bind(holder, address));
    ASSERT_FALSE(net_listen(holder));
    net_free_address(address);
    expect_failed_attempt(900, 5000);
    net_close(holder);
}

TEST(Listen, NoClientWithinASecondFailsTheAttempt) {
    expect_failed_attempt(900, 2500); // one wait, no extra pause
}

TEST(Listen, ClientArrivingBetweenAttemptsIsAcceptedNotReset) {
    // The kernel holds the connection on the still-open listening socket until it is accepted.
    ASSERT_TRUE(listen_and_accept());
    Socket client = net_connect("127.0.0.1", std::to_string(dxp_port).c_str());
    ASSERT_NE(client, invalid_socket);
    const int64_t start = clock_ms();
    EXPECT_FALSE(listen_and_accept());
    EXPECT_LT(clock_ms() - start, 500);
    expect_k1_through(client);
    net_close(client);
    EXPECT_EQ(wait_event(5000), DXP_CONNECTIONLOST);
    EXPECT_TRUE(wait_receiver_end());
}
