#include "link/event_fuzz.h"

#include <cstdlib>
#include <string>

#include "doors/door_load.h"
#include "doors/point_text.h"
#include "doors/upkeep_tick.h"
#include "link/event_decoder.h"

namespace porvex {

namespace {

class AcceptingLink final : public ControllerLink {
  public:
    void set_events(LinkEvents*) override {}
    bool connect(const std::string&, int) override { return true; }
    bool send_data(const std::string&, int, int, int, int, std::string_view) override {
        return true;
    }
    void enable_upload(const std::string&, int) override {}
    void disconnect_all() override {}
};

constexpr const char* kIp = "10.0.0.1";
constexpr int kPort = 5768;
constexpr int kCodes[] = {26, 27, 28, 30, 32, 33, 0x12, 0x1F, 0x40};

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void check(const DoorDirectory& dir) {
    for (std::size_t i = 0; i < dir.door_count(); ++i) {
        const DoorRecord& d = dir.door(i);
        require(published(d.door_open) >= -1 && published(d.door_open) <= 1);
        require(published(d.contact_open) >= -1 && published(d.contact_open) <= 1);
        require(published(d.contact_alarm) >= -1 && published(d.contact_alarm) <= 2);
        for (PointKind kind : kAllPointKinds) {
            const NodeId leaf = d.node(kind);
            require(leaf != kNoNode);
            // Every leaf shows its point's state: the text is a view, never the truth.
            require(dir.tree().text(leaf) == point_text(d, kind));
        }
    }
}

}  // namespace

int fuzz_controller_event(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    AcceptingLink link;
    PendingCommands pending;
    DoorDirectory dir(PointSet::all());
    EventDecoder decoder(dir, pending, link);
    UpkeepTick tick(dir, decoder);
    Update load(Moment{1000});
    for (int reader = 0; reader < 8; ++reader) {
        load_door(dir, load, DoorRow{"d", "", kIp, "5768", 1 << reader, reader == 0 ? 2 : 0}).link =
            LinkState::connected;
    }
    dir.attach_value_holders();
    for (std::size_t i = 0; i < 4; ++i) {
        decoder.SendRemoteOpen(load, &dir.door(i));
        decoder.SendStatusQuery(load, &dir.door(i + 4));
    }

    // Each event: code selector, ApCode byte, flags (hex-encode, tick), length, bytes.
    double now = 1000;
    std::size_t at = 0;
    while (at + 4 <= size) {
        const int cmd = kCodes[data[at] % std::size(kCodes)];
        const int ap_code = data[at + 1] % 12;
        const std::uint8_t flags = data[at + 2];
        const std::size_t length = std::min<std::size_t>(data[at + 3], size - at - 4);
        const auto* body = data + at + 4;
        at += 4 + length;
        std::string payload;
        if (flags & 1) {
            static const char kDigits[] = "0123456789ABCDEF";
            for (std::size_t i = 0; i < length; ++i) {
                payload += kDigits[body[i] >> 4];
                payload += kDigits[body[i] & 15];
            }
        } else {
            payload.assign(reinterpret_cast<const char*>(body), length);
        }
        now += (flags >> 4) * 1.5;
        Update update{Moment{now}};
        decoder.DataReceive(update, kIp, kPort, ap_code, cmd, payload);
        if (flags & 2) {
            tick.run(update, flags >> 5);
        }
        check(dir);
    }
    return 0;
}

}  // namespace porvex
