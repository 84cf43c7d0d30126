#include "console/ProgramDump.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <system_error>

#include "common/FileReplace.h"
#include "common/PathText.h"
#include "link/ControllerLink.h"

namespace trevane {
namespace {

constexpr const char* kDumpedText = "Dumped to logProgram.txt";
constexpr const char* kDumpFailedText = "Could not write logProgram.txt";

// The reference wrote in text mode; storing CR LF explicitly gives every platform its bytes.
std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')));
    for (char c : text) {
        if (c == '\n') {
            out.push_back('\r');
        }
        out.push_back(c);
    }
    return out;
}

}  // namespace

bool WriteTextFileAtomically(const std::string& path, const std::string& text, std::string& error) {
    try {
        if (std::optional<std::string> failure = ReplaceFileAtomically(path, WithCrLf(text))) {
            error = std::move(*failure);
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        error = "cannot write '" + path + "': " + e.what();
        return false;
    }
}

bool WriteTextFileAtomically(const std::string& path, const std::string& text) {
    std::string error;
    return WriteTextFileAtomically(path, text, error);
}

std::string UploadProgramText(ControllerLink& link) {
    std::shared_ptr<MotionClient> session = link.CommandSession();
    if (!session) {
        throw MotionError("no command session is open for the program upload");
    }
    std::string program;
    try {
        program = link.CallOnLiveSession(
            session, false, [](MotionClient& live) { return live.programUpload(); });
        link.NoteSessionUse(session);
    } catch (const std::exception& error) {
        link.NoteSessionFailure(session, error);
        throw;
    }
    // The file holds the text up to its first zero byte, as a "%s" write would.
    program.erase(std::min(program.find('\0'), program.size()));
    return program;
}

void OnDumpProgram(ControllerLink& link) {
    if (link.Test().running) {
        return;
    }
    DumpProgram(link);
}

void DumpProgram(ControllerLink& link) {
    try {
        if (!link.Connected()) {
            return;
        }
        std::string program;
        try {
            program = UploadProgramText(link);
        } catch (...) {
            // A failed upload touches no file and shows nothing.
            return;
        }
        const bool written = WriteTextFileAtomically(kDumpFileName, program);
        // Owned by no window: the main window stays usable while the box is open.
        link.TheOperator()->ShowMessage(written ? kDumpedText : kDumpFailedText, kMessageCaption, false);
    } catch (...) {
        // Never throws into the window's event handling.
    }
}

void OpenLogFolder(ControllerLink& link) {
    try {
        std::error_code error;
        const std::filesystem::path folder = std::filesystem::current_path(error);
        if (error) {
            return;
        }
        link.TheOperator()->OpenFolder(TextFromPath(folder));
    } catch (...) {
        // The outcome of opening the folder is not looked at.
    }
}

}  // namespace trevane
