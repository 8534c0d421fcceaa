// The event queue on Windows: the message queue of a hidden, message-only window. An event is
// the window message WM_USER+1 with its code as the first parameter; PostMessageA never blocks
// the poster, and GetMessageA hands the events to the main thread in posting order. A
// message-only window gets none of the messages that Windows broadcasts to top-level windows
// (such as the query at logoff), which the procedure could not answer while it waits for
// Kavro's move.
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "platform/platform.h"

namespace {

const char window_class_name[] = "kavro dxp server";
const char window_title[] = "My window";
constexpr UINT event_message = WM_USER + 1;

// Set on the main thread when the window receives its creation message, before any thread
// that posts exists; read by the posting threads.
std::atomic<HWND> event_window{nullptr};
void (*created_callback)() = nullptr;
void (*dispatch_callback)(int code) = nullptr;

void print_last_error(const char* call) {
    char text[256];
    last_error_text(text, sizeof text);
    print_line("%s; %s\n", call, text);
}

LRESULT CALLBACK event_window_procedure(HWND window, UINT message, WPARAM first, LPARAM second) {
    switch (message) {
    case WM_CREATE:
        event_window.store(window);
        if (created_callback) created_callback();
        return 0;
    case event_message:
        if (dispatch_callback) dispatch_callback(static_cast<int>(first));
        return 0;
    default:
        return DefWindowProcA(window, message, first, second);
    }
}

} // namespace

bool create_event_queue(void (*on_created)()) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = event_window_procedure;
    window_class.hInstance = instance;
    window_class.lpszClassName = window_class_name;
    if (RegisterClassA(&window_class) == 0) {
        print_line("Problem with RegisterClass\n");
        return true;
    }
    created_callback = on_created;
    HWND window = CreateWindowExA(0, window_class_name, window_title, 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, instance, nullptr);
    if (window == nullptr) {
        // Without the window no event could ever be delivered: a failure, not a silent start.
        print_last_error("CreateWindowEx");
        return true;
    }
    UpdateWindow(window); // never shown: the window exists only for its message queue
    return false;
}

void post_event(int code) {
    HWND window = event_window.load();
    if (window == nullptr) {
        print_line("Event %d posted before the event queue exists\n", code);
        fatal_stop();
    }
    if (PostMessageA(window, event_message, static_cast<WPARAM>(code), 0) == 0) {
        // A lost event would leave the game out of step with the client.
        print_last_error("PostMessage");
        fatal_stop();
    }
}

void discard_events() {
    HWND window = event_window.load();
    MSG message;
    while (window != nullptr &&
           PeekMessageA(&message, window, event_message, event_message, PM_REMOVE) != 0) {
    }
}

void run_event_loop(void (*dispatch)(int code)) {
    dispatch_callback = dispatch;
    MSG message;
    for (;;) {
        const BOOL result = GetMessageA(&message, nullptr, 0, 0);
        if (result == -1) {
            print_last_error("GetMessage");
            fatal_stop();
        }
        if (result == 0) {
            print_line("The event loop was told to quit\n");
            fatal_stop();
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
