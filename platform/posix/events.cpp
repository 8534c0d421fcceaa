// The main thread's event queue on POSIX: a fixed ring of event codes behind a mutex, with a
// condition variable that wakes the event loop.
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <pthread.h>

#include "platform/platform.h"

namespace {

// Bound: the receiver posts one event per message while the message is in its 1024-byte
// ring, and every message there takes two bytes at least, so fewer than 512 message events
// wait at any time; the lost connection is posted once more. 1024 places never fill.
constexpr int queue_size = 1024;

struct EventQueue {
    pthread_mutex_t lock;
    pthread_cond_t ready;
    int head;  // the oldest waiting event
    int count; // events waiting
    int codes[queue_size];
};
EventQueue event_queue = {PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, 0, 0, {}};

// With the lock held: the oldest event, or -1 when none is waiting.
int pop_locked() {
    if (event_queue.count == 0) return -1;
    int code = event_queue.codes[event_queue.head];
    event_queue.head = (event_queue.head + 1) % queue_size;
    --event_queue.count;
    return code;
}

} // namespace

bool create_event_queue(void (*on_created)()) {
    pthread_mutex_lock(&event_queue.lock);
    event_queue.head = 0;
    event_queue.count = 0;
    pthread_mutex_unlock(&event_queue.lock);
    if (on_created) on_created();
    return false;
}

void post_event(int code) {
    pthread_mutex_lock(&event_queue.lock);
    if (event_queue.count == queue_size) {
        pthread_mutex_unlock(&event_queue.lock);
        // Cannot happen within the bound above; dropping an event would put the messages
        // and their events out of step, so stop instead.
        print_line("Event queue full.\n");
        fatal_stop();
    }
    event_queue.codes[(event_queue.head + event_queue.count) % queue_size] = code;
    ++event_queue.count;
    pthread_cond_signal(&event_queue.ready);
    pthread_mutex_unlock(&event_queue.lock);
}

void discard_events() {
    pthread_mutex_lock(&event_queue.lock);
    event_queue.head = 0;
    event_queue.count = 0;
    pthread_mutex_unlock(&event_queue.lock);
}

int wait_event(int timeout_ms) {
    timespec deadline{};
    if (timeout_ms > 0) clock_gettime(CLOCK_REALTIME, &deadline); // a mere look needs no clock
    deadline.tv_sec += timeout_ms / 1000;
    deadline.tv_nsec += long(timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&event_queue.lock);
    while (event_queue.count == 0 && timeout_ms > 0) {
        if (pthread_cond_timedwait(&event_queue.ready, &event_queue.lock, &deadline) == ETIMEDOUT)
            break;
    }
    int code = pop_locked();
    pthread_mutex_unlock(&event_queue.lock);
    return code;
}

void run_event_loop(void (*dispatch)(int code)) {
    for (;;) {
        pthread_mutex_lock(&event_queue.lock);
        while (event_queue.count == 0) pthread_cond_wait(&event_queue.ready, &event_queue.lock);
        int code = pop_locked();
        pthread_mutex_unlock(&event_queue.lock);
        dispatch(code);
    }
}
