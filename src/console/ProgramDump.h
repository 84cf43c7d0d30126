#pragma once

#include <string>

namespace trevane {

class ControllerLink;

inline constexpr const char* kDumpFileName = "logProgram.txt";

// The Dump Program Code button's handler: nothing while a test runs, else DumpProgram().
void OnDumpProgram(ControllerLink& link);

// Uploads the stored program and writes it to "logProgram.txt" in the working directory through
// a temporary file renamed over it, so a failed dump leaves the previous file whole. Shows
// "Dumped to logProgram.txt" on success and "Could not write logProgram.txt" when the file could
// not be written; nothing at all when not connected or when the upload fails.
void DumpProgram(ControllerLink& link);

// The program stored in the controller, uploaded on the command session: the text up to its
// first zero byte. Throws what the session throws (MotionError when there is no session).
std::string UploadProgramText(ControllerLink& link);

// Writes `text` to `path` with every LF stored as CR LF, atomically (temporary file + rename).
// Returns false, leaving any previous file whole, when it cannot.
bool WriteTextFileAtomically(const std::string& path, const std::string& text);
// The same, with a text naming what failed and with which file in `error` when it returns false.
bool WriteTextFileAtomically(const std::string& path, const std::string& text, std::string& error);

// Opens the working directory in the desktop's file browser.
void OpenLogFolder(ControllerLink& link);

}  // namespace trevane
