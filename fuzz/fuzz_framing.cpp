// The receiver's framing and next_dxp_message in process: arbitrary bytes in arbitrary chunks,
// messages taken at arbitrary moments, against a plain model of the stream.
// Input: the ring's starting place (both indices at 4 times the first byte, so that short
// inputs wrap), then steps. A byte below 0xD0 delivers the next 1 + (byte * 7) % 299 input
// bytes (cut to the ring's room, as the receiver thread does); 0xD0-0xDF delivers the last
// chunk again 1 to 16 times (a short input fills the ring); 0xE0-0xEF takes 1 to 16 messages;
// 0xF0-0xFF takes every complete one.
// Cheap per input: fixed buffers, no allocation, and no real socket: the connection's socket
// is a number no descriptor ever has, so closing it costs two failing calls and nothing else.
#include <algorithm>
#include <cstring>

#include "dxp/dxp.h"
#include "fuzz/fuzz_support.h"

namespace {

constexpr size_t max_stream = 2 * dxp_ring_size; // bytes delivered in one input, at most
constexpr Socket no_descriptor = -2;

int code_of(const char* text, size_t length) {
    const char* at = length == 0 ? nullptr : std::strchr("RAMECBK", text[0]);
    return at && *at ? int(at - "RAMECBK") + 1 : 0;
}

// What the connection must do, worked out without a ring: every byte stored, in order, and
// the messages as places in it.
struct Message {
    uint32_t start, length;
    bool too_long;
};
struct Model {
    char bytes[max_stream];
    uint32_t stored, partial; // bytes stored; where the message being received starts
    Message complete[max_stream];
    uint32_t head, tail; // complete messages not taken yet
    char events[max_stream];
    uint32_t event_count;
    bool stopped, closed;
    void clear() { stored = partial = head = tail = event_count = 0, stopped = closed = false; }
    void close() { closed ? void() : void(events[event_count++] = 'L'), closed = true; }
    FUZZ_HARNESS void receive(const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size && !stopped; ++i) {
            bytes[stored++] = char(data[i]);
            const uint32_t length = stored - partial - (data[i] == 0);
            if (data[i] != 0 && length < uint32_t(dxp_text_size)) continue;
            const bool too_long = data[i] != 0; // stored either way; a bad letter closes
            const int code = code_of(bytes + partial, length);
            complete[tail++] = {partial, length, too_long};
            stopped = too_long || code == 0;
            code != 0 ? void(events[event_count++] = char('0' + code)) : close();
            partial = stored;
        }
    }
};
Model model;

// The events posted since the last look are exactly those the model expects.
FUZZ_HARNESS void check_events() {
    uint32_t i = 0;
    for (int c; (c = wait_event(0)) != -1; ++i)
        FUZZ_CHECK(i < model.event_count &&
                   model.events[i] == (c == DXP_CONNECTIONLOST ? 'L' : char('0' + c)));
    FUZZ_CHECK(i == model.event_count);
    model.event_count = 0;
}

FUZZ_HARNESS bool take_one() { // false when no message was complete
    char text[dxp_text_size];
    DxpMessage message; // only its type is looked at
    message.type = 0x5A5A5A5A;
    const bool refused = next_dxp_message(text, message);
    if (model.head == model.tail) return FUZZ_CHECK(!refused && !text[0] && !message.type), false;
    const Message expected = model.complete[model.head++];
    const char* wanted = model.bytes + expected.start;
    FUZZ_CHECK(refused == expected.too_long);
    if (expected.too_long) {
        FUZZ_CHECK(!std::memcmp(text, wanted, 131) && text[131] == '\0');
        return model.close(), true;
    }
    FUZZ_CHECK(!std::memcmp(text, wanted, expected.length) && text[expected.length] == '\0');
    // Decoded: the type of its letter, or the record untouched for an unknown letter.
    const int code = code_of(text, expected.length);
    FUZZ_CHECK(message.type == (code != 0 ? code : 0x5A5A5A5A));
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_observe_fatal_stops();
    create_event_queue(nullptr);
    return 0;
}

extern "C" FUZZ_HARNESS int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    dxp_connection.client_socket.store(no_descriptor);
    reset_dxp_ring();
    dxp_connection.read_index.store(data[0] * 4), dxp_connection.write_index.store(data[0] * 4);
    discard_events();
    model.clear();
    const uint8_t* chunk = nullptr;
    size_t chunk_size = 0;
    for (size_t at = 1; at < size;) {
        const uint8_t step = data[at++];
        for (int times = step >= 0xD0 && step < 0xE0 ? 1 + (step & 15) : 1; times > 0; --times) {
            if (step >= 0xE0) {
                for (int i = 0; i <= (step < 0xF0 ? step & 15 : 2000) && take_one(); ++i) {
                }
                continue;
            }
            if (step < 0xD0)
                chunk = data + at, chunk_size = 1 + size_t(step) * 7 % dxp_receive_chunk;
            if (model.stopped || chunk == nullptr) break;
            // A full ring always holds a whole message whose event is queued.
            if (dxp_ring_room() == 0) FUZZ_CHECK(take_one());
            const size_t room = size_t(dxp_ring_room());
            const size_t want = std::min({chunk_size, room, size_t(data + size - chunk)});
            if (model.stored + want > max_stream) break; // enough to fill and wrap the ring
            model.receive(chunk, want);
            FUZZ_CHECK(receive_bytes(reinterpret_cast<const char*>(chunk), int(want)) ==
                       model.stopped);
            if (step < 0xD0) at += want, chunk_size = want;
        }
        // Taking posts nothing but the loss after an over-long message: an event posted there
        // by mistake is found at the next look all the same.
        if (step < 0xE0 || model.event_count != 0) check_events();
    }
    while (take_one()) { // nothing lost, nothing left over
    }
    check_events();
    FUZZ_CHECK(model.head == model.tail && dxp_connection_lost() == model.closed);
    return 0;
}
