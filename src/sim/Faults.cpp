#include "sim/FaultText.h"
#include "sim/Simulator.h"

namespace trevane::sim {

Fault ParseFault(const std::string& text) {
    const auto colon = text.find(':');
    const std::string name = text.substr(0, colon);
    const std::string_view rest =
        colon == std::string::npos ? std::string_view{} : std::string_view(text).substr(colon + 1);
    const bool hasArgument = colon != std::string::npos;
    if (std::optional<Fault> physical = ParsePhysicalFault(text, name, rest)) {
        return *physical;
    }
    Fault fault{};
    if ((name == "stall" || name == "torque") && hasArgument) {
        fault.kind = name == "stall" ? Fault::Kind::Stall : Fault::Kind::Torque;
        fault.axis = ReadFaultAxis(text, rest);
    } else if (name == "load" && hasArgument) {
        const auto second = rest.find(':');
        fault.kind = Fault::Kind::Load;
        fault.axis = ReadFaultAxis(text, rest.substr(0, second));
        fault.factor = ReadFaultNumber(
            text, second == std::string_view::npos ? std::string_view{} : rest.substr(second + 1),
            1.0, 10.0, "expected load:AXIS:FACTOR with FACTOR a number from 1.0 to 10.0");
    } else if (name == "limit" && hasArgument) {
        const auto second = rest.find(':');
        const std::string_view side =
            second == std::string_view::npos ? std::string_view{} : rest.substr(second + 1);
        if (side != "forward" && side != "reverse") {
            RefuseFault(text, "expected limit:AXIS:forward or limit:AXIS:reverse");
        }
        fault.kind = Fault::Kind::Limit;
        fault.axis = ReadFaultAxis(text, rest.substr(0, second));
        fault.forward = side == "forward";
    } else if (name == "cn" && hasArgument) {
        if (rest != "1" && rest != "-1") {
            RefuseFault(text, "the wiring is cn:1 or cn:-1");
        }
        fault.kind = Fault::Kind::Cn;
        fault.value = rest == "1" ? 1 : -1;
    } else if (name == "delay" && hasArgument) {
        fault.kind = Fault::Kind::Delay;
        fault.value = ReadFaultCount(text, rest, 0, 60000);
    } else if (name == "drop" && hasArgument) {
        fault.kind = Fault::Kind::Drop;
        fault.value = ReadFaultCount(text, rest, 1, 1000000000);
    } else if (name == "cut" && hasArgument) {
        fault.kind = Fault::Kind::Cut;
        fault.value = ReadFaultCount(text, rest, 1, 1000000000);
    } else if (name == "reject" && hasArgument && !rest.empty()) {
        fault.kind = Fault::Kind::Reject;
        fault.command = std::string(rest);
    } else if (text == "short-record") {
        fault.kind = Fault::Kind::ShortRecord;
    } else if (text == "silent") {
        fault.kind = Fault::Kind::Silent;
    } else {
        RefuseFault(text, "see --help for the list of faults");
    }
    return fault;
}

const std::vector<FaultForm>& FaultForms() {
    static const std::vector<FaultForm> forms = {
        {"stall:AXIS", "stall:Y",
         "the motor of AXIS (X, Y, Z, W) stops following its\n"
         "reference: the position error grows past 700 in a move\n"
         "and stays latched after \"MO\" until \"SH\""},
        {"torque:AXIS", "torque:Z", "the torque of AXIS reads above 3.1 V while it moves"},
        {"load:AXIS:FACTOR", "load:Y:2.5",
         "the following error and torque of AXIS are FACTOR times\n"
         "what they would be (1.0 to 10.0): friction or wear"},
        {"friction:AXIS:FACTOR", "friction:X:2",
         "the dry and viscous friction of AXIS are FACTOR times\n"
         "their usual (1.0 to 10.0): torque and error rise while\n"
         "it moves, alike in both directions"},
        {"gravity:AXIS:VOLTS", "gravity:Z:1.2",
         "AXIS carries an unbalanced load that its motor holds\n"
         "with VOLTS (-9.9982 to 9.9982, the sign its direction),\n"
         "at rest too; the error sags to one side"},
        {"bind:AXIS:FROM:TO", "bind:Y:-12000:-8000",
         "AXIS binds between the positions FROM and TO (counts,\n"
         "FROM below TO): 1 V more friction there, either way"},
        {"backlash:AXIS:COUNTS", "backlash:X:40",
         "AXIS has COUNTS of lost motion (1 to 1000): at each\n"
         "reversal its torque drops, then jumps as the play closes"},
        {"noise:AXIS:COUNTS", "noise:W:3",
         "the encoder of AXIS reads up to COUNTS off (1 to 1000),\n"
         "at rest and moving; the same readings every run"},
        {"gain:AXIS:FACTOR", "gain:Y:0.5",
         "the position loop gain of AXIS is FACTOR times its\n"
         "tuning (0.1 to 10.0): low, the error grows with speed;\n"
         "high, error and torque ring after each stop"},
        {"limit:AXIS:forward", "limit:X:forward", "the forward limit switch of AXIS is stuck on"},
        {"limit:AXIS:reverse", "limit:X:reverse", "the reverse limit switch of AXIS is stuck on"},
        {"cn:1", "cn:1",
         "the machine is wired for \"CN1\" (the power-on setting is\n"
         "\"CN-1\", so every switch reads as on until CN is swapped)"},
        {"delay:MS", "delay:50", "every reply comes MS milliseconds late (0..60000)"},
        {"drop:N", "drop:3", "each connection is closed after its N-th reply"},
        {"cut:N", "cut:3", "each connection is closed on its N-th request, which is not answered"},
        {"reject:COMMAND", "reject:TPX", "that exact command is answered \"?\""},
        {"short-record", "short-record", "data records are 100 bytes long instead of 152"},
        {"silent", "silent", "connections are accepted, nothing is ever answered"},
    };
    return forms;
}

std::string FaultHelp() {
    constexpr std::size_t kColumn = 24;
    std::string help;
    for (const FaultForm& fault : FaultForms()) {
        const std::string form = fault.form;
        help += "  " + form + std::string(kColumn - form.size(), ' ');
        for (const char* c = fault.description; *c != '\0'; ++c) {
            help += *c;
            if (*c == '\n') {
                help += std::string(kColumn + 2, ' ');
            }
        }
        help += "\n";
    }
    return help;
}

std::string RecordHelp() {
    return "Data record (\"QR IXYZW\"), little-endian, 152 bytes:\n"
           "  header  byte 0 = 0x8F (I/O block and axes X..W follow), bytes 2-3 = total length,\n"
           "          bytes 4-7 = sample time in ms; I/O block: bytes 8-9 inputs (always 0),\n"
           "          bytes 10-11 outputs 1..16 (bit n-1), byte 12 = last error number,\n"
           "          byte 13 = CN (-1 or 1); bytes 14-39 are 0\n"
           "  axis blocks at 40, 68, 96, 124: status word, switch byte, stop code, reference,\n"
           "          motor, error, auxiliary (0), velocity, torque (32767 = 10 V), analog (0)\n"
           "Status word bits: 15 = moving, 4 = stopped by a stop condition (abort, limit switch,\n"
           "  software limit or motor off; cleared when the next motion starts), 0 = motor off\n"
           "Switch byte bits: 3 = forward limit reads as on, 2 = reverse limit reads as on\n"
           "  (\"MG _LFX\" replies 1.0000 while the switch is not on, 0.0000 while it is)\n"
           "Stop codes: 0 moving or no motion since power-on, 1 move finished,\n"
           "  2 forward limit switch, 3 reverse limit switch, 4 aborted (AB, ST, SH),\n"
           "  5 forward software limit (FL), 6 reverse software limit (BL), 8 motor off\n"
           "Limit switches sit at +200000 and -200000 counts.\n";
}

std::string PowerOnHelp() {
    return "Power-on state: motors off, positions 0, outputs clear, CN -1 (wired for -1),\n"
           "  SP 25000, AC 256000, DC 256000, KP 6, KI 0, KD 64, TL 9.9982 V, PT 0, JG 0,\n"
           "  BL -2147483648, FL 2147483647, a short stored program for \"UL\".\n";
}

}  // namespace trevane::sim
