// Options, the game state, the standard start and the connect thread.
#include <cstdio>
#include <cstring>

#include "control/control.h"

Options options;
GameState game;

namespace {

int8_t standard_start_value(int index) {
    return index < 20 ? -1 : index < 30 ? 0 : 1;
}

// Runs until the one client is accepted; nothing listens after that.
void connect_thread(void*) {
    printf("Waiting for client connection.\n");
    while (listen_and_accept()) {
    }
    printf("DamExchange server has accepted a client connection.\n");
}

} // namespace

void handle_arguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (strcmp(argument, "-pv") == 0) {
            options.send_pv = true;
        } else if (strcmp(argument, "-pvall") == 0) {
            options.send_pv_all = true;
        } else if (strcmp(argument, "-a") == 0) {
            options.adjudicate = true;
        } else if (strcmp(argument, "-t") == 0) {
            options.skip_engine_test = true;
        } else {
            // A directory that cannot be entered is passed over in silence.
            (void)change_directory(argument);
        }
    }
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

void on_event_queue_created() {
    printf("Window created.\n");
    ThreadHandle thread{};
    uint32_t thread_id = 0;
    if (start_thread(connect_thread, nullptr, thread, thread_id)) {
        printf("Cannot create server connect thread\n");
        return;
    }
    release_thread(thread);
}
