// The dialog's rich-text documents loaded into a rich edit: the text shown is
// the text built, and the colours land on the fields they mark.
#include <gtest/gtest.h>
#include <richedit.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ECore.h"
#include "ECoreWin.h"
#include "EHook.h"
#include "EReportBuilder.h"

namespace {

// The report text as a rich edit shows it: one CR per line break, no break at the end.
std::string AsShown(std::string text) {
  std::string out;
  for (char c : text)
    if (c != '\n') out += c;
  while (!out.empty() && out.back() == '\r') out.pop_back();
  return out;
}

std::string ShownText(HWND edit) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(edit)) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(edit, text.data(), static_cast<int>(text.size()))));
  return AsShown(text);
}

COLORREF ColourAt(HWND edit, std::size_t from, std::size_t length) {
  SendMessageA(edit, EM_SETSEL, from, from + length);
  CHARFORMATA format{};
  format.cbSize = sizeof format;
  SendMessageA(edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  return format.crTextColor;
}

}  // namespace

TEST(DialogRtfWindows, RichEditShowsTheBuiltTexts) {
  HMODULE library = LoadLibraryA("riched20.dll");
  ASSERT_NE(library, nullptr);
  HWND edit = CreateWindowExA(0, "RichEdit20A", "", WS_POPUP | ES_MULTILINE, 0, 0, 400, 300, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(edit, nullptr);
  const TRtfFont font{0, "Courier New", 8};

  const std::string general = "First {line}\r\nApplication:\r\n------------\r\n1.1 Path : C:\\dir\\x.exe\r\nplain\r\n";
  RichEditLoadRtf(edit, BuildGeneralRtf(general, font));
  EXPECT_EQ(ShownText(edit), AsShown(general));
  const std::string shownGeneral = AsShown(general);
  EXPECT_EQ(ColourAt(edit, shownGeneral.find("1.1 Path"), 3), RGB(0, 100, 100));
  EXPECT_EQ(ColourAt(edit, shownGeneral.find("C:\\dir"), 4), RGB(0, 0, 160));

  const std::string listing =
      "; Unit.Proc {x}\r\n; -------------\r\n00401000  push ebp  ; <-- EXCEPTION\r\n00401001  ret\r\n";
  RichEditLoadRtf(edit, BuildAssemblerRtf(listing, font));
  EXPECT_EQ(ShownText(edit), AsShown(listing));
  EXPECT_EQ(ColourAt(edit, AsShown(listing).find("<-- EXC"), 5), RGB(80, 80, 80));

  RegionMemoryReader memory;
  memory.AddRegion(0x0012FF00, std::vector<std::uint8_t>(64, 0x7B));
  std::vector<std::uint8_t> code(256);
  for (std::size_t i = 0; i < code.size(); ++i) code[i] = static_cast<std::uint8_t>(i);
  memory.AddRegion(0x00401000, code);
  TReportRegisters regs{0x11111111, 2, 3, 4, 5, 0x0012FF00, 7, 0x00401000};
  const std::string cpu = BuildCpuText(TCpuTexts{}, &regs, memory, 0x0012FF00, 0x00401000);
  RichEditLoadRtf(edit, BuildCpuRtf(cpu, font, 7));
  const std::string shownCpu = AsShown(cpu);
  EXPECT_EQ(ShownText(edit), shownCpu);
  EXPECT_EQ(ColourAt(edit, shownCpu.find("11111111"), 8), RGB(0, 0, 160));  // a register value
  EXPECT_EQ(ColourAt(edit, shownCpu.find("EAX:"), 4), RGB(0, 0, 0));
  EXPECT_EQ(ColourAt(edit, shownCpu.find("0012FF00: 7B7B7B7B"), 8), RGB(0, 100, 100));  // a dump address
  EXPECT_EQ(ColourAt(edit, shownCpu.find("pqrstuvwxyz{|}~."), 16), RGB(0, 100, 0));     // its characters

  DestroyWindow(edit);
  FreeLibrary(library);
}
