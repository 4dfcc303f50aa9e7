#include "EReportDialogs.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "ECore.h"
#include "ESystem.h"
#include "ExceptionLog.h"
#include "Strings.h"
#include "SysUtils.h"

// --- Text measuring --------------------------------------------------------------------------------------
int MeasureTextHeight(std::string_view text, int width, int lineHeight, const TTextWidthFunction& measure) {
  const int room = std::max(1, width - 6);  // a box narrower than the margin still wraps word by word
  int height = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string current = line.empty() ? std::string(" ") : std::string(line);
    TStringList* words = New<TStringList>();
    try {
      SplitTextAtChars(current, *words, kMeasureWordBreaks, true, false);
      int accumulated = 0;
      for (int i = 0; i < words->Count(); ++i) {
        const int w = measure(words->Strings(i));
        if (i == 0) height += lineHeight;
        accumulated += w;
        const int n = accumulated / room;
        if (n > 0) {
          height += n * lineHeight;
          accumulated = w;
        }
      }
    } catch (...) {
      words->Free();
      throw;
    }
    words->Free();
    if (end == text.size()) break;
    start = end + 1;
  }
  return height;
}

// --- Pages -------------------------------------------------------------------------------------------------
std::vector<int> ShownReportPages(std::uint8_t logFlags) {
  std::vector<int> pages{rpGeneralPage, rpCallStackPage};
  if (logFlags & 0x10) {
    pages.push_back(rpModulesPage);
    pages.push_back(rpProcessesPage);
  }
  if (logFlags & 0x20) {
    pages.push_back(rpAssemblerPage);
    pages.push_back(rpCpuPage);
  }
  return pages;
}

int StartTabIndex(int startTab, std::uint8_t logFlags) {
  const std::vector<int> pages = ShownReportPages(logFlags);
  const auto at = std::find(pages.begin(), pages.end(), startTab);
  return at == pages.end() ? 0 : static_cast<int>(at - pages.begin());
}

int PageOfTabIndex(int tabIndex, std::uint8_t logFlags) {
  const std::vector<int> pages = ShownReportPages(logFlags);
  if (tabIndex < 0 || tabIndex >= static_cast<int>(pages.size())) return rpGeneralPage;
  return pages[static_cast<std::size_t>(tabIndex)];
}

// --- Placement -------------------------------------------------------------------------------------------
TDialogPlacement DefaultDialogPlacement(const TDialogRect& workArea, int strip) {
  TDialogPlacement p;
  p.Left = workArea.Left + (workArea.Width() - p.Width) / 2;
  p.Top = workArea.Top + (workArea.Height() - p.Height - strip) / 2;
  return p;
}

void KeepPlacementOnWorkArea(TDialogPlacement& p, const TDialogRect& workArea) {
  const bool inside = p.Left >= workArea.Left && p.Top >= workArea.Top && p.Left + p.Width <= workArea.Right &&
                      p.Top + p.Height <= workArea.Bottom;
  if (inside) return;
  p.Left = workArea.Left + (workArea.Width() - p.Width) / 2;
  p.Top = workArea.Top + (workArea.Height() - p.Height) / 2;
}

TDialogRect CentredRect(const TDialogRect& workArea, int width, int height) {
  TDialogRect r;
  r.Left = workArea.Left + (workArea.Width() - width) / 2;
  r.Top = workArea.Top + (workArea.Height() - height) / 2;
  r.Right = r.Left + width;
  r.Bottom = r.Top + height;
  return r;
}

int PlacementNumber(const std::string& text, int fallback) {
  int value = 0;
  return TryStrToInt(Trim(text), value) ? value : fallback;
}

// --- Sizes -------------------------------------------------------------------------------------------------
std::string StripAccelerator(std::string_view caption) {
  std::string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') {
        out += '&';
        ++i;
      }
      continue;
    }
    out += caption[i];
  }
  return out;
}

int ReportButtonWidth(int captionWidth, int border) {
  return std::max(75, captionWidth + 4 * border + 16);
}

int CheckBoxStripHeight(bool sendOffered, bool screenshotOffered, bool copyOffered, bool linkShown) {
  if ((sendOffered && screenshotOffered) || (copyOffered && linkShown)) return 34;
  if (sendOffered || screenshotOffered || copyOffered || linkShown) return 20;
  return 0;
}

