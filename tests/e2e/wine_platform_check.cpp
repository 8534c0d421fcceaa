// Checks of the Windows platform layer, run under wine: the clock and pauses, the system's
// error text, threads, sockets on the server's port, the engine child process and its memory,
// the fixed-region check and the hidden-window event queue. Threads and the stand-in's watch
// on its parent are checked by the wine end-to-end game.
// Linked with a low fixed image base, like the stand-in, so that its static region sits at the
// same address in every copy of the program and covers the engine's memory map.
//
// Usage: wine_platform_check.exe [child]: every check (exit status 0 when all pass), or the
// child process the checks start.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/platform.h"

namespace {

int failures = 0;

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ++failures;                                                                            \
            printf("FAILED line %d: %s\n", __LINE__, #condition);                                  \
        }                                                                                          \
    } while (0)

// The engine's memory map spans these addresses; the region below must cover them.
constexpr uintptr_t map_begin = 0x43a000;
constexpr uintptr_t map_end = 0x461000;

alignas(4096) unsigned char region[8 << 20];

// The byte of the region at a fixed address: the same in this process and in its children.
volatile unsigned char& at(uintptr_t address) {
    return *reinterpret_cast<volatile unsigned char*>(&region[address - uintptr_t(region)]);
}

constexpr uint32_t pattern_address = 0x457d01; // where a child shows its pattern
constexpr uint32_t command_address = 0x445340; // where the parent writes to the child
constexpr uint32_t answer_address = 0x440d40;  // where the child answers
constexpr int pattern_size = 50;

unsigned char pattern_byte(int i) {
    return static_cast<unsigned char>(0xa5 ^ (i * 7));
}

// Polls done every step_ms, at most tries times; true once it holds.
template <class Condition> bool wait_until(Condition done, int tries, int step_ms = 10) {
    for (int i = 0; i < tries; ++i, pause_ms(step_ms))
        if (done()) return true;
    return done();
}

// ---- roles of the helper processes -------------------------------------------------------

// Shows a pattern, answers each command byte with its value plus one, and ends on command 0xff
// or when its parent has gone.
int run_memory_child() {
    if (map_fixed_region(map_begin, map_end - map_begin)) return 2;
    for (int i = 0; i < pattern_size; ++i) at(pattern_address + uint32_t(i)) = pattern_byte(i);
    for (int round = 0; round < 1000 && parent_alive(); ++round) {
        const unsigned char command = at(command_address);
        if (command == 0xff) return 0;
        if (command != 0) {
            at(answer_address) = static_cast<unsigned char>(command + 1);
            at(command_address) = 0;
        }
        pause_ms(10);
    }
    return 0;
}

// A check that waits for ever (a lost event, a receive nobody wakes) must not hang the run.
void watchdog(void*) {
    pause_ms(120000);
    printf("FAILED: the checks did not end within two minutes\n");
    fflush(stdout);
    std::_Exit(1);
}

// ---- checks ------------------------------------------------------------------------------

void check_time_and_errors() {
    const int64_t before = clock_ms();
    CHECK(before >= 0);
    pause_ms(200);
    const int64_t slept = clock_ms() - before;
    CHECK(slept >= 195 && slept < 1500);
    bool monotonic = true;
    for (int64_t i = 0, last = clock_ms(), now; i < 10000 && monotonic; ++i, last = now)
        monotonic = (now = clock_ms()) >= last;
    CHECK(monotonic);

    CHECK(change_directory("no such directory here"));
    char text[256];
    last_error_text(text, sizeof text);
    printf("missing directory: \"%s\"\n", text);
    const size_t length = strlen(text);
    CHECK(length > 0 && length <= 255);
    CHECK(length > 0 && text[length - 1] != '\n' && text[length - 1] != '\r');
    char short_text[8];
    CHECK(change_directory("no such directory here"));
    last_error_text(short_text, sizeof short_text);
    CHECK(strlen(short_text) == 7 && strncmp(short_text, text, 7) == 0);
    CHECK(!change_directory("."));
}

struct BlockedReceive {
    Socket socket;
    std::atomic<int> result{1000}; // 1000 while the receive has not returned
};

void receive_one_byte(void* raw) {
    auto* state = static_cast<BlockedReceive*>(raw);
    char byte;
    state->result.store(net_receive(state->socket, &byte, 1));
}

// Receives exactly size bytes, each receive waited for at most two seconds. True when all came.
bool receive_all(Socket socket, char* data, int size) {
    int total = 0;
    while (total < size) {
        if (net_wait_readable(socket, 2) != 1) return false;
        const int got = net_receive(socket, data + total, size - total);
        if (got <= 0) return false;
        total += got;
    }
    return true;
}

