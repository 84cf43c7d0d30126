#include "cli/FleetReport.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "cli/Json.h"
#include "cli/TerminalText.h"
#include "report/HtmlText.h"

namespace trevane::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::chrono::milliseconds kRedrawEvery{100};
// The live view redraws its lines in place, so each must stay one line of a terminal; the
// summary and every other output give the text whole.
constexpr std::size_t kTextShown = 90;
// The summary's DETAIL wraps at blanks past this column.
constexpr std::size_t kSummaryWidth = 118;
constexpr std::size_t kStateWidth = std::string_view(fleet_state::kPassedWithWarnings).size();

std::string Endpoint(const FleetMember& member) {
    return member.controller.address + ":" + std::to_string(member.controller.port);
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text;
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

std::string Shortened(const std::string& text) {
    std::string line = FirstLine(text);
    return line.size() > kTextShown ? line.substr(0, kTextShown - 3) + "..." : line;
}

// `text` whole, broken at blanks into lines of at most `width` (a word longer stays whole), the
// lines after the first indented by `indent`.
std::string Wrapped(const std::string& text, std::size_t indent, std::size_t width) {
    std::string out;
    std::string line;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string word = text.substr(start, end - start);
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + "\n" + std::string(indent, ' ');
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
        start = end + 1;
    }
    return out + line;
}

// A relative link to a file of the member's folder.
std::string Href(const FleetMember& member, const std::string& file) {
    return html::LinkTo(member.controller.name) + "/" +
           html::LinkTo(fs::path(file).filename().string());
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    // snprintf follows the process locale, which a program around the library may have set;
    // the table's numbers never do.
    std::string shown = text;
    std::replace(shown.begin(), shown.end(), ',', '.');
    return shown;
}

}  // namespace

FleetDisplay::FleetDisplay(Mode mode, const std::vector<FleetMember>& members, std::ostream& out,
                           std::function<void()> outputBroken)
    : mode_(mode), members_(members), out_(out), outputBroken_(std::move(outputBroken)) {
    for (const FleetMember& member : members) {
        nameWidth_ = std::max(nameWidth_, member.controller.name.size());
    }
}

std::string FleetDisplay::Line(const FleetMember& member) const {
    std::string line = Padded(member.controller.name, nameWidth_) + "  " +
                       Padded(Endpoint(member), 21) + "  " + Padded(member.state, kStateWidth);
    if (!member.text.empty()) {
        line += "  " + (mode_ == Mode::Terminal ? Shortened(member.text) : FirstLine(member.text));
    }
    return EscapeForTerminal(line);
}

void FleetDisplay::Changed(std::size_t index) {
    const FleetMember& member = members_[index];
    if (mode_ == Mode::Json) {
        json::Object line;
        line.Text("controller", member.controller.name)
            .Text("address", member.controller.address)
            .Number("port", static_cast<long long>(member.controller.port))
            .Text("state", member.state)
            .Text("text", member.text);
        json::WriteLine(out_, line);
    } else if (mode_ == Mode::Lines) {
        out_ << Line(member) << std::endl;
    } else {
        due_ = true;
        if (!drawn_ || std::chrono::steady_clock::now() - lastDrawn_ >= kRedrawEvery) {
            Redraw();
        }
    }
    if (!out_) {
        // No one reads any more: the fleet stops as a single test does.
        outputBroken_();
    }
}

void FleetDisplay::Flush() {
    if (mode_ == Mode::Terminal && due_) {
        Redraw();
    }
}

void FleetDisplay::Redraw() {
    if (drawn_) {
        out_ << "\x1b[" << members_.size() << "A";  // back to the first line
    }
    for (const FleetMember& member : members_) {
        out_ << "\r" << Line(member) << "\x1b[K\n";
    }
    out_ << std::flush;
    drawn_ = true;
    due_ = false;
    lastDrawn_ = std::chrono::steady_clock::now();
}

std::string FleetCountLine(const std::vector<FleetMember>& members) {
    std::map<std::string, int> counts;
    for (const FleetMember& member : members) {
        ++counts[member.state];
    }
    std::string line =
        std::to_string(members.size()) + " controller" + (members.size() == 1 ? "" : "s") + ":";
    const char* separator = " ";
    using namespace fleet_state;
    for (const char* state :
         {outcome::kPassed, kPassedWithWarnings, kDone, outcome::kAborted, outcome::kUnverified,
          outcome::kLinkLost, kFailed, outcome::kStopped, outcome::kNoConnection, kWaiting,
          kRunning}) {
        if (counts[state] > 0) {
            line += separator + std::to_string(counts[state]) + " " + state;
            separator = ", ";
        }
    }
    return line;
}

std::string FleetSummaryTable(const std::vector<FleetMember>& members) {
    std::size_t width = 4;
    for (const FleetMember& member : members) {
        width = std::max(width, member.controller.name.size());
    }
    std::string table = Padded("NAME", width) + "  " + Padded("ADDRESS", 21) + "  " +
                        Padded("RESULT", kStateWidth) + "  " + Padded("SECONDS", 7) + "  DETAIL\n";
    for (const FleetMember& member : members) {
        std::string row = Padded(member.controller.name, width) + "  " +
                          Padded(Endpoint(member), 21) + "  " + Padded(member.state, kStateWidth) +
                          "  " + Padded(Seconds(member.seconds), 7);
        if (!member.text.empty()) {
            const std::size_t indent = row.size() + 2;
            row += "  " + Wrapped(FirstLine(member.text), indent,
                                  kSummaryWidth > indent ? kSummaryWidth - indent : 40);
        }
        table += EscapeForTerminal(row) + "\n";
    }
    return table + FleetCountLine(members) + "\n";
}

std::string FleetSummaryHtml(const std::vector<FleetMember>& members, const std::string& title) {
    std::string html =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + html::Escaped(title) +
        "</title>\n<style>body{font-family:sans-serif}td,th{padding:2px 8px;text-align:left}"
        ".passed,.done{color:#060}.failed,.aborted,.unverified,.link_lost{color:#a00}"
        ".passed_with_warnings,.stopped,.no_connection{color:#850}</style>"
        "</head><body>\n<h1>" +
        html::Escaped(title) + "</h1>\n<p>" + html::Escaped(FleetCountLine(members)) +
        "</p>\n<table>\n<tr><th>Name</th><th>Address</th><th>Result</th><th>Seconds</th>"
        "<th>Detail</th><th>Files</th></tr>\n";
    for (const FleetMember& member : members) {
        std::string files;
        for (const auto& [label, file] :
             {std::pair{"report", member.report},
              {"log", member.log},
              {"trace",
               member.state == fleet_state::kWaiting ? std::string()
                                                      : std::string(kFleetTraceFile)}}) {
            if (!file.empty()) {
                files += "<a href=\"" + html::Escaped(Href(member, file)) + "\">" + label + "</a> ";
            }
        }
        html += "<tr><td>" + html::Escaped(member.controller.name) + "</td><td>" +
                html::Escaped(Endpoint(member)) + "</td><td class=\"" +
                html::Escaped(member.state) + "\">" +
                html::Escaped(member.state) + "</td><td>" + Seconds(member.seconds) + "</td><td>" +
                html::Escaped(member.text) + "</td><td>" + files + "</td></tr>\n";
    }
    return html + "</table>\n</body></html>\n";
}

}  // namespace trevane::cli