// --- E-mail ------------------------------------------------------------------------------------------------
bool IsAcceptableEmail(std::string_view text) {
  return text.find('@') != std::string_view::npos && text.find('.') != std::string_view::npos;
}

std::string ReplaceSenderLine(std::string_view report, std::string_view email) {
  constexpr std::string_view kLine = "\r\n  3.3 ";
  const std::size_t line = report.find(kLine);
  if (line == std::string_view::npos) return std::string(report);
  const std::size_t body = line + 2;
  std::size_t lineEnd = report.find("\r\n", body);
  if (lineEnd == std::string_view::npos) lineEnd = report.size();
  const std::size_t colon = report.substr(0, lineEnd).find(": ", body);
  if (colon == std::string_view::npos) return std::string(report);
  std::string out(report.substr(0, colon + 2));
  out += email;
  out += report.substr(lineEnd);
  return out;
}

// --- Own look ----------------------------------------------------------------------------------------------
std::uint32_t NextBandColour(std::uint32_t colour) {
  std::uint32_t out = 0;
  for (int shift = 0; shift <= 16; shift += 8) {
    const double c = static_cast<double>((colour >> shift) & 0xFF) * 0.96;
    const auto v = static_cast<std::uint32_t>(std::min(255.0, std::round(c)));
    out |= v << shift;
  }
  return out;
}

// --- Source line -------------------------------------------------------------------------------------------
namespace {
void PutName(std::uint8_t* at, const std::string& name) {
  const std::size_t n = std::min(name.size(), kSourceLineNameSize - 1);
  std::memcpy(at, name.data(), n);
}
void PutInt(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
}  // namespace

std::array<std::uint8_t, kSourceLineRecordSize> PackSourceLineRecord(const TSourceLine& line) {
  std::array<std::uint8_t, kSourceLineRecordSize> record{};
  PutName(record.data() + 90, line.UnitName);
  PutName(record.data() + 180, line.ClassName);
  PutName(record.data() + 270, line.ProcedureName);
  PutInt(record.data() + 360, static_cast<std::uint32_t>(line.Line));
  PutInt(record.data() + 364, static_cast<std::uint32_t>(line.SecondLine));
  PutInt(record.data() + 368, line.ModuleValue1);
  PutInt(record.data() + 372, line.ModuleValue2);
  return record;
}

bool ParseLineColumn(std::string_view text, std::int32_t& line, std::int32_t& second) {
  auto digits = [](std::string_view s, std::size_t from, std::int32_t& value) {
    std::size_t i = from;
    std::int64_t v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - from < 10) v = v * 10 + (s[i++] - '0');
    if (i == from || v > 0x7FFFFFFF) return false;
    value = static_cast<std::int32_t>(v);
    return true;
  };
  const std::size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos || !digits(text, start, line)) return false;
  second = -1;
  const std::size_t bracket = text.find('[');
  if (bracket != std::string_view::npos && !digits(text, bracket + 1, second)) second = -1;
  return true;
}

std::string SourceLineMailslotName(std::uint32_t parentProcessId, bool parentIsDevelopmentEnvironment) {
  return std::string("\\\\.\\mailslot\\VantorLog") +
         (parentIsDevelopmentEnvironment ? std::to_string(parentProcessId) : std::string("0"));
}

std::vector<std::string> ModulePageRow(const TVantorModuleInfo& m) {
  return {IntToHex(static_cast<std::int64_t>(m.Handle), 8),
          ExtractFileName(m.FileName),
          m.Description,
          MaskVersionBuild(m.Version),
          FormatSizeInKb(m.FileSize),
          m.FileTime != 0 ? FormatReportDateTime(m.FileTime) : std::string(),
          GetFolderOfPath(m.FileName)};
}

std::vector<std::string> ProcessPageRow(const TVantorProcessInfo& p) {
  return {IntToStr(p.ProcessId),
          ExtractFileName(p.FileName),
          p.Description,
          MaskVersionBuild(p.Version),
          FormatSizeInKb(p.Memory),
          GetPriorityClassName(p.PriorityClass),
          p.Threads == 0 ? std::string("??") : IntToStr(p.Threads),
          GetFolderOfPath(p.FileName)};
}
