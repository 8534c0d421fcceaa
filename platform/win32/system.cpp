// Time, errors, the working directory, output, stopping and threads on Windows.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
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

// The console's input modes as found, given back at the end; null when they were not changed.
HANDLE console_input = nullptr;
DWORD console_input_mode = 0;

void give_console_mode_back() {
    if (console_input != nullptr) SetConsoleMode(console_input, console_input_mode);
}

// QuickEdit off, when standard output is a console that has it on. Its bit is reported only
// together with the other extended flags, so that the mode written back changes nothing else.
void quick_edit_off() {
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) == 0) return; // no console
    // The console's own input, also when standard input is redirected.
    HANDLE input =
        CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return;
    if (GetConsoleMode(input, &mode) == 0 || (mode & ENABLE_QUICK_EDIT_MODE) == 0 ||
        SetConsoleMode(input, (mode | ENABLE_EXTENDED_FLAGS) & ~DWORD(ENABLE_QUICK_EDIT_MODE)) ==
            0) {
        CloseHandle(input);
        return;
    }
    console_input = input;
    console_input_mode = mode;
    atexit(give_console_mode_back);
}

// All of the bytes to the standard output handle; a reader that has gone loses them.
void write_output(const char* data, size_t size) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    while (size > 0) {
        DWORD written = 0;
        if (WriteFile(output, data, DWORD(size), &written, nullptr) == 0 || written == 0) return;
        data += written;
        size -= written;
    }
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

// The Windows C runtime has no line buffering, and its printf puts each character of an
// unbuffered stream out on its own. Standard output stays unbuffered, so that whatever is
// printed with printf still goes out at once; print_line writes each text whole.
void setup_line_output() {
    setvbuf(stdout, nullptr, _IONBF, 0);
    quick_edit_off();
}

void print_line(const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    const int length = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    fflush(stdout); // nothing printed before may come after
    if (length < 0 || size_t(length) >= sizeof text) {
        va_start(arguments, format);
        vprintf(format, arguments);
        va_end(arguments);
        return;
    }
    // Standard output is in text mode: its lines end in CR LF, as printf writes them.
    char out[2 * sizeof text];
    size_t used = 0;
    for (int i = 0; i < length; ++i) {
        if (text[i] == '\n') out[used++] = '\r';
        out[used++] = text[i];
    }
    write_output(out, used);
}

namespace {

const char* interrupt_line = "";

// Runs on a thread of its own that the system starts for the console's event.
BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
        return FALSE;
    print_line("%s", interrupt_line);
    give_console_mode_back();
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
    give_console_mode_back();
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
