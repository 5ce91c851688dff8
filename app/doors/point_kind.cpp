#include "doors/point_kind.h"

namespace porvex {

namespace {

constexpr std::array<PointKindInfo, kPointKindCount> kInfo{{
    {"门禁状态", "门禁状态:", "门禁状态:正常", "OPCDoorState"},
    {"遥控开门", "遥控开门:", "遥控开门:成功", "OPCDoorOpen"},
    {"最后一个刷卡人卡片号码", "最后一个刷卡人卡片号码:", "最后一个刷卡人卡片号码:", "OPCDoorCard"},
    {"非法刷卡", "非法刷卡:", "非法刷卡:", "OPCInvCard"},
    {"防拆报警", "防拆报警:", "防拆报警:正常", "OPCPryAlarm"},
    {"门开关状态", "门开关状态:", "门开关状态:正常", "OPCOpenClose"},
    {"门磁报警", "门磁报警:", "门磁报警:正常", "OPCAlarmType"},
}};

}  // namespace

const PointKindInfo& info(PointKind kind) { return kInfo[static_cast<std::size_t>(kind)]; }

}  // namespace porvex
