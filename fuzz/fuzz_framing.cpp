// The receiver's framing and next_dxp_message, in process: arbitrary bytes cut into
// arbitrary chunks, with the main thread taking messages at arbitrary moments. A plain model
// of the stream says which events and which messages must come out, in which order.
//
// Input: a sequence of steps. A step byte below 0xE0 delivers a chunk of 1 + (byte * 7) % 299
// of the following input bytes (cut to the ring's free room, as the receiver thread does);
// 0xE0-0xEF takes 1 to 16 messages; 0xF0-0xFF takes every complete message.
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "dxp/dxp.h"
#include "fuzz/fuzz_support.h"

namespace {

int code_of_letter(char letter) {
    const char* letters = "RAMECBK";
    const char* at = letter ? std::strchr(letters, letter) : nullptr;
    return at ? int(at - letters) + 1 : 0;
}

// What the connection must do with the stream, worked out without a ring.
struct Model {
    struct Message {
        std::string text;
        bool too_long;
    };
    std::deque<Message> complete; // stored whole, not taken yet
    std::string partial;
    bool receiver_stopped = false;
    bool closed = false;
    std::vector<int> events;

    void close() {
        if (!closed) events.push_back(DXP_CONNECTIONLOST);
        closed = true;
    }

    void receive(const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size && !receiver_stopped; ++i) {
            char byte = char(data[i]);
            if (byte != '\0') {
                partial += byte;
                if (partial.size() < size_t(dxp_text_size)) continue;
                receiver_stopped = true;
                // Stored either way; only a known letter gets an event.
                complete.push_back({partial, true});
                if (int code = code_of_letter(partial[0]))
                    events.push_back(code);
                else
                    close();
                continue;
            }
            // A bad message is stored too, without an event: the main thread may still take
            // it (on the lost connection's event) but gets no record for it.
            complete.push_back({partial, false});
            int code = code_of_letter(partial.empty() ? '\0' : partial[0]);
            partial.clear();
            if (code == 0) {
                receiver_stopped = true;
                close();
                continue;
            }
            events.push_back(code);
        }
    }
};

Model model;

void check_events() {
    std::vector<int> posted;
    for (int code; (code = wait_event(0)) != -1;) posted.push_back(code);
    FUZZ_CHECK(posted == model.events);
    model.events.clear();
}

// Takes one message from the ring and checks it against the model. False when none was
// complete.
bool take_one() {
    char text[dxp_text_size];
    std::memset(text, 0x5A, sizeof text);
    DxpMessage message;
    std::memset(&message, 0x5A, sizeof message);
    int32_t read_before = dxp_connection.read_index.load();
    bool refused = next_dxp_message(text, message);

    if (model.complete.empty()) {
        FUZZ_CHECK(!refused && text[0] == '\0' && message.type == 0);
        FUZZ_CHECK(dxp_connection.read_index.load() == read_before);
        return false;
    }
    Model::Message expected = model.complete.front();
    model.complete.pop_front();
    if (expected.too_long) {
        FUZZ_CHECK(refused);
        FUZZ_CHECK(std::string(text) == expected.text.substr(0, 131));
        model.close();
        return true;
    }
    FUZZ_CHECK(!refused);
    FUZZ_CHECK(std::memchr(text, 0, sizeof text) != nullptr && expected.text == text);
    // A known letter gives the decoded record; anything else leaves the record untouched.
    DxpMessage decoded;
    std::memset(&decoded, 0x5A, sizeof decoded);
    decode_dxp_message(expected.text.c_str(), decoded);
    FUZZ_CHECK(std::memcmp(&decoded, &message, sizeof message) == 0);
    if (!code_of_letter(expected.text.empty() ? '\0' : expected.text[0]))
        FUZZ_CHECK(message.type == 0x5A5A5A5A);
    return true;
}

// A fresh, unconnected socket stands for the client: closing it costs nothing and leaves no
// connection behind, so millions of runs do not run out of ports.
ListenAddress* address = nullptr;
void open_connection() {
    Socket socket = net_socket(address);
    if (socket == invalid_socket) fuzz_fail("no socket");
    dxp_connection.client_socket.store(socket);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_observe_fatal_stops(true);
    create_event_queue(nullptr);
    if (net_start() || net_lookup_passive("0", address)) fuzz_fail("no socket address");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (dxp_connection.client_socket.load() == invalid_socket) open_connection();
    reset_dxp_ring();
    while (wait_event(0) != -1) {
    }
    model = Model{};

    FuzzBytes in{data, size};
    while (in.size > 0) {
        uint8_t step = in.next();
        if (step < 0xE0) {
            if (model.receiver_stopped) continue; // the receiver thread has ended
            int room = dxp_ring_room();
            FUZZ_CHECK(room >= 0 && room < dxp_ring_size);
            if (room == 0) {
                // A full ring always holds a whole message whose event is queued.
                FUZZ_CHECK(take_one());
                check_events();
                continue;
            }
            size_t want = 1 + (size_t(step) * 7) % size_t(dxp_receive_chunk);
            if (want > size_t(room)) want = size_t(room);
            if (want > in.size) want = in.size;
            model.receive(in.data, want);
            bool stopped = receive_bytes(reinterpret_cast<const char*>(in.data), int(want));
            in.data += want;
            in.size -= want;
            FUZZ_CHECK(stopped == model.receiver_stopped);
        } else if (step < 0xF0) {
            for (int i = 0; i <= (step & 15); ++i) take_one();
        } else {
            while (take_one()) {
            }
        }
        check_events();
    }
    // Nothing lost and nothing left over: every stored message comes out once.
    while (take_one()) {
    }
    check_events();
    FUZZ_CHECK(model.complete.empty());

    if (model.closed) {
        FUZZ_CHECK(dxp_connection.client_socket.load() == invalid_socket);
    } else {
        FUZZ_CHECK(dxp_connection.client_socket.load() != invalid_socket);
    }
    return 0;
}
