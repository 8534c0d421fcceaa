// Time, errors, the working directory, output, stopping and threads on Windows.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace {

int64_t counter_frequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

int64_t counter_now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

const int64_t ticks_per_second = counter_frequency();
const int64_t process_start_ticks = counter_now();

struct ThreadStart {
    void (*body)(void*);
    void* argument;
};

DWORD WINAPI thread_trampoline(LPVOID raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.body(start.argument);
    return 0;
}

} // namespace

void (*fatal_stop_hook)() = nullptr;

int pause_scale_percent = 100;

void pause_ms(int ms) {
    if (pause_scale_percent != 100) ms = int(int64_t(ms) * pause_scale_percent / 100);
    if (ms <= 0) return;
    Sleep(DWORD(ms));
}

int64_t clock_us() {
    const int64_t ticks = counter_now() - process_start_ticks;
    // Split the division so that a long uptime cannot overflow the product.
    return ticks / ticks_per_second * 1000000 +
           ticks % ticks_per_second * 1000000 / ticks_per_second;
}

int64_t clock_ms() {
    return clock_us() / 1000;
}

void last_error_text(char* out, size_t size) {
    if (size == 0) return;
    out[0] = '\0';
    const DWORD code = GetLastError();
    if (code == 0) return;
    char text[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, text, sizeof text, nullptr);
    if (length == 0) {
        snprintf(text, sizeof text, "error %lu", static_cast<unsigned long>(code));
        length = DWORD(strlen(text));
    }
    if (length >= sizeof text) length = sizeof text - 1;
    while (length > 0 &&
           (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) {
        --length;
    }
    text[length] = '\0';
    snprintf(out, size, "%s", text);
}

bool change_directory(const char* path) {
    return SetCurrentDirectoryA(path) == 0;
}

// The Windows C runtime has no line buffering: unbuffered output writes each printf whole.
void setup_line_output() {
    setvbuf(stdout, nullptr, _IONBF, 0);
}

namespace {

const char* interrupt_line = "";

// Runs on a thread of its own that the system starts for the console's event.
BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    printf("%s", interrupt_line);
    fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 1);
    return TRUE;
}

} // namespace

void stop_on_interrupt(const char* line) {
    interrupt_line = line;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void fatal_stop() {
    if (fatal_stop_hook) fatal_stop_hook();
    fflush(stdout);
    // Ending through ExitProcess would run the runtime's detach code, which can wait for a
    // lock that a killed thread held; terminate at once instead.
    TerminateProcess(GetCurrentProcess(), 1);
    ExitProcess(1);
}

bool start_thread(void (*body)(void*), void* argument, ThreadHandle& thread, uint32_t& thread_id) {
    // Threads are started only while no game is played, so this one allocation is harmless.
    auto* start = new ThreadStart{body, argument};
    DWORD id = 0;
    HANDLE handle = CreateThread(nullptr, 0, thread_trampoline, start, 0, &id);
    if (handle == nullptr) {
        const DWORD error = GetLastError();
        delete start;
        SetLastError(error);
        return true;
    }
    thread.value = reinterpret_cast<uintptr_t>(handle);
    thread_id = id;
    return false;
}

void release_thread(ThreadHandle& thread) {
    if (thread.value == 0) return;
    CloseHandle(reinterpret_cast<HANDLE>(thread.value));
    thread.value = 0;
}