// The server's own path on its port: lookup, bind, listen, the one-second wait and accept.
void check_listening() {
    ListenAddress* address = nullptr;
    CHECK(!net_lookup_passive("27531", address));
    if (address == nullptr) return;
    Socket listener = net_socket(address);
    CHECK(listener != invalid_socket);
    // Another program's test may hold the port for a while: wait for it, within bounds.
    bool bind_failed = net_bind(listener, address);
    for (int i = 0; i < 600 && bind_failed; ++i) {
        if (i == 0) printf("port 27531 is taken; waiting for it\n");
        pause_ms(100);
        bind_failed = net_bind(listener, address);
    }
    CHECK(!bind_failed);
    CHECK(!net_listen(listener));

    // Nobody there: the wait gives up after its second.
    int64_t start = clock_ms();
    CHECK(net_wait_readable(listener, 1) == 0);
    const int64_t waited = clock_ms() - start;
    CHECK(waited >= 900 && waited < 3000);

    // A client arrives: the wait ends at once, and the accepted socket is that client's.
    Socket client = net_connect("127.0.0.1", "27531");
    CHECK(client != invalid_socket);
    start = clock_ms();
    CHECK(net_wait_readable(listener, 1) == 1);
    CHECK(clock_ms() - start < 900);
    Socket server = net_accept(listener);
    CHECK(server != invalid_socket);
    const char message[] = "R0\0M0001\0E00";
    CHECK(net_send(client, message, sizeof message) == int(sizeof message));
    char received[sizeof message] = {};
    CHECK(receive_all(server, received, int(sizeof received)) &&
          memcmp(received, message, sizeof message) == 0);
    net_close(server);
    net_close(client);
    net_close(listener);
    net_free_address(address);

    // With nothing listening a connection is refused, with the system's reason.
    CHECK(net_connect("127.0.0.1", "27531") == invalid_socket);
    char text[256];
    last_error_text(text, sizeof text);
    printf("refused connection: \"%s\"\n", text);
    CHECK(text[0] != '\0');
}

// A receive blocked in another thread returns once end() has been called on its socket.
void check_wakes_blocked_receive(void (*end)(Socket), const char* how) {
    Socket one = invalid_socket;
    Socket other = invalid_socket;
    CHECK(!net_loopback_pair(one, other));
    if (one == invalid_socket) return;
    BlockedReceive blocked;
    blocked.socket = other;
    ThreadHandle thread{};
    uint32_t id = 0;
    CHECK(!start_thread(receive_one_byte, &blocked, thread, id));
    pause_ms(200);
    CHECK(blocked.result.load() == 1000); // still blocked: nothing was sent
    end(other);
    for (int i = 0; i < 300 && blocked.result.load() == 1000; ++i) pause_ms(10);
    if (blocked.result.load() > 0) printf("%s left a receive blocked\n", how);
    CHECK(blocked.result.load() <= 0);
    release_thread(thread);
    // The peer sees the connection end.
    char byte;
    CHECK(net_wait_readable(one, 2) == 1 && net_receive(one, &byte, 1) <= 0);
    if (end == net_shutdown) {
        CHECK(net_send(other, "x", 1) < 0); // shut, not yet closed: sending fails
        net_close(other);
    }
    net_close(one);
}

void check_sockets() {
    CHECK(!net_start());
    check_listening();

    // Bytes with their zero bytes arrive as sent, in both directions, over a loopback pair.
    Socket one = invalid_socket;
    Socket other = invalid_socket;
    CHECK(!net_loopback_pair(one, other));
    const char message[] = "M0000322800\0E00";
    char received[sizeof message] = {};
    CHECK(net_send(one, message, sizeof message) == int(sizeof message));
    CHECK(receive_all(other, received, int(sizeof message)) &&
          memcmp(received, message, sizeof message) == 0);
    CHECK(net_send(other, "A\0", 2) == 2);
    CHECK(receive_all(one, received, 2) && received[0] == 'A' && received[1] == 0);
    // One side shuts its sending direction: the other reads the end of the stream.
    net_shutdown_send(one);
    CHECK(net_wait_readable(other, 2) == 1 && net_receive(other, received, 1) == 0);
    net_close(other);
    net_close(one);

    check_wakes_blocked_receive(net_close, "net_close");
    check_wakes_blocked_receive(net_shutdown, "net_shutdown");
    net_stop();
}

void check_region() {
    const uintptr_t begin = uintptr_t(region);
    const uintptr_t end = begin + sizeof region;
    printf("static region 0x%llx to 0x%llx\n", static_cast<unsigned long long>(begin),
           static_cast<unsigned long long>(end));
    CHECK(begin <= map_begin && end >= map_end);
    if (begin > map_begin || end < map_end) return;
    CHECK(!map_fixed_region(map_begin, map_end - map_begin));
    // Heap memory, code and memory past the image are refused: writing there would harm the
    // program.
    void* heap = malloc(1 << 16);
    CHECK(map_fixed_region(uintptr_t(heap), 4096));
    free(heap);
    CHECK(map_fixed_region(uintptr_t(&check_region), 16));
    CHECK(map_fixed_region(end - 4096, 2 * 4096 + 0x100000));
}

