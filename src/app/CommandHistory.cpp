#include "app/CommandHistory.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/FileReplace.h"
#include "common/PathText.h"

namespace trevane {
namespace {

std::string Escape(const std::string& command) {
    std::string line;
    line.reserve(command.size());
    for (const char c : command) {
        switch (c) {
            case '\\':
                line += "\\\\";
                break;
            case '\r':
                line += "\\r";
                break;
            case '\n':
                line += "\\n";
                break;
            default:
                line += c;
        }
    }
    return line;
}

std::string Unescape(std::string_view line) {
    std::string command;
    command.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] != '\\' || i + 1 == line.size()) {
            command += line[i];
            continue;
        }
        const char next = line[++i];
        command += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
    }
    return command;
}

}  // namespace

bool CommandHistory::Add(const std::string& command) {
    position_ = -1;
    draft_.clear();
    if (command.empty() || (!entries_.empty() && entries_.front() == command)) {
        return false;
    }
    entries_.push_front(command);
    if (entries_.size() > kCapacity) {
        entries_.pop_back();
    }
    return true;
}

std::optional<std::string> CommandHistory::Older(const std::string& shown) {
    if (static_cast<std::size_t>(position_ + 1) >= entries_.size()) {
        return std::nullopt;
    }
    if (position_ < 0) {
        draft_ = shown;
    }
    return entries_[static_cast<std::size_t>(++position_)];
}

std::optional<std::string> CommandHistory::Newer() {
    if (position_ < 0) {
        return std::nullopt;
    }
    --position_;
    return position_ < 0 ? draft_ : entries_[static_cast<std::size_t>(position_)];
}

std::string CommandHistory::Serialise() const {
    std::string text;
    for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
        text += Escape(*entry);
        text += '\n';
    }
    return text;
}

CommandHistory CommandHistory::Parse(std::string_view text) {
    CommandHistory history;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);  // a file edited on another platform
        }
        history.Add(Unescape(line));
    }
    return history;
}

std::optional<std::string> CommandHistory::Load(const std::string& path) {
    *this = CommandHistory();
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) {
        return std::nullopt;
    }
    if (error || status.type() != std::filesystem::file_type::regular) {
        return "cannot read the command history '" + path +
               "': " + (error ? error.message() : std::string("not a regular file"));
    }
    std::ifstream file(PathFromText(path), std::ios::binary);
    std::string text;
    char chunk[4096];
    while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
        text.append(chunk, static_cast<std::size_t>(file.gcount()));
    }
    if (!file.is_open() || file.bad()) {
        return "cannot read the command history '" + path + "': " + std::strerror(errno);
    }
    *this = Parse(text);
    return std::nullopt;
}

std::optional<std::string> CommandHistory::Save(const std::string& path) const {
    std::error_code error;
    const std::filesystem::path folder = PathFromText(path).parent_path();
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, error);
        if (error) {
            return "cannot make the folder '" + TextFromPath(folder) +
                   "' for the command history: " + error.message();
        }
    }
    return ReplaceFileAtomically(path, Serialise());
}

}  // namespace trevane
