#include <array>

#include "sim/FaultText.h"
#include "sim/PhysicalFaults.h"

// The text of the faults of an axis's mechanics, encoder or tuning.
namespace trevane::sim {
namespace {

struct PhysicalForm {
    std::string_view name;
    Fault::Kind kind;
    const char* form;
    std::size_t arguments;  // after the name, the axis included
};

constexpr std::array<PhysicalForm, 6> kForms = {{
    {"friction", Fault::Kind::Friction, "friction:AXIS:FACTOR", 2},
    {"gravity", Fault::Kind::Gravity, "gravity:AXIS:VOLTS", 2},
    {"bind", Fault::Kind::Bind, "bind:AXIS:FROM:TO", 3},
    {"backlash", Fault::Kind::Backlash, "backlash:AXIS:COUNTS", 2},
    {"noise", Fault::Kind::Noise, "noise:AXIS:COUNTS", 2},
    {"gain", Fault::Kind::Gain, "gain:AXIS:FACTOR", 2},
}};

void ReadBind(const std::string& text, const std::vector<std::string_view>& arguments,
              Fault& fault) {
    const std::string why = "expected bind:AXIS:FROM:TO with FROM below TO, whole counts";
    fault.from = ReadFaultPosition(text, arguments[1], why);
    fault.to = ReadFaultPosition(text, arguments[2], why);
    if (fault.from >= fault.to) {
        RefuseFault(text, why);
    }
}

void ReadValues(const std::string& text, const std::vector<std::string_view>& arguments,
                Fault& fault) {
    const std::string_view value = arguments[1];
    switch (fault.kind) {
        case Fault::Kind::Friction:
            fault.factor = ReadFaultNumber(
                text, value, kMinFrictionFactor, kMaxFrictionFactor,
                "expected friction:AXIS:FACTOR with FACTOR a number from 1.0 to 10.0");
            break;
        case Fault::Kind::Gravity:
            fault.volts = ReadFaultNumber(
                text, value, -kMaxGravityVolts, kMaxGravityVolts,
                "expected gravity:AXIS:VOLTS with VOLTS a number from -9.9982 to 9.9982");
            break;
        case Fault::Kind::Bind:
            ReadBind(text, arguments, fault);
            break;
        case Fault::Kind::Backlash:
        case Fault::Kind::Noise:
            fault.value = ReadFaultCount(text, value, 1, kMaxFaultCounts);
            break;
        case Fault::Kind::Gain:
            fault.factor =
                ReadFaultNumber(text, value, kMinGain, kMaxGain,
                                "expected gain:AXIS:FACTOR with FACTOR a number from 0.1 to 10.0");
            break;
        default:
            break;
    }
}

}  // namespace

std::optional<Fault> ParsePhysicalFault(const std::string& text, std::string_view name,
                                        std::string_view rest) {
    for (const PhysicalForm& form : kForms) {
        if (form.name != name) {
            continue;
        }
        const std::vector<std::string_view> arguments = FaultArguments(rest);
        if (arguments.size() != form.arguments) {
            RefuseFault(text, std::string("expected ") + form.form);
        }
        Fault fault{};
        fault.kind = form.kind;
        fault.axis = ReadFaultAxis(text, arguments[0]);
        ReadValues(text, arguments, fault);
        return fault;
    }
    return std::nullopt;
}

}  // namespace trevane::sim
