// The DXP wire text both ways, framing in the receive ring, the receiver thread and the single
// close, and listening for the client.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "dxp/dxp.h"
#include "tests/unit/support.h"

namespace {

std::string z(std::string text) { // '|' stands for the zero byte that ends a message
    for (char& c : text) c = c == '|' ? '\0' : c;
    return text;
}

std::string name(const std::string& n) {
    return n + std::string(32 - n.size(), ' ');
}
const std::string pos = "zzzzzzzzzzzzzzzzzzzzeeeeeeeeeewwwwwwwwwwwwwwwwwwwW";

// Each text decoded and encoded again ("=": unchanged); the encoder stays within its buffer.
TEST(Codec, TextsBothWays) {
    const std::string rows[][2] = {
        {"R01" + name("Robot") + "W010050A", "="},
        {"R02" + name(" x y") + "Z123999BW" + pos, "="},
        {"R01" + name("x") + "Z010050BWzz", "="},
        {"R01Rob", "R01" + name("Rob")},
        {"AKavro" + std::string(27, ' ') + "0", "="},
        {"A" + name("n") + "x", "A" + name("n") + "0"},
        {"M0007322803270918", "="},
        {"M000023320128", "="},
        {"M00x53a2803", "M0000032803000000"},
        {"M00003223032827", "M0000322303282700"},
        {"M0000322302281", "M00003223022800"},
        {"M0000322801", "M000032280100"}, // claims a square it does not carry
        {"M0000322", "M0000320200"},
        {"E#x", "="},
        {"E", "E00"},
        {"C" + std::string(126, 'c'), "="},
        {"C" + std::string(131, 'e'), "C" + std::string(126, 'e')},
        {"B012Z", "="},
        {"B01", "B001"},
        {"K?", "K0"},
        {"D123", ""},
    };
    for (const auto& [text, expected] : rows) {
        DxpMessage m;
        std::memset(&m, 0x5A, sizeof m);
        decode_dxp_message(text.c_str(), m);
        char out[dxp_send_size + 8];
        std::memset(out, '#', sizeof out);
        encode_dxp_message(m, out);
        EXPECT_EQ(out, expected == "=" ? text : expected) << text;
        EXPECT_EQ(out[dxp_send_size], '#');
    }
}

TEST(Codec, EncoderClampsToItsFields) {
    DxpMessage m{};
    m.type = DXP_MOVE, m.move.from_square = 32, m.move.to_square = 28;
    m.move.capture_count = dxp_max_captured;
    std::fill_n(m.move.captured, dxp_max_captured, int16_t(11));
    char out[dxp_send_size];
    encode_dxp_message(m, out);
    EXPECT_EQ(out, "M0000322858" + std::string(2 * dxp_max_sent_captures, '1'));
    m = DxpMessage{};
    m.type = DXP_BACKREQ, m.backreq.move_number = 1234, m.backreq.colour = 'Z';
    encode_dxp_message(m, out);
    EXPECT_STREQ(out, "B999Z");
    m.type = 9;
    encode_dxp_message(m, out);
    EXPECT_STREQ(out, "");
}

std::string drain() { // the events waiting, as letters: a code, or L for the lost connection
    std::string codes;
    for (int c; (c = wait_event(0)) != -1;) codes += c == DXP_CONNECTIONLOST ? 'L' : char('0' + c);
    return codes;
}

Socket peer = invalid_socket;
void connect_ring() {
    create_event_queue(nullptr);
    Socket server;
    ASSERT_FALSE(net_loopback_pair(server, peer));
    reset_dxp_ring();
    dxp_connection.client_socket.store(server);
    drain();
}
void disconnect() {
    close_dxp_connection();
    net_close(peer);
    drain();
}

std::string take() {
    char text[dxp_text_size];
    DxpMessage m;
    const bool refused = next_dxp_message(text, m);
    return "[" + std::string(text) + (refused ? "]<long>" : "]");
}

// Each step feeds a chunk (0, or 1 when the receiver stops taking bytes) or takes a message
// ("<"); then come the events posted, L for the lost connection.
TEST(Framing, ChunksAndTakes) {
    const std::string c131 = "C" + std::string(131, 'x'), c132 = "C" + std::string(132, 'y');
    const std::string ones = "M" + std::string(100, '1');
    const struct {
        int at; // both ring indices at the start
        std::vector<std::string> steps;
        std::string expected;
    } rows[] = {
        {0, {"M00", "0032", "2800", "|", "<", "<"}, "0000[M0000322800][] 3"},
        {0, {"R01|A|M|E00|C|B001W|K0|", "<", "<"}, "0[R01][A] 1234567"},
        {0, {"K1|E20|Chello|R0", "<", "<", "<", "<"}, "0[K1][E20][Chello][] 745"},
        {1018, {"M000", "03228", "0128|", "<"}, "000[M000032280128] 3"},
        {0, {c131 + "|", "<"}, "0[" + c131 + "] 5"},
        {0, {"K1|" + c132 + "|E00|", "<", "<"}, "1[K1][" + c132.substr(0, 131) + "]<long> 75L"},
        {0, {ones, std::string(100, '2'), "<"}, "01[" + ones + std::string(30, '2') + "]<long> 3L"},
        {0, {"X" + std::string(140, 'x')}, "1 L"},
        {0, {"K1|D12|E00|", "<", "<", "<"}, "1[K1][D12][] 7L"},
        {0, {"K1|Chi||E00|", "<", "<"}, "1[K1][Chi] 75L"},
        {0, {"<", "K0|M00003", "<", "<", "22800|", "<"}, "[]0[K0][]0[M0000322800] 73"},
    };
    for (const auto& r : rows) {
        connect_ring();
        dxp_connection.read_index.store(r.at);
        dxp_connection.write_index.store(r.at);
        std::string got;
        for (const std::string& step : r.steps) {
            const std::string bytes = z(step);
            got += step == "<"                                      ? take()
                   : receive_bytes(bytes.data(), int(bytes.size())) ? "1"
                                                                    : "0";
        }
        got += " " + drain();
        EXPECT_EQ(got, r.expected) << r.steps[0];
        EXPECT_EQ(dxp_connection_lost(), got.back() == 'L') << r.steps[0];
        disconnect();
    }
    // A full ring: nothing is stored over bytes the main thread has not taken.
    dxp_connection.read_index.store(1);
    dxp_connection.write_index.store(0);
    EXPECT_EQ(printed([] { receive_bytes("K1", 2); }), "Receive ring overrun.\n<stop>");
}

// ---- the threads: run under ThreadSanitizer as connection_threads ----

TEST(Threads, FullRingHoldsTheClientBackAndLosesNothing) {
    connect_ring();
    dxp_connection.receiver_running.store(true);
    std::thread receiver(run_receiver, nullptr);
    std::string all;
    for (int i = 0; i < 2000; ++i) all += z("C" + std::to_string(i) + "|");
    std::thread client([&] {
        for (size_t at = 0; at < all.size();) {
            const int n = net_send(peer, all.data() + at, int(all.size() - at));
            if (n <= 0) return;
            at += size_t(n);
        }
    });
    for (int i = 0; i < 500 && dxp_ring_room() != 0; ++i) pause_ms(10);
    EXPECT_EQ(dxp_ring_room(), 0); // the main thread has taken nothing yet
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(wait_event(5000), DXP_CHAT) << i;
        ASSERT_EQ(take(), "[C" + std::to_string(i) + "]");
    }
    client.join();
    net_close(peer);
    peer = invalid_socket;
    EXPECT_EQ(wait_event(5000), DXP_CONNECTIONLOST);
    receiver.join();
    EXPECT_EQ(wait_event(50), -1);
    EXPECT_FALSE(dxp_connection.receiver_running.load());
}

