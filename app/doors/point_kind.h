// The seven monitored points of a door: leaf names, the setting that enables each kind,
// the text a leaf starts with, and the value words the leaves show.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace porvex {

// In the order a door's leaves are created.
enum class PointKind : unsigned char {
    door_state,       // "门禁状态"
    remote_open,      // "遥控开门"
    last_card,        // "最后一个刷卡人卡片号码"
    invalid_card,     // "非法刷卡"
    tamper,           // "防拆报警"
    door_open_state,  // "门开关状态"
    contact_alarm,    // "门磁报警"
};

inline constexpr std::size_t kPointKindCount = 7;

inline constexpr std::array<PointKind, kPointKindCount> kAllPointKinds{
    PointKind::door_state,   PointKind::remote_open, PointKind::last_card,
    PointKind::invalid_card, PointKind::tamper,      PointKind::door_open_state,
    PointKind::contact_alarm};

struct PointKindInfo {
    std::string_view name;           // leaf name and OPC item name
    std::string_view prefix;         // name + ':'
    std::string_view creation_text;  // the leaf's text when the door is loaded
    std::string_view setting;        // settings value that enables the kind
};

const PointKindInfo& info(PointKind kind);

// Which point kinds are enabled (seven process-wide flags read from the settings).
class PointSet {
  public:
    constexpr PointSet() = default;
    static constexpr PointSet all() {
        PointSet s;
        s.bits_ = 0x7F;
        return s;
    }
    constexpr bool has(PointKind kind) const { return (bits_ >> static_cast<int>(kind)) & 1u; }
    constexpr PointSet& set(PointKind kind, bool on = true) {
        const unsigned bit = 1u << static_cast<int>(kind);
        bits_ = on ? (bits_ | bit) : (bits_ & ~bit);
        return *this;
    }
    constexpr PointSet without(PointKind kind) const {
        PointSet copy = *this;
        copy.set(kind, false);
        return copy;
    }
    friend constexpr bool operator==(PointSet, PointSet) = default;

  private:
    unsigned bits_ = 0;
};

// Value words of the leaves.
namespace words {
inline constexpr std::string_view kNormal = "正常";
inline constexpr std::string_view kAlarm = "报警";
inline constexpr std::string_view kNotMonitored = "没有监控";
inline constexpr std::string_view kSuccess = "成功";
inline constexpr std::string_view kFailure = "失败";
inline constexpr std::string_view kLocked = "锁定";
inline constexpr std::string_view kOpen = "开";
inline constexpr std::string_view kClosed = "关";
inline constexpr std::string_view kForcedEntry = "强行闯入";
inline constexpr std::string_view kHeldOpen = "超时未关";
}  // namespace words

// The leaf that holds the time of the door's last card read (its item is read-only,
// VT_DATE), present when the last-card point is enabled.
inline constexpr std::string_view kSwipeTimeName = "最后刷卡时间";
inline constexpr std::string_view kSwipeTimePrefix = "最后刷卡时间:";

// Prefixes of the two address leaves every door node has.
inline constexpr std::string_view kIpLeafPrefix = "IP:";
inline constexpr std::string_view kPortLeafPrefix = "端口号:";

}  // namespace porvex
