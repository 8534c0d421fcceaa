// The operating-system layer: the only place that includes a system header. One
// implementation per platform (posix/, win32/), chosen at build time.
// Operations that can fail return true on failure; last_error_text() then gives the
// system's own text for the error.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- time --------------------------------------------------------------------------
void pause_ms(int ms);
int64_t clock_ms(); // monotonic milliseconds since the process started
int64_t clock_us(); // the same clock in microseconds
// Test hook: pause_ms pauses ms * pause_scale_percent / 100. 100 (exact) unless a test
// changes it; the clock is never scaled.
extern int pause_scale_percent;

// ---- output and stopping ----------------------------------------------------------
// Standard output set up for a log read as it grows. On a Windows console it also turns
// QuickEdit off (a mouse selection there would stop every write, and with it the thread that
// writes, until Esc); the console's other modes stay, and the mode is given back at the stop.
void setup_line_output();
// printf-style: the text (whole lines, each ending in '\n') goes out at once and in one piece,
// so that a reader of a pipe never sees part of a line, nor waits for one printed. Every line
// of the server goes through it. A text longer than 1000 characters still goes out complete,
// though maybe in more than one piece.
#if defined(__MINGW32__)
[[gnu::format(gnu_printf, 1, 2)]]
#else
[[gnu::format(printf, 1, 2)]]
#endif
void print_line(const char* format, ...);
// Every fatal condition ends the process here with exit status 1, after its caller printed
// its line: output is flushed and the process ends at once, whatever other threads are
// doing. Tests and fuzzers may install a hook that runs first and throws to observe the stop.
[[noreturn]] void fatal_stop();
extern void (*fatal_stop_hook)();
// Ctrl-C (SIGINT and SIGTERM on POSIX; the console's Ctrl-C, Ctrl-Break and close on Windows)
// prints line and ends the process with exit status 1, whatever the threads are doing.
void stop_on_interrupt(const char* line);

// ---- errors and the working directory ----------------------------------------------
// The system's text for the last failed call (errno or GetLastError), at most size - 1
// characters, without a trailing line end; empty when there is none.
void last_error_text(char* out, size_t size);
bool change_directory(const char* path);

// ---- threads -----------------------------------------------------------------------
struct ThreadHandle {
    uintptr_t value; // 0: none
};
bool start_thread(void (*body)(void*), void* argument, ThreadHandle& thread, uint32_t& thread_id);
void release_thread(ThreadHandle& thread); // forget the thread; it goes on and ends by itself

// ---- event queue -------------------------------------------------------------------
// One integer per event, delivered on the main thread one at a time in posting order.
// Posting never blocks and may come from any thread.
// on_created runs on the main thread once the queue exists (on Windows: the hidden window's
// creation message). Returns true when the queue cannot be made, after printing why.
bool create_event_queue(void (*on_created)());
void post_event(int code);
// Forgets every event waiting (those of a client that has gone). Main thread only.
void discard_events();
// Runs for the rest of the process: waits for each event and hands it to dispatch.
[[noreturn]] void run_event_loop(void (*dispatch)(int code));
// For tests, instead of the loop: the next event if one comes within timeout_ms (0: only
// one already waiting), else -1. POSIX only.
int wait_event(int timeout_ms);

// ---- sockets -----------------------------------------------------------------------
using Socket = intptr_t;
constexpr Socket invalid_socket = -1;
struct ListenAddress; // the result of the passive address lookup

bool net_start(); // WSAStartup 2.2 on Windows; nothing elsewhere
void net_stop();  // WSACleanup on Windows
bool net_lookup_passive(const char* service, ListenAddress*& address); // IPv4, TCP, any host
void net_free_address(ListenAddress* address);
Socket net_socket(const ListenAddress* address);
bool net_bind(Socket socket, const ListenAddress* address);
bool net_listen(Socket socket);
// 1 when readable within the wait, 0 on timeout, -1 on error.
int net_wait_readable(Socket socket, int seconds);
// The index of one of count sockets (at most 8) that is readable, or closed, within the
// wait; -1 on timeout, -2 on error.
int net_wait_any(const Socket* sockets, int count, int milliseconds);
Socket net_accept(Socket socket);
int net_receive(Socket socket, char* data, int size); // as recv: >0 bytes, 0 closed, <0 error
int net_send(Socket socket, const char* data, int size);
void net_shutdown_send(Socket socket);
void net_close(Socket socket); // also wakes a thread blocked in net_receive on it
// Ends the connection both ways and wakes a thread blocked in net_receive on it, leaving
// the descriptor to net_close once no thread uses it.
void net_shutdown(Socket socket);
// The client side, for tools and tests: an IPv4 TCP connection that sends each message at
// once (no Nagle delay), or invalid_socket.
Socket net_connect(const char* host, const char* service);
// For tests: the two ends of a fresh TCP connection over 127.0.0.1, on a port the system
// picks. Returns true on failure. POSIX only.
bool net_loopback_pair(Socket& one, Socket& other);

// ---- child process memory ------------------------------------------------------------
// The engine the server drives, reached only through its memory. Each access moves all its
// bytes or fails; a short transfer is a failure.
struct EngineProcess {
    virtual ~EngineProcess() = default;
    virtual bool read_memory(uint32_t address, void* data, size_t size) = 0;
    virtual bool write_memory(uint32_t address, const void* data, size_t size) = 0;
};

// Starts the program by its bare name from the working directory, detached, in its own
// process group, with no standard handles and nothing else of this process: no handle or
// descriptor is inherited, so that a child that outlives us holds none of our pipes or files
// open. Returns null on failure (last_error_text tells).
EngineProcess* launch_child(const char* program);
// Ends a process started by launch_child at once and waits until it has gone. True on
// failure (last_error_text tells why).
bool end_child(EngineProcess* process);
// For tests: the child's process id (0 for an engine that is no child process), and ending
// a child together with its whole process group, reaping it. POSIX only.
int64_t child_process_id(const EngineProcess* process);
void end_process_group(int64_t pid);
// Whether a process still runs (a zombie counts as gone). POSIX only.
bool process_running(int64_t pid);

// ---- for the stand-in engine ---------------------------------------------------------
// Makes [address, address + size) usable memory of this process at exactly that address,
// without replacing anything mapped there. Returns true on failure after printing why.
bool map_fixed_region(uintptr_t address, size_t size);
// False once the process that started this one has gone.
bool parent_alive();

// ---- for tools: a program run with its output in a file (POSIX only) -----------------
// Starts argv[0] (a path) with the arguments of argv (ending in null), standard input from
// the null device, standard output and error appended to output_path. Returns the process
// id, or 0 on failure (last_error_text tells why).
int64_t start_program(const char* const* argv, const char* output_path);
// Waits for a program started by start_program to end and reaps it; status is its exit code,
// or 128 + the signal that ended it. True on failure.
bool wait_program(int64_t pid, int& status);