TEST(Threads, BothSidesClosingAtOncePostOneLoss) {
    for (int round = 0; round < 300; ++round) {
        connect_ring();
        dxp_connection.receiver_running.store(true);
        std::thread receiver(run_receiver, nullptr);
        std::atomic<bool> go{false};
        std::thread client([&] {
            while (!go.load()) {
            }
            if (round % 2) net_close(peer);
        });
        if (round % 3 == 0) pause_ms(1); // sometimes the receiver already waits in its receive
        go.store(true);
        close_dxp_connection();
        client.join();
        receiver.join();
        if (round % 2 == 0) net_close(peer);
        EXPECT_EQ(drain(), "L") << round;
    }
}

// ---- listening ----

// A client connects to the listening server, sends "K1" and leaves again.
void client_visit(bool server_closes_first) {
    Socket client = invalid_socket;
    for (int i = 0; i < 500 && client == invalid_socket; ++i, pause_ms(10))
        client = net_connect("127.0.0.1", std::to_string(dxp_port).c_str());
    ASSERT_EQ(net_send(client, "K1\0", 3), 3);
    EXPECT_EQ(wait_event(5000), DXP_BACKACC);
    EXPECT_EQ(take(), "[K1]");
    if (server_closes_first) close_dxp_connection(); // its end then stays in TIME_WAIT
    net_close(client);
    EXPECT_EQ(wait_event(5000), DXP_CONNECTIONLOST);
    for (int i = 0; i < 500 && dxp_connection.receiver_running.load(); ++i) pause_ms(10);
}

// A port nobody listens on now, as a test that runs beside others must use.
int free_port() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    bind(probe, reinterpret_cast<sockaddr*>(&a), size);
    getsockname(probe, reinterpret_cast<sockaddr*>(&a), &size);
    close(probe);
    return ntohs(a.sin_port);
}

TEST(Listen, RestartAfterClosingFirstAndAClientBetweenAttempts) {
    create_event_queue(nullptr);
    dxp_port = free_port();
    std::thread client([] { client_visit(true); });
    EXPECT_FALSE(listen_and_accept(false));
    client.join();
    // The port again at once; an attempt that times out keeps listening, so a client that
    // arrives between attempts is accepted at the next one.
    EXPECT_TRUE(listen_and_accept(false));
    client = std::thread([] { client_visit(false); });
    pause_ms(100);
    const int64_t start = clock_ms();
    EXPECT_FALSE(listen_and_accept(false));
    EXPECT_LT(clock_ms() - start, 500);
    client.join();
    dxp_port = 27531;
}

TEST(Listen, PortHeldByAnotherListenerIsReportedOnce) {
    const int holder = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&a), size), 0);
    ASSERT_EQ(listen(holder, 1), 0);
    getsockname(holder, reinterpret_cast<sockaddr*>(&a), &size);
    const int saved_port = dxp_port;
    dxp_port = ntohs(a.sin_port);
    const int64_t start = clock_ms();
    EXPECT_EQ(printed([] { listen_and_accept(false), listen_and_accept(false); }),
              "bind; Address already in use\n");
    EXPECT_GE(clock_ms() - start, 1900); // each failed attempt pauses instead of spinning
    dxp_port = saved_port;
    close(holder);
}

} // namespace
