// The rich-text documents of the detailed dialog: the header and colour
// table, the coloured lines of the introduction, the listing and the
// registers with the memory dump, and escaping inside every kind of line.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ECore.h"
#include "EHook.h"
#include "EReportBuilder.h"

namespace {

const TRtfFont kFont{204, "Courier New", 9};

// Whether every unescaped brace is matched (the document stays one group).
bool BracesBalanced(const std::string& rtf) {
  int depth = 0;
  for (std::size_t i = 0; i < rtf.size(); ++i) {
    if (rtf[i] == '\\') {
      ++i;
    } else if (rtf[i] == '{') {
      ++depth;
    } else if (rtf[i] == '}' && --depth < 0) {
      return false;
    }
  }
  return depth == 0;
}

std::vector<std::string> BodyLines(const std::string& body) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  for (std::size_t at; (at = body.find("\\par\r\n", pos)) != std::string::npos; pos = at + 6)
    lines.push_back(body.substr(pos, at - pos));
  lines.push_back(body.substr(pos));
  return lines;
}

}  // namespace

TEST(DialogRtf, HeaderColourTableAndFont) {
  EXPECT_EQ(RtfDocumentHeader(kFont),
            R"({\rtf1\ansi\ansicpg1252\deff0\deflang1040{\fonttbl{\f0\fmodern\fprq1\fcharset204 Courier New;}})"
            "\r\n"
            R"({\colortbl ;\red0\green100\blue100;\red0\green0\blue0;\red40\green40\blue40;\red0\green0\blue160;)"
            R"(\red160\green0\blue0;\red80\green80\blue80;\red0\green100\blue0;})"
            "\r\n"
            R"(\f0\fs18)");
  // A font name cannot end the font table early or open a group.
  const std::string odd = RtfDocumentHeader(TRtfFont{0, "Bad;{Font}\\", 10});
  EXPECT_NE(odd.find(R"(\fcharset0 Bad\{Font\}\\;}})"), std::string::npos);
  EXPECT_TRUE(BracesBalanced(odd + "}"));
  EXPECT_EQ(odd.substr(odd.size() - 5), "\\fs20");
}

TEST(DialogRtf, GeneralAndAssemblerLines) {
  enum Kind { General, Assembler };
  struct Case {
    const char* name;
    Kind kind;
    std::string text;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"empty general", General, "", ""},
      {"empty listing", Assembler, "", ""},
      {"first line bold", General, "Title\r\nsecond",
       R"(\cf2\b Title\b0 \par)"
       "\r\n"
       R"(\cf2 second)"},
      {"introduction", General,
       "An error has occurred during program execution.\r\nPlease read the following information for further "
       "details.\r\n\r\n",
       R"(\cf2\b An error has occurred during program execution.\b0 \par)"
       "\r\n"
       R"(\cf2 Please read the following information for further details.\par)"
       "\r\n"
       R"(\cf2 \par)"
       "\r\n"},
      {"section and rule", General, "T\r\nApplication:\r\n------------\r\n",
       R"(\cf2\b T\b0 \par)"
       "\r\n"
       R"(\cf5 Application:\par)"
       "\r\n"
       R"(\cf3 ------------\par)"
       "\r\n"},
      {"label colon value", General, "T\r\n1.1 Start Date   : 12:06:01",
       R"(\cf2\b T\b0 \par)"
       "\r\n"
       R"(\cf1 1.1 Start Date   \cf2 :\cf4  12:06:01)"},
      {"colon without value or label", General, "T\r\nfoo:  x: \r\n: bar",
       R"(\cf2\b T\b0 \par)"
       "\r\n"
       R"(\cf1 foo\cf2 :\cf4   x: \par)"
       "\r\n"
       R"(\cf2 : bar)"},
      {"table rows stay plain", General, "T\r\n|00401000|12:00|",
       R"(\cf2\b T\b0 \par)"
       "\r\n"
       R"(\cf2 |00401000|12:00|)"},
      {"line feeds alone", General, "a\nb",
       R"(\cf2\b a\b0 \par)"
       "\r\n"
       R"(\cf2 b)"},
      {"escapes in every general line", General, "A{b}\\c\r\n{x}:\r\nC\\{k}: v}\r\nplain \\par {}",
       R"(\cf2\b A\{b\}\\c\b0 \par)"
       "\r\n"
       R"(\cf5 \{x\}:\par)"
       "\r\n"
       R"(\cf1 C\\\{k\}\cf2 :\cf4  v\}\par)"
       "\r\n"
       R"(\cf2 plain \\par \{\})"},
      {"headings and comments", Assembler,
       "; Unit.Proc (Line=3)\r\n; ------------------\r\n;\r\n00401000  push ebp  ; <-- EXCEPTION\r\n00401001  ret\r\n",
       R"(\cf5 ;\cf4\b  Unit.Proc (Line=3)\b0 \par)"
       "\r\n"
       R"(\cf5 ;\cf4\b  ------------------\b0 \par)"
       "\r\n"
       R"(\cf5 ;\cf4\b \b0 \par)"
       "\r\n"
       R"(\cf2 00401000  push ebp  \cf6 ; <-- EXCEPTION\par)"
       "\r\n"
       R"(\cf2 00401001  ret\par)"
       "\r\n"},
      {"escapes in every listing line", Assembler, "; a{b}\\\r\n0040  mov eax, $7B  ; '{' \\ '}'\r\n0041  {}\\",
       R"(\cf5 ;\cf4\b  a\{b\}\\\b0 \par)"
       "\r\n"
       R"(\cf2 0040  mov eax, $7B  \cf6 ; '\{' \\ '\}'\par)"
       "\r\n"
       R"(\cf2 0041  \{\}\\)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string rtf = c.kind == General ? BuildGeneralRtf(c.text, kFont) : BuildAssemblerRtf(c.text, kFont);
    EXPECT_EQ(rtf, RtfDocumentHeader(kFont) + " " + c.body + "}");
    EXPECT_TRUE(BracesBalanced(rtf));
  }
}

