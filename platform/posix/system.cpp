// Time, errors, the working directory, output, stopping and threads on POSIX.
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

int64_t monotonic_now_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

const int64_t process_start_us = monotonic_now_us();

struct ThreadStart {
    void (*body)(void*);
    void* argument;
};

void* thread_trampoline(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.body(start.argument);
    return nullptr;
}

} // namespace

void (*fatal_stop_hook)() = nullptr;

int pause_scale_percent = 100;

void pause_ms(int ms) {
    if (pause_scale_percent != 100) ms = int(int64_t(ms) * pause_scale_percent / 100);
    if (ms <= 0) return;
    timespec ts{ms / 1000, long(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int64_t clock_ms() {
    return clock_us() / 1000;
}
int64_t clock_us() {
    return monotonic_now_us() - process_start_us;
}

void last_error_text(char* out, size_t size) {
    if (size == 0) return;
    out[0] = '\0';
    if (errno == 0) return;
    char buffer[256];
    const char* text = strerror_r(errno, buffer, sizeof buffer);
    snprintf(out, size, "%s", text);
}

bool change_directory(const char* path) {
    return chdir(path) != 0;
}

void setup_line_output() {
    setvbuf(stdout, nullptr, _IOLBF, 0);
}

// Line buffering writes each line whole; the flush also covers a stream left fully buffered
// (a program that did not set it up, such as the tests).
void print_line(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    fflush(stdout);
}

namespace {

const char* interrupt_line = "";

// Only async-signal-safe calls: the line goes out with write, and the process ends at once.
extern "C" void on_interrupt(int) {
    size_t length = 0;
    while (interrupt_line[length] != '\0') ++length;
    ssize_t ignored = write(1, interrupt_line, length);
    (void)ignored;
    _exit(1);
}

} // namespace

void stop_on_interrupt(const char* line) {
    interrupt_line = line;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void fatal_stop() {
    if (fatal_stop_hook) fatal_stop_hook();
    fflush(stdout);
    // Other threads may be inside the socket or the ring: end at once, without running
    // static destructors under their feet.
    _exit(1);
}

bool start_thread(void (*body)(void*), void* argument, ThreadHandle& thread, uint32_t& thread_id) {
    // Threads are started only while no game is played, so this one allocation is harmless.
    auto* start = new ThreadStart{body, argument};
    pthread_t id;
    if (int error = pthread_create(&id, nullptr, thread_trampoline, start); error != 0) {
        delete start;
        errno = error;
        return true;
    }
    thread.value = uintptr_t(id);
    thread_id = uint32_t(uintptr_t(id));
    return false;
}

void release_thread(ThreadHandle& thread) {
    if (thread.value == 0) return;
    pthread_detach(pthread_t(thread.value));
    thread.value = 0;
}
