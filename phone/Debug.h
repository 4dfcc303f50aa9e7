// The debug log facade that the link layer and the finder report their progress
// to, and the hex dump and line format of the link hex log files.
#pragma once

#include <string>
#include <string_view>

class TDebugEngine {
 public:
  // Takes a progress text with a kind (0, 1, 2 or -2) and a code. This build
  // writes nothing.
  void LogEvent(const std::string& msg, int kind, int code);
  // Every byte of `data` as "[", two upper-case hexadecimal digits and "]".
  void HexDump(std::string_view data, std::string& text) const;
};

// The global log object; valid from start-up until shut-down, null afterwards.
extern TDebugEngine* DebugEngine;

// The bytes of `data` in the hex dump form, returned.
std::string HexDumpText(std::string_view data);

// Direction marks of the link hex log lines.
enum class TLinkLogDirection { ldSent, ldReceived };

// One line of a link hex log, without its line end: the time text, ">> " for a
// frame sent or "-- " for a frame received, then the hex dump of the frame.
std::string LinkLogLine(std::string_view timeText, TLinkLogDirection direction, std::string_view frame);

// Appends `line` and a CR LF to the file at `path`, creating it when missing; the
// file is opened and closed for each line. Returns false when it cannot be written.
bool AppendLinkLogLine(const std::string& path, std::string_view line);

// Opens the file at `path` for appending (creating it when missing) and closes it
// again, as the sender does with each log at construction. False on failure.
bool TouchLinkLog(const std::string& path);
