// Options, the game state, the standard start and the connect thread.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "control/control.h"

Options options;
GameState game;

namespace {

int8_t standard_start_value(int index) {
    return index < 20 ? -1 : index < 30 ? 0 : 1;
}

// Set by the main thread once everything of the last client is forgotten (-keep).
std::atomic<bool> listen_again{false};
constexpr int listen_again_poll_ms = 20;

// Runs until the client is accepted; nothing listens after that, unless the server keeps
// going across clients: then the next client may connect at once, and is accepted once the
// main thread has reset everything the last client left.
void connect_thread(void*) {
    for (;;) {
        print_line("Waiting for client connection.\n");
        while (listen_and_accept(options.keep)) {
        }
        print_line("DamExchange server has accepted a client connection.\n");
        if (!options.keep) return;
        while (!listen_again.exchange(false)) pause_ms(listen_again_poll_ms);
    }
}

[[noreturn]] void stop_with_line(const char* line) {
    print_line("%s", line);
    fatal_stop();
}

// Decimal digits only, 1 to 65535; anything else stops the server with one line.
int port_number(const char* text) {
    long value = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9' && value <= 65535; ++p) value = value * 10 + (*p - '0');
    if (p == text || *p != '\0' || value < 1 || value > 65535) {
        print_line("-port: \"%.40s\" is not a port number from 1 to 65535.\n", text);
        fatal_stop();
    }
    return int(value);
}

} // namespace

bool handle_arguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (strcmp(argument, "-port") == 0) {
            // Checked before Kavro is launched: a server that cannot listen where it was told
            // must not leave an engine behind.
            if (i + 1 == argc) stop_with_line("-port needs a port number from 1 to 65535.\n");
            dxp_port = port_number(argv[++i]);
        } else if (strcmp(argument, "-keep") == 0) {
            options.keep = true;
        } else if (strcmp(argument, "-version") == 0) {
            print_line("kavro-dxp %s\n", KAVRO_VERSION);
            return true;
        } else if (strcmp(argument, "-pv") == 0) {
            options.send_pv = true;
        } else if (strcmp(argument, "-pvall") == 0) {
            options.send_pv_all = true;
        } else if (strcmp(argument, "-a") == 0) {
            options.adjudicate = true;
        } else if (strcmp(argument, "-t") == 0) {
            options.skip_engine_test = true;
        } else if (change_directory(argument)) {
            // Going on would start whatever winkavro.exe stands here, maybe not the Kavro of
            // the folder meant (a path with blanks given without quotes arrives split).
            char reason[256];
            last_error_text(reason, sizeof reason);
            print_line("The directory \"%s\" cannot be entered; %s\n", argument, reason);
            fatal_stop();
        }
    }
    return false;
}

ByteBoard& set_standard_start(ByteBoard& board) {
    for (int i = 0; i < 50; ++i) board[i] = standard_start_value(i);
    return board;
}

bool differs_from_standard_start(const ByteBoard& board) {
    for (int i = 0; i < 50; ++i) {
        if (board[i] != standard_start_value(i)) return true;
    }
    return false;
}

void listen_for_next_client() {
    listen_again.store(true);
}

void on_event_queue_created() {
    print_line("Window created.\n");
    ThreadHandle thread{};
    uint32_t thread_id = 0;
    if (start_thread(connect_thread, nullptr, thread, thread_id)) {
        print_line("Cannot create server connect thread\n");
        return;
    }
    release_thread(thread);
}
