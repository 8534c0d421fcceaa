// Listening on the protocol's own port 27531 for one client.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "dxp/dxp.h"

namespace {

// Connects to the server's port, retrying while it is not listening yet.
Socket connect_client(int timeout_ms = 5000) {
    int64_t deadline = clock_ms() + timeout_ms;
    for (;;) {
        Socket s = net_connect("127.0.0.1", std::to_string(dxp_port).c_str());
        if (s != invalid_socket || clock_ms() > deadline) return s;
        pause_ms(10);
    }
}

bool wait_receiver_end(int timeout_ms = 5000) {
    int64_t deadline = clock_ms() + timeout_ms;
    while (dxp_connection.receiver_running.load())
        if (clock_ms() > deadline)
            return false;
        else
            pause_ms(1);
    return true;
}

std::string receive_some(Socket s) {
    char chunk[256];
    if (net_wait_readable(s, 2) != 1) return "";
    int n = net_receive(s, chunk, sizeof chunk);
    return n > 0 ? std::string(chunk, size_t(n)) : "";
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

    ASSERT_EQ(net_send(client, "K1\0", 3), 3);
    EXPECT_EQ(wait_event(5000), DXP_BACKACC);
    char text[dxp_text_size];
    DxpMessage m;
    EXPECT_FALSE(next_dxp_message(text, m));
    EXPECT_STREQ(text, "K1");

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
    // Another program holds the port.
    ListenAddress* address = nullptr;
    ASSERT_FALSE(net_lookup_passive("27531", address));
    Socket holder = net_socket(address);
    ASSERT_NE(holder, invalid_socket);
    ASSERT_FALSE(net_bind(holder, address));
    ASSERT_FALSE(net_listen(holder));
    net_free_address(address);

    int64_t start = clock_ms();
    EXPECT_TRUE(listen_and_accept());
    int64_t elapsed = clock_ms() - start;
    EXPECT_GE(elapsed, 900);
    EXPECT_LT(elapsed, 5000);
    EXPECT_EQ(dxp_connection.client_socket.load(), invalid_socket);
    net_close(holder);
}

TEST(Listen, NoClientWithinASecondFailsTheAttempt) {
    int64_t start = clock_ms();
    EXPECT_TRUE(listen_and_accept());
    int64_t elapsed = clock_ms() - start;
    EXPECT_GE(elapsed, 900);
    EXPECT_LT(elapsed, 2500); // one wait, no extra pause
    EXPECT_EQ(dxp_connection.client_socket.load(), invalid_socket);
}

TEST(Listen, ClientArrivingBetweenAttemptsIsAcceptedNotReset) {
    // The attempt times out, the client connects before the next attempt waits: the kernel
    // holds the connection on the still-open listening socket until it is accepted.
    ASSERT_TRUE(listen_and_accept());
    Socket client = net_connect("127.0.0.1", std::to_string(dxp_port).c_str());
    ASSERT_NE(client, invalid_socket);
    int64_t start = clock_ms();
    EXPECT_FALSE(listen_and_accept());
    EXPECT_LT(clock_ms() - start, 500);
    ASSERT_EQ(net_send(client, "K1\0", 3), 3);
    EXPECT_EQ(wait_event(5000), DXP_BACKACC);
    char text[dxp_text_size];
    DxpMessage m;
    EXPECT_FALSE(next_dxp_message(text, m));
    EXPECT_STREQ(text, "K1");
    net_close(client);
    EXPECT_EQ(wait_event(5000), DXP_CONNECTIONLOST);
    EXPECT_TRUE(wait_receiver_end());
}
