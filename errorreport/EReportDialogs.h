// The report dialogs' portable half: text measuring, the pages of the
// detailed dialog and its start page, the placement arithmetic, the
// short dialog's e-mail check and sizes, the caption bands of the library's
// own look and the source-line record sent to the development environment.
// The windows themselves are in win/EReportDialogsWin.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// A rectangle in pixels (right and bottom excluded).
struct TDialogRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
};

// --- Text measuring --------------------------------------------------------------------------------------
// The width of a piece of text in the font being measured.
using TTextWidthFunction = std::function<int(std::string_view)>;
// The characters at which a line is split into words (kept with the words).
constexpr std::string_view kMeasureWordBreaks = " !%()-?[]{}\xA7\xB0";
// The height of `text` wrapped in `width` pixels: every line (an empty one
// counts as " ") takes one line height, and each time the words measured on
// a line fill width - 6 pixels another line height is added.
int MeasureTextHeight(std::string_view text, int width, int lineHeight, const TTextWidthFunction& measure);

// --- Pages of the detailed dialog ------------------------------------------------------------------------
enum TReportPage { rpGeneralPage = 0, rpCallStackPage, rpModulesPage, rpProcessesPage, rpAssemblerPage, rpCpuPage };
// The pages shown, in tab order: General and Call Stack always, Modules and
// Processes with LogFlags 0x10, Assembler and CPU with LogFlags 0x20.
std::vector<int> ShownReportPages(std::uint8_t logFlags);
// The tab that opens first for StartTab; a page not shown gives General (tab 0).
int StartTabIndex(int startTab, std::uint8_t logFlags);
// The page of a tab index (tabs above 1 skip the pairs that are not shown).
int PageOfTabIndex(int tabIndex, std::uint8_t logFlags);

// --- Placement -------------------------------------------------------------------------------------------
// The detailed dialog's kept rectangle and show state (1 normal, 3 maximised, 6 minimised).
struct TDialogPlacement {
  int Width = 745;
  int Height = 468;
  int Left = 0;
  int Top = 0;
  int State = 1;
};
// The defaults: 745 x 468, centred in the work area above the check-box strip.
TDialogPlacement DefaultDialogPlacement(const TDialogRect& workArea, int strip);
// A rectangle that does not lie wholly inside the work area is centred in it, keeping its size.
void KeepPlacementOnWorkArea(TDialogPlacement& placement, const TDialogRect& workArea);
// A rectangle of the given size centred in the work area (halves truncated).
TDialogRect CentredRect(const TDialogRect& workArea, int width, int height);
// Reads a kept number; a value that is not a whole number keeps the default.
int PlacementNumber(const std::string& text, int fallback);

// --- Sizes -------------------------------------------------------------------------------------------------
// The caption without its "&" accelerator marks ("&&" stays one "&").
std::string StripAccelerator(std::string_view caption);
// A short-dialog button: caption width + 4 borders + 16, at least 75.
int ReportButtonWidth(int captionWidth, int border);
// The detailed dialog's check-box strip: 34 when send and screenshot are both
// offered or copy and link are both shown, 20 when any one is, else 0.
int CheckBoxStripHeight(bool sendOffered, bool screenshotOffered, bool copyOffered, bool linkShown);

// --- The short dialog's e-mail ----------------------------------------------------------------------------
// A sender address the short dialog accepts: it holds both "@" and ".".
bool IsAcceptableEmail(std::string_view text);
// The report with the value of its "3.3" line (the line beginning
// "\r\n  3.3 ", value after ": " to the line end) replaced by `email`;
// the report unchanged when it has no such line.
std::string ReplaceSenderLine(std::string_view report, std::string_view email);

// --- Own look ----------------------------------------------------------------------------------------------
// The next caption band's colour: each component x 0.96, rounded, at most 255 (0x00BBGGRR).
std::uint32_t NextBandColour(std::uint32_t colour);

// --- The source line for the development environment -------------------------------------------------------
constexpr std::size_t kSourceLineRecordSize = 376;
constexpr std::size_t kSourceLineNameSize = 90;
struct TSourceLine {
  std::string UnitName;
  std::string ClassName;
  std::string ProcedureName;
  std::int32_t Line = 0;
  std::int32_t SecondLine = -1;  // the number in brackets after the line
  std::uint32_t ModuleValue1 = 0;
  std::uint32_t ModuleValue2 = 0;
};
// The 376-byte record, little-endian: an empty text field, the three names
// zero-terminated in 90 bytes each (longer names are cut to 89 bytes), the two
// line numbers and the module's two values.
std::array<std::uint8_t, kSourceLineRecordSize> PackSourceLineRecord(const TSourceLine& line);
// Splits a Call Stack line cell ("123[45]") into the leading digits and the
// digits after "[" (-1 when absent); false when the cell starts with no digit.
bool ParseLineColumn(std::string_view text, std::int32_t& line, std::int32_t& second);
// "\\.\mailslot\VantorLog" + the parent's id when the parent is the development environment, else + "0".
std::string SourceLineMailslotName(std::uint32_t parentProcessId, bool parentIsDevelopmentEnvironment);

// The cells of a Modules page row: handle (8 hex digits), file name,
// description, version with its build masked, size in Kb, modified date, folder.
struct TVantorModuleInfo;
std::vector<std::string> ModulePageRow(const TVantorModuleInfo& module);
// The cells of a Processes page row: id, file name, description, masked
// version, memory in Kb, priority class, threads ("??" for 0), folder.
struct TVantorProcessInfo;
std::vector<std::string> ProcessPageRow(const TVantorProcessInfo& process);
