#include "report/SamplesCsv.h"

#include "common/CLocale.h"

namespace trevane {
namespace {

constexpr const char* kCsvHeader = "move,axis,target,cycle,time_ms,torque,error\r\n";

}  // namespace

std::string RenderSamplesCsv(const TestRecord& record) {
    std::string csv = kCsvHeader;
    csv.reserve(kMovesPerTest * kCyclesPerMove * 48);
    for (const MoveTrace& move : record.moves) {
        const std::string prefix =
            FormatInt(move.moveIndex) + "," + move.axis + "," + FormatInt(move.target) + ",";
        for (std::size_t cycle = 0; cycle < move.samples.size(); ++cycle) {
            const TraceSample& sample = move.samples[cycle];
            csv += prefix;
            csv += FormatInt(static_cast<long long>(cycle));
            csv += ',';
            csv += FormatShortest(sample.timeMs);
            csv += ',';
            csv += FormatShortest(sample.torque);
            csv += ',';
            csv += FormatShortest(sample.error);
            csv += "\r\n";
        }
    }
    return csv;
}

}  // namespace trevane
