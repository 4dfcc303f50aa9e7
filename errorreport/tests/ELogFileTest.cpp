// The log file of error reports and its XML form.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <iconv.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "EBase64.h"
#include "EEncrypt.h"
#include "ELogManager.h"
#include "EXMLBuilder.h"

namespace {

const std::string kSep = "\r\n\r\n\r\n\r\n";

// A small report entry of the given version: a header item, a one-row table.
std::string SmallEntry(const std::string& version, const std::string& id) {
  return "VantorLog " + version + "\r\n\r\nException:\r\n----------\r\n  2.7 ID: " + id +
         "\r\n\r\nCall Stack Information:\r\n-----\r\n|Address|\r\n-----\r\n|0040|\r\n-----";
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

std::string ReadGolden() {
  return ReadFile(PELLORY_GOLDEN_REPORT);
}

struct TempFolder {
  std::filesystem::path path;
  TempFolder() {
    path = std::filesystem::temp_directory_path() /
           ("logfile-test-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(path);
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
};

std::vector<std::string> Ids(const TLogFile& log) {
  std::vector<std::string> ids;
  for (int i = 0; i < log.GetEntryCount(); ++i) {
    std::string id;
    log.GetEntryField("2.7", i, id);
    ids.push_back(id);
  }
  return ids;
}

TEST(LogFile, LoadingKeepsWhatCanBeRecognised) {
  const std::string a = SmallEntry("6.0.22", "A"), b = SmallEntry("6.0.22", "B");
  struct Case {
    const char* name;
    std::string file;
    std::vector<std::string> ids;
  } cases[] = {
      {"two entries, the last without its separator", a + kSep + b, {"A", "B"}},
      {"both with separators", a + "\r\n\r\n\r\n" + "\r\n" + b + "\r\n\r\n\r\n", {"A", "B"}},
      {"text without a table between separators is dropped", a + kSep + "just some notes\r\n-" + kSep + b, {"A", "B"}},
      {"a leading separator is skipped", kSep + a, {"A"}},
      {"LF-only line breaks",
       [&] {
         std::string t = a + kSep + b;
         std::string out;
         for (char c : t)
           if (c != '\r') out += c;
         return out;
       }(),
       {"A", "B"}},
      {"a run of six line breaks", a + kSep + "\r\n\r\n" + b, {"A", "B"}},
      {"shorter than eight bytes", "-\r\n|x", {}},
      {"binary bytes without separators", std::string("\0\xff\x01-\r\n|\0\0\r\n  2.7 ID: ", 20) + "\x80", {""}},
      {"a foreign text", "Hello,\r\nthis is no log.\r\n", {}},
      {"a number line without its colon", "V\r\n  2.7 ID\r\n-\r\n|", {""}},
  };
  for (const Case& c : cases) {
    TOwned<TLogFile> log(New<TLogFile>());
    log->LoadText(c.file);
    EXPECT_EQ(Ids(*log), c.ids) << c.name;
    for (int i = 0; i < log->GetEntryCount(); ++i) {
      const std::string& entry = log->Entry(i);
      EXPECT_EQ(entry.substr(entry.size() - 6), "\r\n\r\n\r\n") << c.name;
      // Every part reader stays within the entry.
      TLogFile::EntryHeader(entry), TLogFile::EntryCallStack(entry), TLogFile::EntryModules(entry);
      TLogFile::EntryProcesses(entry), TLogFile::EntryAssembler(entry), TLogFile::EntryCpu(entry);
    }
  }
}

TEST(LogFile, AppendEntryKeepsTheNewestUpToTheMaximum) {
  struct Case {
    int maximum;
    std::vector<std::string> ids;
  } cases[] = {
      {3, {"4", "5", "new"}}, {-1, {"1", "2", "3", "4", "5", "new"}}, {0, {"new"}},
      {1, {"new"}},           {9, {"1", "2", "3", "4", "5", "new"}},
  };
  for (const Case& c : cases) {
    TOwned<TLogFile> log(New<TLogFile>());
    std::string file;
    for (int i = 1; i <= 5; ++i) file += SmallEntry("6.0.22", std::to_string(i)) + kSep;
    log->LoadText(file);
    ASSERT_EQ(log->GetEntryCount(), 5);
    log->AppendEntry(SmallEntry("6.0.22", "new"), c.maximum);
    EXPECT_EQ(Ids(*log), c.ids) << "maximum " << c.maximum;
  }
}

TEST(LogFile, WriteBackCreatesRewritesAndCutsTheFile) {
  TempFolder dir;
  const std::string name = (dir.path / "app.vlf").string();
  {
    TOwned<TLogFile> log(New<TLogFile>(name, false));
    EXPECT_EQ(log->GetEntryCount(), 0);
    EXPECT_FALSE(std::filesystem::exists(name));
    log->AppendEntry(SmallEntry("6.0.22", "A"), 3);
    log->AppendEntry(SmallEntry("6.0.22", "B"), 3);
    log->WriteBack();
  }
  const std::string two = ReadFile(name);
  EXPECT_EQ(two, SmallEntry("6.0.22", "A") + kSep + SmallEntry("6.0.22", "B") + "\r\n\r\n\r\n");
  {
    TOwned<TLogFile> log(New<TLogFile>(name, false));
    EXPECT_EQ(Ids(*log), (std::vector<std::string>{"A", "B"}));
    log->AppendEntry(SmallEntry("6.0.22", "C"), 1);
    log->WriteBack();
  }
  EXPECT_EQ(ReadFile(name), SmallEntry("6.0.22", "C") + "\r\n\r\n\r\n");
  TOwned<TLogFile> readOnly(New<TLogFile>(name, true));
  EXPECT_EQ(Ids(*readOnly), std::vector<std::string>{"C"});
  std::string all;
  readOnly->GetAllText(all);
  EXPECT_EQ(all, SmallEntry("6.0.22", "C") + kSep);
}

TEST(LogFile, ADamagedFileOnDiskGivesTheEntriesItHolds) {
  TempFolder dir;
  const std::string name = (dir.path / "damaged.vlf").string();
  std::string bytes(3000, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7919 % 251);
  WriteFile(name, bytes + kSep + SmallEntry("6.0.22", "A") + kSep + std::string(100000, '|') + "-\r\n|");
  TOwned<TLogFile> log(New<TLogFile>(name, true));
  ASSERT_EQ(log->GetEntryCount(), 2);
  EXPECT_EQ(Ids(*log), (std::vector<std::string>{"A", ""}));
  std::string xml;
  log->GetXmlText(xml);
  EXPECT_NE(xml.find("<Line ID=\"2.7\" Label=\"ID\" Value=\"A\"/>"), std::string::npos);
}

TEST(LogFile, AHugeFileIsReadFromItsEndWithinTheLimit) {
  TempFolder dir;
  const std::string name = (dir.path / "huge.vlf").string();
  // An old entry at the front, past the limit, then a huge entry the cut lands in, then two.
  std::string text = SmallEntry("6.0.22", "OLD") + kSep + std::string(TLogFile::kMaxReadBytes, '-') + "\r\n|" + kSep +
                     SmallEntry("6.0.22", "A") + kSep + SmallEntry("6.0.22", "B");
  WriteFile(name, text);
  TOwned<TLogFile> log(New<TLogFile>(name, true));
  EXPECT_EQ(Ids(*log), (std::vector<std::string>{"A", "B"}));
}

TEST(LogFile, FieldsOfTheHeaderTree) {
  TOwned<TLogItem> item(New<TLogItem>(0));
  item->AddSection("Application");
  item->AddLine("Start", "today", true);
  item->AddLine("Hidden", "x", false);
  item->AddLine("Note", "first: line\r\n\r\nthird: line", true);
  item->AddLine("Sentence", "Ends here.\r\nnext", true);
  item->AddSection("Exception");
  item->AddLine("ID", "4F2A", true);
  item->AddLine("Count", "1", true);
  std::string header;
  item->GetFormattedText(header);
  const std::string entry = "VantorLog 6.0.22\r\n\r\n" + header + "\r\nCall Stack Information:\r\n-\r\n|x|\r\n-";
  TOwned<TLogFile> log(New<TLogFile>());
  log->LoadText(entry);
  ASSERT_EQ(log->GetEntryCount(), 1);
  ASSERT_NE(log->Entry(0).find("first:_line\r\n"), std::string::npos) << log->Entry(0);
  struct Case {
    const char* number;
    int entry;
    const char* value;
  } cases[] = {
      {"1.1", 0, "today"},
      {"1.2", 0, ""},  // hidden: its number is unused
      {"1.3", 0, "first: line\r\n \r\nthird: line"},
      {"1.4", 0, "Ends here.\r\nnext"},
      {"2.1", 0, "4F2A"},
      {"2.2", 0, "1"},
      {"2.9", 0, ""},
      {"2.1", 1, ""},
      {"2.1", -1, ""},
      {"", 0, ""},
  };
  for (const Case& c : cases) {
    std::string value = "junk";
    log->GetEntryField(c.number, c.entry, value);
    EXPECT_EQ(value, c.value) << c.number << " of entry " << c.entry;
  }
}

TEST(LogFile, SetEntryFieldReplacesOrInsertsAfterTheLastSibling) {
  const std::string golden = ReadGolden();
  ASSERT_FALSE(golden.empty()) << PELLORY_GOLDEN_REPORT;
  TOwned<TLogFile> log(New<TLogFile>());
  log->LoadText(golden);
  ASSERT_EQ(log->GetEntryCount(), 1);
  std::string value;
  log->GetEntryField("2.8", 0, value);
  EXPECT_EQ(value, "1");
  log->SetEntryField("2.8", "2", 0, "Count");
  log->GetEntryField("2.8", 0, value);
  EXPECT_EQ(value, "2");
  EXPECT_NE(log->Entry(0).find("\r\n  2.8 Count         : 2\r\n  2.9 Status"), std::string::npos);
  // A multi-line value gets its continuation lines under the value column.
  log->SetEntryField("2.9", "Open: yes\r\nby me", 0, "Status");
  EXPECT_NE(log->Entry(0).find("  2.9 Status        : Open:_yes\r\n                     by me\r\n  2.10"),
            std::string::npos);
  log->GetEntryField("2.9", 0, value);
  EXPECT_EQ(value, "Open: yes\r\nby me");
  // A missing item goes after its section's last line, its label padded.
  log->SetEntryField("2.11", "x", 0, "Extra");
  EXPECT_NE(log->Entry(0).find("  2.10 Note         : \r\n  2.11 Extra        : x\r\n\r\nUser:"), std::string::npos);
  log->GetEntryField("2.11", 0, value);
  EXPECT_EQ(value, "x");
  // No section to join, no index: nothing changes.
  const std::string before = log->Entry(0);
  log->SetEntryField("9.1", "x", 0, "None");
  log->SetEntryField("21", "x", 0, "None");
  log->SetEntryField("2.8", "x", 3, "Count");
  EXPECT_EQ(log->Entry(0), before);
}

TEST(LogFile, FindMatchingFieldGivesThePairOfTheLastMatchingEntry) {
  TOwned<TLogFile> log(New<TLogFile>());
  log->LoadText(SmallEntry("6.0.22", "A") + kSep + SmallEntry("6.0.22", "B") + kSep + SmallEntry("6.0.22", "C"));
  const std::vector<std::string> numbers{"2.7", "2.7"};
  int entry = 99;
  EXPECT_EQ(log->FindMatchingField(numbers, 1, {"X", "B"}, &entry), 1);
  EXPECT_EQ(entry, 1);
  EXPECT_EQ(log->FindMatchingField(numbers, 1, {"A", "C"}, &entry), 1);
  EXPECT_EQ(entry, 2);
  EXPECT_EQ(log->FindMatchingField(numbers, 0, {"X", "B"}, &entry), -1);
  EXPECT_EQ(entry, -1);
  EXPECT_EQ(log->FindMatchingField({"2.9"}, 0, {"A"}), -1);
  EXPECT_EQ(log->FindMatchingField(numbers, 5, {"C"}), 0);  // pairs beyond the lists are not read
}

// The same report as an entry of an older version: no processes and no assembler.
std::string OlderEntry(const std::string& golden, const std::string& version) {
  std::string entry = golden;
  entry.replace(10, 6, version);
  const std::size_t processes = entry.find("Processes Information:");
  const std::size_t registers = entry.find("Registers:");
  entry.erase(processes, registers - processes);
  return entry;
}

TEST(LogFile, SectionReadersByEntryVersion) {
  const std::string golden = ReadGolden();
  ASSERT_FALSE(golden.empty());
  const std::string v5 = OlderEntry(golden, "5.1.00");
  const std::string v4 = OlderEntry(golden, "4.5.01") + "\r\nRequest:\r\n--------\r\nClick twice.\r\nThen wait.";
  for (const std::string* entry : {&golden, &v5, &v4}) {
    const bool is6 = entry == &golden;
    SCOPED_TRACE(TLogFile::EntryVersion(*entry));
    const std::string header = TLogFile::EntryHeader(*entry);
    EXPECT_EQ(header.substr(0, 17), "VantorLog " + TLogFile::EntryVersion(*entry) + "\r");
    EXPECT_EQ(header.substr(header.size() - 20), "  7.6 DHCP      : On");
    const std::string stack = TLogFile::EntryCallStack(*entry);
    EXPECT_EQ(stack.substr(0, 5), "-----");
    EXPECT_NE(stack.find("|Running Thread: ID=200; Priority=2"), std::string::npos);
    EXPECT_EQ(stack.substr(stack.size() - 40), std::string(40, '-'));
    const std::string modules = TLogFile::EntryModules(*entry);
    EXPECT_NE(modules.find("|7E410000|user32.dll"), std::string::npos);
    EXPECT_EQ(modules.find("Processes"), std::string::npos);
    const std::string processes = TLogFile::EntryProcesses(*entry);
    EXPECT_EQ(processes.find("|1580|explorer.exe") != std::string::npos, is6);
    const std::string assembler = TLogFile::EntryAssembler(*entry);
    EXPECT_EQ(assembler.substr(0, is6 ? 7 : 0), is6 ? "; Unit1" : "");
    EXPECT_EQ(assembler.find("0040101C  ret") != std::string::npos, is6);
    const std::string cpu = TLogFile::EntryCpu(*entry);
    EXPECT_EQ(cpu.substr(0, 10), "Registers:");
    EXPECT_NE(cpu.find("\r\n\r\nStack:"), std::string::npos);
    EXPECT_NE(cpu.find("004010E5: CC"), std::string::npos);
    EXPECT_EQ(TLogFile::EntryReproduceText(*entry), entry == &v4 ? "Click twice.\r\nThen wait." : "");
  }
  EXPECT_EQ(TLogFile::EntryVersion(golden), "6.0.22");
  EXPECT_EQ(TLogFile::EntryVersion("Short"), "");
  EXPECT_EQ(TLogFile::EntryCpu(SmallEntry("6.0.22", "A")), "");
}

// --- The XML form ---

TEST(LogXml, EscapingKeepsTheDocumentWellFormed) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"plain text 1.2", "plain text 1.2"},
      {"<a & 'b'> \"c\"", "&#060;a &#038; &#039;b&#039;&#062; &#034;c&#034;"},
      {"tab\tlf\ncr\r", "tab&#009;lf&#010;cr&#013;"},
      {std::string("nul\0-\x01-\x1f", 8), "nul?-?-?"},
      {"\x7f", "&#127;"},
      {"\x80 \x85 \x9f", "&#8364; &#8230; &#376;"},
      {"\x81\x8d\x8f\x90\x9d", "?????"},
      {"\xa0\xe9\xff", "&#160;&#233;&#255;"},
  };
  for (const Case& c : cases) EXPECT_EQ(XmlEscape(c.in), c.out) << c.in;
}

// The C library's converter is the reference for the code pages; the Windows
// builds have none (their decoder is the system's own).
#ifndef _WIN32
// A system's ANSI code page, read by the C library's converter.
template <const char* CodePage>
std::u16string DecodeWith(const std::string& text) {
  iconv_t cd = iconv_open("UTF-16LE", CodePage);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::u16string();
  std::string in = text;
  std::string out(text.size() * 4 + 4, '\0');
  char* from = in.data();
  char* to = out.data();
  std::size_t fromLeft = in.size(), toLeft = out.size();
  iconv(cd, &from, &fromLeft, &to, &toLeft);
  iconv_close(cd);
  std::u16string wide;
  for (std::size_t i = 0; i + 1 < out.size() - toLeft; i += 2)
    wide += static_cast<char16_t>(static_cast<unsigned char>(out[i]) | static_cast<unsigned char>(out[i + 1]) << 8);
  return wide;
}
constexpr char kCp1251[] = "CP1251";
constexpr char kCp1252[] = "CP1252";
constexpr char kCp932[] = "CP932";

TEST(LogXml, HighBytesAreTheCharactersOfTheSystemsCodePage) {
  struct Case {
    TXmlAnsiDecoder decoder;
    std::string in, out;
  } cases[] = {
      // A Russian system: Cyrillic, not Latin-1 letters.
      {&DecodeWith<kCp1251>, "\xCF\xF0\xE8\xE2\xE5\xF2 <1>",
       "&#1055;&#1088;&#1080;&#1074;&#1077;&#1090; &#060;1&#062;"},
      {&DecodeWith<kCp1251>, "\xE4\xA8\xB8\x80\x85", "&#1076;&#1025;&#1105;&#1026;&#8230;"},
      {&DecodeWith<kCp1252>, "\xE4\x80\x9F\xA0", "&#228;&#8364;&#376;&#160;"},
      // A double-byte code page: the pairs are read as one character each.
      {&DecodeWith<kCp932>, "\x93\xFA\x96\x7B&", "&#26085;&#26412;&#038;"},
      // The default: windows-1252.
      {nullptr, "\xE4\x81\x80", "&#228;?&#8364;"},
  };
  for (const Case& c : cases) {
    SetXmlAnsiDecoder(c.decoder);
    EXPECT_EQ(XmlEscape(c.in), c.out) << c.in;
  }
  SetXmlAnsiDecoder(nullptr);
  // A broken surrogate pair from a decoder is no character.
  SetXmlAnsiDecoder([](const std::string&) { return std::u16string{0xD83D, u'a', 0xD83D, 0xDE00}; });
  EXPECT_EQ(XmlEscape("\xFF"), "?a&#128512;");
  SetXmlAnsiDecoder(nullptr);
}
#endif

TEST(LogXml, ElementsAndTheirText) {
  TOwned<TXMLItem> root(New<TXMLItem>("Root"));
  TXMLItem* child = root->AddChild("Child");
  child->AddAttribute("A", "1<2");
  child->AddChild("Leaf");
  root->AddChild("Text")->SetValue("x&y");
  EXPECT_EQ(child->Parent(), root.get());
  std::string text;
  root->GetXmlText(text);
  EXPECT_EQ(
      text,
      "<Root>\r\n  <Child A=\"1&#060;2\">\r\n    <Leaf/>\r\n  </Child>\r\n  <Text>x&#038;y</Text>\r\n</Root>\r\n");
}

// A golden entry with a "<" in a module description, a control byte in a value and
// a euro sign; a second entry of version 4.5.
std::string MarkedLog() {
  std::string entry = ReadGolden();
  const std::size_t at = entry.find("Windows NT BASE API Client DLL");
  entry.replace(at, 10, "Windows<NT");
  const std::size_t user = entry.find("Alice Example");
  entry.replace(user, 5, std::string("Al\x01") + "\x80" + "e");
  return entry + "\r\n\r\n\r\n" + OlderEntry(ReadGolden(), "4.5.01") + "\r\nRequest:\r\n--------\r\nClick twice.";
}

TEST(LogXml, ExportOfTheGoldenLog) {
  TOwned<TLogFile> log(New<TLogFile>());
  log->LoadText(MarkedLog());
  ASSERT_EQ(log->GetEntryCount(), 2);
  std::string xml;
  log->GetXmlText(xml);
  EXPECT_EQ(xml.substr(0, 32), "<Doc>\r\n  <Log Version=\"6.0.22\">\r");
  EXPECT_EQ(xml.substr(xml.size() - 16), "  </Log>\r\n</Doc>");
  EXPECT_NE(xml.find("Description=\"Windows&#060;NT BASE API Client DLL\""), std::string::npos);
  EXPECT_NE(xml.find("Value=\"Al?&#8364;e Example\""), std::string::npos);
  EXPECT_NE(xml.find("    <General>\r\n      <Group ID=\"1\" Label=\"Application\">\r\n"
                     "        <Line ID=\"1.1\" Label=\"Start Date\" Value=\"Wed, 10 Dec 2025 12:00:00 +0100\"/>"),
            std::string::npos);
  EXPECT_NE(xml.find("<Line ID=\"3.5\" Label=\"Privileges\" Value=\"SeShutdownPrivilege&#013;&#010;"
                     "SeChangeNotifyPrivilege\"/>"),
            std::string::npos);
  EXPECT_NE(xml.find("<ExceptionThread ID=\"100\" Priority=\"0\" MainThread=\"False\">"), std::string::npos);
  EXPECT_NE(xml.find("<Line Address=\"00401015\" Module=\"sample.exe\" Unit=\"Unit1.pas\" Class=\"TForm1\" "
                     "Procedure=\"Button1Click\" Number=\"32\" Offset=\"2\"/>"),
            std::string::npos);
  EXPECT_NE(xml.find("<RunningThread ID=\"200\" Priority=\"2\""), std::string::npos);
  EXPECT_NE(xml.find("<Process ID=\"1580\" Name=\"explorer.exe\""), std::string::npos);
  EXPECT_NE(xml.find("<Line Address=\"00401010\" Command=\"mov     eax, $00402000\" Comment=\"&#039;Hello.&#039;\"/>"),
            std::string::npos);
  EXPECT_NE(xml.find("<Registers EAX=\"00000000\" EBX=\"7FFDF000\""), std::string::npos);
  EXPECT_NE(xml.find("<Line Address=\"0012FF04\" Value=\"00401028\"/>"), std::string::npos);
  EXPECT_NE(xml.find("<Line Address=\"00401015\" Bytes=\"C7 00 00 00 00 00 5D C3 90 90 90 55 8B EC E8 E0\" "
                     "Chars=\"......]....U....\"/>"),
            std::string::npos);
  EXPECT_NE(xml.find("<HoToReproduce Text=\"Click twice.\"/>"), std::string::npos);
  for (unsigned char c : xml) EXPECT_TRUE(c < 0x80 && (c >= 0x20 || c == '\r' || c == '\n')) << int(c);
#if !defined(_WIN32)
  TempFolder dir;
  const std::string file = (dir.path / "app.xml").string();
  log->ExportXml(file);
  EXPECT_EQ(ReadFile(file), xml);
  const std::string lint = "xmllint --noout '" + file + "'";
  EXPECT_EQ(std::system(lint.c_str()), 0) << lint;
  const std::string py =
      "python3 -c \"import sys, xml.etree.ElementTree as E; d=E.parse(sys.argv[1]).getroot(); "
      "l=d.findall('Log'); assert [x.get('Version') for x in l]==['6.0.22','4.5.01']; "
      "v=[x.get('Value') for x in l[0].iter('Line') if x.get('ID')=='3.2']; assert v==['Al?\\u20ace Example'], v; "
      "m=[x.get('Description') for x in l[0].iter('Module')]; assert m[1]=='Windows<NT BASE API Client DLL', m; "
      "assert l[1].find('CallStack/ExceptionThread') is not None; assert l[1].find('Processes') is None\" '" +
      file + "'";
  EXPECT_EQ(std::system(py.c_str()), 0) << py;
#endif
}

TEST(LogXml, HiddenHeaderLineLeavesItsIdUnused) {
  TOwned<TLogItem> item(New<TLogItem>(0));
  item->AddSection("Application");
  item->AddLine("Start", "today", true);
  item->AddLine("Hidden", "x", false);
  item->AddLine("Note", ".\r\nfirst: line\r\n\r\nlast\r\n ", true);
  std::string header;
  item->GetFormattedText(header);
  TOwned<TLogFile> log(New<TLogFile>());
  log->LoadText("VantorLog 6.0.22\r\n\r\n" + header + "\r\nCall Stack Information:\r\n-\r\n|x|\r\n-");
  std::string xml;
  log->GetXmlText(xml);
  EXPECT_NE(xml.find("<Line ID=\"1.1\" Label=\"Start\" Value=\"today\"/>\r\n"
                     "        <Line ID=\"1.3\" Label=\"Note\" Value=\"first: line&#013;&#010;&#013;&#010;last\"/>"),
            std::string::npos)
      << xml;
  EXPECT_EQ(xml.find("ID=\"1.2\""), std::string::npos);
}

// A cell enciphered as the writer of protected logs does: "?" + mark + Base64.
std::string Enciphered(char mark, const std::string& name) {
  std::string bytes = name;
  EncryptBufferCbc(reinterpret_cast<const std::uint8_t*>(bytes.data()), reinterpret_cast<std::uint8_t*>(bytes.data()),
                   bytes.size());
  std::string text;
  Base64EncodeText(bytes, text);
  return std::string("?") + mark + text;
}

TEST(LogXml, EncipheredCellsComeOutDeciphered) {
  SetCipherPassword("secret");
  const std::string unit = Enciphered('p', "Unit1"), unitC = Enciphered('c', "main.cpp");
  const std::string proc = Enciphered('p', "TForm1.Button1Click"), cls = Enciphered('p', "TForm1");
  const std::string entry =
      "VantorLog 6.0.22\r\n\r\nCall Stack Information:\r\n-\r\n|h|\r\n-\r\n|E: ID=1|\r\n|0040|m|" + unit + "|" + cls +
      "|" + proc + "|3[1]|\r\n|0041|m|" + unitC + "||" + Enciphered('c', "Run") + "|4[0]|\r\n-";
  struct Case {
    const char* name;
    const char* key;
    const char* password;
    bool deciphered;
  } cases[] = {
      {"the right key", "secret", "pw", true},
      {"no password on the log", "secret", "", false},
      {"another key in force", "other", "pw", false},
  };
  for (const Case& c : cases) {
    SetCipherPassword(c.key);
    TOwned<TLogFile> log(New<TLogFile>());
    log->LoadText(entry);
    log->SetPassword(c.password);
    std::string xml;
    log->GetXmlText(xml);
    const std::string want =
        c.deciphered ? "Unit=\"Unit1.pas\" Class=\"TForm1\" Procedure=\"Button1Click\" Number=\"3\" Offset=\"1\""
                     : "Unit=\"" + unit + "\" Class=\"" + cls + "\" Procedure=\"" + proc + "\"";
    EXPECT_NE(xml.find(want), std::string::npos) << c.name << "\n" << xml;
    if (c.deciphered) {
      EXPECT_NE(xml.find("Unit=\"main.cpp\" Class=\"\" Procedure=\"Run\""), std::string::npos) << xml;
    }
  }
  SetCipherPassword("");
}

}  // namespace