void check_child_memory() {
    // A program that is not there.
    CHECK(launch_child("no-such-program-here.exe") == nullptr);
    char text[256];
    last_error_text(text, sizeof text);
    printf("missing program: \"%s\"\n", text);
    CHECK(text[0] != '\0');

    // The program is looked for in the working directory only, not beside this program.
    std::error_code error;
    std::filesystem::create_directory("elsewhere", error);
    CHECK(!change_directory("elsewhere"));
    CHECK(launch_child("wine_platform_check.exe child") == nullptr);
    CHECK(!change_directory(".."));
    std::filesystem::remove("elsewhere", error);

    EngineProcess* child = launch_child("wine_platform_check.exe child");
    CHECK(child != nullptr);
    if (child == nullptr) return;
    unsigned char shown[pattern_size] = {};
    CHECK(wait_until(
        [&] {
            return !child->read_memory(pattern_address, shown, sizeof shown) &&
                   shown[0] == pattern_byte(0) && shown[pattern_size - 1] == pattern_byte(49);
        },
        500, 20));
    for (int i = 0; i < pattern_size; ++i) CHECK(shown[i] == pattern_byte(i));

    // A write reaches the child: it answers the command with the value plus one.
    const unsigned char command = 0x41;
    CHECK(!child->write_memory(command_address, &command, 1));
    unsigned char answer = 0;
    CHECK(wait_until(
        [&] { return !child->read_memory(answer_address, &answer, 1) && answer == 0x42; }, 300));

    // Memory the child does not have, and a run that starts there, fail.
    unsigned char byte;
    CHECK(child->read_memory(0x1000, &byte, 1));
    CHECK(child->write_memory(0x1000, &byte, 1));
    unsigned char run[0x1000];
    CHECK(child->read_memory(0xf800, run, sizeof run)); // ends inside the image's first page
    last_error_text(text, sizeof text);
    printf("read across the image start: \"%s\"\n", text);
    CHECK(text[0] != '\0');

    // Once the child has ended, its memory cannot be read any more.
    const unsigned char stop = 0xff;
    CHECK(!child->write_memory(command_address, &stop, 1));
    CHECK(wait_until([&] { return child->read_memory(pattern_address, shown, 1); }, 500));
}

// ---- the event queue: the last check, since its loop never returns -----------------------

constexpr int event_count = 3000;
std::atomic<bool> created{false};
std::atomic<int64_t> posting_took_ms{-1};
std::atomic<int> delivered{0};
bool order_kept = true;

int event_code(int i) {
    return i % 8 == 7 ? 100 : i % 8 + 1;
}

void post_all(void*) {
    const int64_t start = clock_ms();
    for (int i = 0; i < event_count; ++i) post_event(event_code(i));
    posting_took_ms.store(clock_ms() - start);
}

void on_created() {
    created.store(true);
    ThreadHandle thread{};
    uint32_t id = 0;
    CHECK(!start_thread(post_all, nullptr, thread, id));
    release_thread(thread);
}

void on_event(int code) {
    // The main thread stays in the first event until every other one has been posted: posting
    // must not wait for the main thread.
    if (delivered.load() == 0) {
        CHECK(wait_until([] { return posting_took_ms.load() >= 0; }, 1000));
    }
    if (code != event_code(delivered.load())) order_kept = false;
    if (delivered.fetch_add(1) + 1 < event_count) return;
    CHECK(order_kept);
    printf("events: %d delivered, posted in %lld ms\n", delivered.load(),
           static_cast<long long>(posting_took_ms.load()));
    printf(failures == 0 ? "all platform checks passed\n" : "%d platform checks FAILED\n",
           failures);
    fflush(stdout);
    std::_Exit(failures == 0 ? 0 : 1);
}

} // namespace

int main(int argc, char** argv) {
    setup_line_output();
    if (argc > 1) return strcmp(argv[1], "child") == 0 ? run_memory_child() : 2;
    ThreadHandle watchdog_thread{};
    uint32_t watchdog_id = 0;
    CHECK(!start_thread(watchdog, nullptr, watchdog_thread, watchdog_id));
    release_thread(watchdog_thread);
    check_time_and_errors();
    check_region();
    check_sockets();
    check_child_memory();

    CHECK(!create_event_queue(on_created));
    CHECK(created.load()); // the queue announced itself before create_event_queue returned
    // A second queue cannot register its window class again, and says so.
    CHECK(create_event_queue(on_created));
    if (failures != 0 && !created.load()) {
        printf("%d platform checks FAILED\n", failures);
        return 1;
    }
    run_event_loop(on_event);
}