TEST(DialogRtf, CpuTextFieldsAndTabStop) {
  RegionMemoryReader memory;
  std::vector<std::uint8_t> stack(64, 0);
  stack[0] = 0x00;
  stack[1] = 0x10;
  stack[2] = 0x40;
  memory.AddRegion(0x0012FF00, stack);
  std::vector<std::uint8_t> code(256);
  for (std::size_t i = 0; i < code.size(); ++i) code[i] = static_cast<std::uint8_t>(i);
  memory.AddRegion(0x00401000, code);
  TReportRegisters regs{1, 2, 3, 4, 5, 0x0012FF00, 7, 0x00401000};
  TCpuTexts texts;
  texts.Registers = "Reg{}";
  const std::string text = BuildCpuText(texts, &regs, memory, 0x0012FF00, 0x00401000);

  const std::string rtf = BuildCpuRtf(text, kFont, 10);
  const std::string start = RtfDocumentHeader(kFont) + "\\pard\\tx150 ";
  ASSERT_EQ(rtf.substr(0, start.size()), start);
  ASSERT_EQ(rtf.back(), '}');
  EXPECT_TRUE(BracesBalanced(rtf));
  const std::vector<std::string> lines = BodyLines(rtf.substr(start.size(), rtf.size() - start.size() - 1));
  ASSERT_EQ(lines.size(), 26u);  // 25 lines and the empty end after the last break
  const std::string bytes = " 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F  ";
  const std::string dash = std::string(75, '-');
  const struct {
    std::size_t line;
    std::string rtf;
  } expected[] = {
      {0, R"(\cf5 Reg\{\}:)"},
      {1, R"(\cf3 -----------------------------)"},
      {2, R"(\cf2 EAX: \cf4 00000001\cf2    EDI: \cf4 00000002)"},
      {5, R"(\cf2 EDX: \cf4 00000007\cf2    EIP: \cf4 00401000)"},
      {6, R"(\cf2 )"},
      {7, R"(\cf5 Stack:               Memory Dump:)"},
      {8, R"(\cf3 ------------------   )" + dash},
      {9, R"(\cf1 0012FF00\cf2 : \cf4 00401000\cf2    \cf1 00401000\cf2 :)" + bytes + R"(\cf7 ................)"},
      // The dump characters that need escaping: a backslash and the braces.
      {14, R"(\cf1 0012FF14\cf2 : \cf4 00000000\cf2    \cf1 00401050\cf2 : 50 51 52 53 54 55 56 57 58 59 5A 5B 5C )"
           R"(5D 5E 5F  \cf7 PQRSTUVWXYZ[\\]^_)"},
      {16, R"(\cf1 0012FF1C\cf2 : \cf4 00000000\cf2    \cf1 00401070\cf2 : 70 71 72 73 74 75 76 77 78 79 7A 7B 7C )"
           R"(7D 7E 7F  \cf7 pqrstuvwxyz\{|\}~.)"},
      {25, ""},
  };
  for (const auto& e : expected) EXPECT_EQ(lines[e.line], e.rtf) << "line " << e.line;

  // Unknown registers: the placeholders are the values.
  const std::string unknown = BuildCpuRtf(BuildCpuText(TCpuTexts{}, nullptr, memory, 0x0012FF00, 0x00401000), kFont, 0);
  const std::string plain = RtfDocumentHeader(kFont) + " ";
  ASSERT_EQ(unknown.substr(0, plain.size()), plain);  // no tab stop without a width
  EXPECT_NE(unknown.find("\\cf2 EAX: \\cf4 ????\\cf2        EDI: \\cf4 ????\\cf2     \\par\r\n"), std::string::npos);
  // A cut-short dump row is not split into fields; an empty text is an empty document.
  const std::string cut = BuildCpuRtf("\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n0012FF00: 0", kFont, 0);
  EXPECT_EQ(cut.substr(cut.size() - 23), "\\par\r\n\\cf2 0012FF00: 0}");
  EXPECT_EQ(BuildCpuRtf("", kFont, 10), RtfDocumentHeader(kFont) + "\\pard\\tx150 }");
}
