#include "bench_faults.h"

#include "device_link.h"

#include <chrono>
#include <thread>

using metersim::MeterBench;
using metersim::MeterSpec;

const char* FaultName(Fault f)
{
    static const char* const names[] = {"Silence", "NthSend", "BadChecksum", "WrongType", "Short", "OverLong",
                                        "Split", "Late", "Garbage", "Collision", "UnplugMidReply", "UnplugIdle",
                                        "Replug"};
    return names[int(f)];
}

const char* OpName(Op op)
{
    static const char* const names[] = {"Identify", "ReadState", "ReadConfig", "WriteConfig", "ResetCounter"};
    return names[int(op)];
}

Outcome Expected(Fault f, Op op)
{
    if (op == Op::ResetCounter) {
        // The reset does not wait for a reply: only a dead port shows.
        return (f == Fault::UnplugIdle || f == Fault::Replug) ? Outcome::PortFailure : Outcome::Ok;
    }
    switch (f) {
    case Fault::Silence: return Outcome::NoReply;
    case Fault::NthSend: case Fault::Split: case Fault::Late: return Outcome::Ok;
    case Fault::BadChecksum: case Fault::Short: case Fault::OverLong: case Fault::Garbage:
    case Fault::Collision: return Outcome::Garbled;
    case Fault::WrongType: return Outcome::WrongType;
    case Fault::UnplugMidReply: case Fault::UnplugIdle: case Fault::Replug: return Outcome::PortFailure;
    }
    return Outcome::Ok;
}

namespace {
QString Sn(SerialNumber n) { return QStringLiteral("SN ") + QString::number(n); }
}  // namespace

std::vector<ShownMessage> Boxes(Op op, Outcome outcome, SerialNumber n)
{
    const auto E = [](QString t) { return ShownMessage{MsgKind::Error, std::move(t), mbOK}; };
    QString noReply, checksum, type, failure;
    switch (op) {
    case Op::Identify:
        noReply = Sn(n) + " Нет ответа."; checksum = Sn(n) + "Ошибка CRC8";
        type = Sn(n) + " Неверный тип прибора"; failure = Sn(n) + " Нет ответа";
        break;
    case Op::ReadState:
        noReply = Sn(n) + "Нет ответа."; checksum = Sn(n) + "Ошибка CRC8";
        type = Sn(n) + "Неверный тип прибора"; failure = Sn(n) + "Нет ответа";
        break;
    case Op::ReadConfig: case Op::WriteConfig:
        noReply = "Нет ответа."; checksum = "Ошибка CRC8"; type = "Неверный тип прибора"; failure = "Нет ответа";
        break;
    case Op::ResetCounter:
        if (outcome == Outcome::Ok)
            return {{MsgKind::Information, "ЗРМ очищено", mbOK}};
        return {E("ОШИБКА обращения к порту")};
    }
    switch (outcome) {
    case Outcome::Ok:
        if (op == Op::WriteConfig)
            return {{MsgKind::Information, "Параметры изменены", mbOK}};
        return {};
    case Outcome::NoReply: return {E(noReply)};
    case Outcome::Garbled: return {E(checksum), E(failure)};
    case Outcome::WrongType: return {E(type), E(failure)};
    case Outcome::PortFailure: return {E(failure)};
    }
    return {};
}

SerialNumber FaultTarget(Fault f)
{
    return f == Fault::Collision ? 0 : kFaultyMeter;
}

std::vector<MeterSpec> FaultyMeters(Fault f)
{
    MeterSpec m;
    m.serial = kFaultyMeter;
    m.diameterIndex = 0;
    m.flow = metersim::FlowProfile::Constant(kFaultyMeterFlow);
    std::vector<MeterSpec> meters;
    switch (f) {
    case Fault::Silence: m.fault.silent = true; break;
    case Fault::NthSend: m.fault.answerFromSend = 3; break;
    case Fault::BadChecksum: m.fault.badChecksum = true; break;
    case Fault::WrongType: m.fault.wrongDeviceType = true; break;
    case Fault::Short: m.fault.cutBytes = 1; break;
    case Fault::OverLong: m.fault.extraBytes = 2; break;
    case Fault::Split: m.fault.splitPieces = 3; m.fault.splitGapMs = 30; break;
    case Fault::Late: m.fault.lateMs = kLateMs; break;
    case Fault::Garbage: m.fault.garbageBytes = 3; break;
    case Fault::UnplugMidReply: m.fault.lateMs = 1000; break;  // still held back when the line goes
    case Fault::Collision: {
        m.blocked = true;  // a write to both keeps their serial numbers
        MeterSpec other = m;
        other.serial = kOtherMeter;
        other.diameterIndex = 3;
        meters.push_back(other);
        break;
    }
    case Fault::UnplugIdle: case Fault::Replug: break;
    }
    meters.push_back(m);
    return meters;
}

void BreakLine(Fault f, MeterBench& bench)
{
    if (f != Fault::UnplugIdle && f != Fault::Replug)
        return;
    bench.Unplug();
    if (f == Fault::Replug) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        bench.Replug();
    }
}

bool EndFault(Fault f, MeterBench& bench)
{
    bench.ClearFault(kFaultyMeter);
    switch (f) {
    case Fault::Collision:
        bench.RemoveMeter(kOtherMeter);
        bench.SetBlocked(kFaultyMeter, false);
        return false;
    case Fault::UnplugMidReply: case Fault::UnplugIdle: case Fault::Replug:
        if (!bench.Plugged())
            bench.Replug();
        return true;
    default:
        return false;
    }
}

std::string RequestOverlaps(const MeterBench& bench)
{
    std::vector<metersim::ReceivedFrame> requests;
    for (const auto& f : bench.Received())
        if (f.valid)
            requests.push_back(f);
    const auto replies = bench.Sent();
    std::string out;
    for (size_t i = 1; i < requests.size(); ++i) {
        // The reset awaits no reply: nothing is outstanding after it.
        if (requests[i - 1].bytes.size() > 4 && requests[i - 1].bytes[4] == kCmdResetCounter)
            continue;
        const auto from = requests[i - 1].lastByte;
        const auto to = requests[i].firstByte;
        bool answered = false;
        for (const auto& r : replies)
            answered = answered || (r.start >= from && r.start <= to);
        const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
        if (!answered && gap < DeviceLink::kReplyWaitMs - 100)
            out += "request " + std::to_string(i) + " went out " + std::to_string(gap) +
                   " ms after the previous one, unanswered; ";
    }
    return out;
}
