// Module options: defaults, the option stream (current format and the older
// versions laid out by make-vectors.py), option strings, copying, publishing
// and the exception filters.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <stdexcept>
#include <string>

#include "ECore.h"
#include "Exceptions.h"
#include "Streams.h"
#include "VantorLogConsts.h"

namespace {
#include "ErrorReportVectors.inc"

// Options whose publishing the test counts.
class CountingOptions : public TVantorModuleOptions {
 public:
  using TVantorModuleOptions::TVantorModuleOptions;
  void PublishOptions() override { ++published; }
  int published = 0;
};

std::string Save(const TVantorModuleOptions& options) {
  TOwned<TStringStream> s(New<TStringStream>());
  options.SaveToStream(*s);
  return s->DataString();
}

void Load(TVantorModuleOptions& options, const std::string& bytes, std::uint16_t version) {
  SetOptionStreamVersion(version);
  TOwned<TStringStream> s(New<TStringStream>(bytes));
  options.LoadFromStream(*s);
  SetOptionStreamVersion(kCurrentDataVersion);
}

TEST(Options, DefaultsAndTheConstantTables) {
  TOwned<TVantorModuleOptions> o(New<TVantorModuleOptions>(""));
  int empty = 0;
  for (int i = 0; i < kCustomTextCount; ++i) {
    EXPECT_EQ(o->RawCustomText(i), kDefaultCustomTexts[i]);
    if (o->RawCustomText(i).empty()) ++empty;
  }
  EXPECT_EQ(empty, 1);
  EXPECT_EQ(o->RawCustomText(153), "");
  EXPECT_EQ(o->RawCustomText(156), "The application seems to be frozen.");
  EXPECT_EQ(o->TextSetName(), "English");
  EXPECT_EQ(o->MailHostPort(), 25);
  EXPECT_EQ(o->ProxyHostPort(), 8080);
  EXPECT_EQ(o->DialogFlags(), 0x018F);
  EXPECT_EQ(o->SendFlags(), 0x51);
  EXPECT_EQ(o->LogFlags(), 0x30);
  EXPECT_EQ(o->BehaviourFlags(), 0x58);
  EXPECT_EQ(o->LeakFlags(), 0x1E);
  EXPECT_EQ(o->FreezeSeconds(), 60);
  EXPECT_TRUE(o->ActiveFlag());
  EXPECT_EQ(o->HtmlTemplate().substr(0, 16), "<html>\r\n  <head>");
  for (int k = 0; k < 6; ++k) EXPECT_EQ(o->ReportFields()[k], 0xFF);
  o->SetMaxLoggedErrors(0);
  EXPECT_EQ(o->MaxLoggedErrors(), 1);

  // Every text but the reserved one is labelled once in the option editor.
  std::multiset<int> labelled;
  int headings = 0;
  for (const TOptionEditorRow& row : kOptionEditorRows) {
    if (row.text < 0)
      ++headings;
    else
      labelled.insert(row.text);
  }
  EXPECT_EQ(headings, 14);
  for (int i = 0; i < kCustomTextCount; ++i) EXPECT_EQ(labelled.count(i), i == 153 ? 0u : 1u) << i;
  EXPECT_STREQ(kReportFieldNames[47], "Custom Data|All");
  EXPECT_STREQ(kPercentHelpLines[25], "WinDir | Windows directory");
}

TEST(Options, OptionStrings) {
  struct Case {
    std::string text;
    std::string stored;  // the plain bytes after the length
  } cases[] = {
      {"abc\r\n", "abc"}, {"a\r\nb\r\n", "a\r\nb\r\n"}, {"\r\n", ""}, {"x", "x"}, {"", ""},
      {"\n", "\n"},       {"\r\n\r\n", "\r\n\r\n"},
  };
  for (const Case& c : cases) {
    TOwned<TStringStream> s(New<TStringStream>());
    WriteOptionString(*s, c.text);
    const std::string& bytes = s->DataString();
    ASSERT_EQ(bytes.size(), 4 + c.stored.size()) << c.text;
    const std::uint32_t n = static_cast<std::uint8_t>(bytes[0]) | (static_cast<std::uint8_t>(bytes[1]) << 8);
    EXPECT_EQ(n, c.stored.size());
    for (std::size_t i = 0; i < c.stored.size(); ++i)
      EXPECT_EQ(static_cast<std::uint8_t>(bytes[4 + i]), static_cast<std::uint8_t>(c.stored[i]) ^ 0xB9);
    s->SetPosition(0);
    EXPECT_EQ(ReadOptionString(*s), c.stored);
  }
  // A length of 0 or below reads as empty; one beyond the bytes left is a read error.
  TOwned<TStringStream> negative(New<TStringStream>(std::string("\xFF\xFF\xFF\xFF", 4)));
  EXPECT_EQ(ReadOptionString(*negative), "");
  TOwned<TStringStream> lying(
      New<TStringStream>(std::string("\x00\x00\x00\x7F"
                                     "abc",
                                     7)));
  EXPECT_THROW(ReadOptionString(*lying), EReadError);
  TOwned<TStringStream> cut(New<TStringStream>(std::string("\x02\x00", 2)));
  EXPECT_THROW(ReadOptionString(*cut), EReadError);
}

TEST(Options, EveryStreamedFieldSurvivesSaveAndLoad) {
  TOwned<CountingOptions> a(New<CountingOptions>("a.exe"));
  a->SetMailFrom("f@example.com");
  a->SetMailHost("mx");
  a->SetMailUser("mu");
  a->SetMailPass("mp");
  a->SetMailHostPort(2525);
  a->SetProxyHost("ph");
  a->SetProxyUser("pu");
  a->SetProxyPass("pp");
  a->SetProxyHostPort(3128);
  a->SetTrackerUser("tu");
  a->SetTrackerPass("tp");
  a->SetTrackerAssignee("ta");
  a->SetTrackerProjectName("tn");
  a->SetTrackerCategoryName("tc");
  a->SetTrackerTrialCode("tt");
  a->SetZipPass("zp");
  a->SetCompiledFileFlags(6);
  a->SetTerminateAction(1);
  a->SetFreezeCheck(true);
  a->SetFreezeSeconds(17);
  const std::uint8_t fields[6] = {1, 2, 3, 4, 5, 6};
  a->SetReportFields(fields);
  a->SetDialogKind(3);
  a->SetTextSetName("Deutsch");
  a->SetLogEnabled(true);
  a->SetCatchEnabled(false);
  a->SetReportInMailBody(true);
  a->SetWriteLogFile(false);
  a->SetLogFlags(0x0B);
  a->SetSendFlags(0x3FF);
  a->SetStartTab(4);
  a->SetMaxLoggedErrors(99);
  a->SetTerminateButtonAfter(8);
  a->SetLogLocation("C:\\L");
  a->SetMailRecipients("r@example.com");
  a->SetMailSubject("s");
  a->SetMailBody("b");
  a->SetMailMode(3);
  a->SetWebMode(4);
  a->SetExtraFiles("x;y");
  a->SetDialogFlags(0x1234);
  a->SetDialogAutoCloseSeconds(30);
  a->SetSupportPage("sp");
  a->SetHtmlTemplate("<%HTML_TAG%>");
  a->SetCrashAction(1);
  a->SetCrashCount(20);
  a->SetCrashMinutes(3);
  a->SetStackFlags(0x33);
  a->SetBehaviourFlags(0xABCD);
  a->SetWebAddress("wa");
  a->SetWebHostPort(81);
  a->SetWebPass("wp");
  a->SetWebUser("wu");
  for (int i = 0; i < kCustomTextCount; ++i) a->SetCustomText(i, "text " + std::to_string(i));
  const char* classes[] = {"EAccessViolation", "EFoo", "EBar"};
  for (int i = 0; i < 3; ++i) {
    auto* f = new TVantorExceptionFilter;
    f->Enabled = i != 1;
    f->ExceptionClass = classes[i];
    f->ExceptionMessage = "m" + std::to_string(i);
    f->AppliesTo = static_cast<std::uint8_t>(i);
    f->DialogChoice = static_cast<std::uint8_t>(4 - i);
    f->HandlerKind = static_cast<std::uint8_t>(i % 3);
    f->ActionAfter = static_cast<std::uint8_t>(2 - i);
    a->FilterList()->AddFilter(f);
  }
  a->SetReproduceSteps("steps");
  a->SetBuildStartCommand("build");
  a->SetActiveFlag(false);

  const std::string bytes = Save(*a);
  TOwned<CountingOptions> b(New<CountingOptions>("b.exe"));
  b->SetReproduceSteps("mine");
  Load(*b, bytes, kCurrentDataVersion);
  EXPECT_EQ(Save(*b), bytes);
  EXPECT_EQ(b->FilterList()->Count(), 3);
  EXPECT_FALSE(b->FilterList()->GetFilter(1)->Enabled);
  EXPECT_EQ(b->FilterList()->GetFilter(2)->ExceptionClass, "EBar");
  EXPECT_EQ(b->FreezeSeconds(), 17);
  EXPECT_EQ(b->BehaviourFlags(), 0xABCD);
  // Not streamed: the loading object's own values stay.
  EXPECT_EQ(b->ReproduceSteps(), "mine");
  EXPECT_TRUE(b->ActiveFlag());
  EXPECT_EQ(b->BuildStartCommand(), "");

  // Every cut of the stream is a read error, never a crash or a hang.
  for (std::size_t cut = 0; cut < bytes.size(); cut += 97) {
    TOwned<CountingOptions> c(New<CountingOptions>(""));
    EXPECT_THROW(Load(*c, bytes.substr(0, cut), kCurrentDataVersion), EReadError) << cut;
  }
}

TEST(Options, OlderStreamsLoadWithTheirMigrations) {
  struct Expect {
    std::uint16_t version;
    std::int32_t freezeSeconds;
    bool freezeCheck;
    std::uint8_t startTab, dialogKind, mailMode, terminateAction, stackFlags;
    std::int16_t mailPort;
    std::uint16_t sendFlags, dialogFlags;
    std::uint8_t fields[6];
    const char* text156;
    const char* mailFrom;
  } expects[] = {
      {550,
       45,
       true,
       5,
       2,
       1,
       1,
       0x13,
       2525,
       0x51,
       0x8F,
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       "Old hang",
       "from@example.com"},
      {450,
       30,
       true,
       5,
       2,
       1,
       1,
       15,
       2525,
       0x45,
       0x1CF,
       {0x3F, 0xF2, 0xC0, 0xC3, 0x0F, 0xFE},
       "The application seems to be frozen.",
       "from@example.com"},
      {421,
       60,
       true,
       5,
       0,
       2,
       1,
       15,
       25,
       0x51,
       0x1CF,
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
       "Hang 421",
       kDefaultMailFrom},
      {401,
       60,
       false,
       5,
       0,
       1,
       2,
       15,
       25,
       0x51,
       0x18F,
       {0x31, 0xF2, 0xC0, 0xC3, 0x0F, 0xFE},
       "The application seems to be frozen.",
       kDefaultMailFrom},
  };
  for (const Expect& e : expects) {
    SCOPED_TRACE(e.version);
    const OldStream* stream = nullptr;
    for (const OldStream& s : kOldStreams)
      if (s.version == e.version) stream = &s;
    ASSERT_NE(stream, nullptr);
    TOwned<TVantorModuleOptions> o(New<TVantorModuleOptions>(""));
    Load(*o, std::string(stream->bytes, stream->size), e.version);
    EXPECT_EQ(o->FreezeSeconds(), e.freezeSeconds);
    EXPECT_EQ(o->FreezeCheck(), e.freezeCheck);
    EXPECT_EQ(o->StartTab(), e.startTab);
    EXPECT_EQ(o->DialogKind(), e.dialogKind);
    EXPECT_EQ(o->MailMode(), e.mailMode);
    EXPECT_EQ(o->TerminateAction(), e.terminateAction);
    EXPECT_EQ(o->StackFlags(), e.stackFlags);
    EXPECT_EQ(o->MailHostPort(), e.mailPort);
    EXPECT_EQ(o->SendFlags(), e.sendFlags);
    EXPECT_EQ(o->DialogFlags(), e.dialogFlags);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(o->ReportFields()[k], e.fields[k]) << k;
    EXPECT_EQ(o->RawCustomText(156), e.text156);
    EXPECT_EQ(o->MailFrom(), e.mailFrom);
    EXPECT_EQ(o->LogLocation(), "C:\\Logs");
    EXPECT_EQ(o->MailBody(), "Body");
    EXPECT_EQ(o->TextSetName(), "English");
    ASSERT_EQ(o->FilterList()->Count(), 1);
    const TVantorExceptionFilter* f = o->FilterList()->GetFilter(0);
    EXPECT_TRUE(f->Enabled);
    EXPECT_EQ(f->ExceptionClass, "EFilterClass");
    EXPECT_EQ(f->AppliesTo, 2);
    EXPECT_EQ(f->DialogChoice, 2);
    EXPECT_EQ(f->HandlerKind, 0);
    // Texts the version carries are read, the others keep their defaults.
    EXPECT_EQ(o->RawCustomText(0), "T0");
    EXPECT_EQ(o->RawCustomText(2), kDefaultCustomTexts[2]);
    EXPECT_EQ(o->RawCustomText(19), e.version >= 421 ? "T19" : kDefaultCustomTexts[19]);
    EXPECT_EQ(o->RawCustomText(20), e.version >= 420 ? "T20" : kDefaultCustomTexts[20]);
    EXPECT_EQ(o->RawCustomText(17), e.version < 500 ? "T17" : kDefaultCustomTexts[17]);
    EXPECT_EQ(o->RawCustomText(68), e.version >= 450 ? "T68" : kDefaultCustomTexts[68]);
    EXPECT_EQ(o->RawCustomText(145), e.version >= 500 ? "T145" : kDefaultCustomTexts[145]);
    EXPECT_EQ(o->RawCustomText(97), "T97");
  }
}

TEST(Options, UpdatesPublishOnceAndAssignCopies) {
  TOwned<CountingOptions> own(New<CountingOptions>("own.dll"));
  int dummy = 0;
  own->AssignModuleHandle(reinterpret_cast<ModuleHandle>(&dummy));
  SetLibraryModuleHandle(reinterpret_cast<ModuleHandle>(&dummy));
  own->published = 0;
  own->SetMailHost("a");
  EXPECT_EQ(own->published, 1);
  own->BeginUpdate();
  own->SetMailHost("b");
  own->SetMailUser("c");
  EXPECT_EQ(own->published, 1);
  own->EndUpdate();
  own->Changed();
  EXPECT_EQ(own->published, 2);
  own->Assign(own.get());
  EXPECT_EQ(own->published, 2);

  TOwned<CountingOptions> source(New<CountingOptions>("other.dll"));
  source->SetMailHost("mx.example.com");
  source->SetCustomText(5, "Five");
  source->SetLogFlags(0x0F);
  source->SetActiveFlag(false);
  auto* f = new TVantorExceptionFilter;
  f->ExceptionClass = "EOne";
  source->FilterList()->AddFilter(f);
  EXPECT_EQ(source->published, 0);  // another module's options never publish
  own->Assign(source.get());
  EXPECT_EQ(own->published, 3);
  EXPECT_EQ(own->MailHost(), "mx.example.com");
  EXPECT_EQ(own->RawCustomText(5), "Five");
  EXPECT_EQ(own->LogFlags(), 0x0F);
  EXPECT_TRUE(own->ActiveFlag());
  EXPECT_EQ(own->OwnerModuleName(), "own.dll");
  // The filters are copied, not shared.
  own->FilterList()->GetFilter(0)->ExceptionClass = "EChanged";
  EXPECT_EQ(source->FilterList()->GetFilter(0)->ExceptionClass, "EOne");
  EXPECT_THROW(own->Assign(nullptr), EConvertError);
  SetLibraryModuleHandle(0);
}

FW_EXCEPTION(EBaseFault, Exception);
FW_EXCEPTION(EDerivedFault, EBaseFault);
FW_EXCEPTION(EOtherFault, Exception);

TExceptionIdentity IdentityOf(auto error) {
  return IdentifyException(std::make_exception_ptr(error));
}

TEST(Options, FiltersFindTheFirstMatch) {
  auto filter = [](bool enabled, const char* cls, std::uint8_t appliesTo) {
    auto* f = new TVantorExceptionFilter;
    f->Enabled = enabled;
    f->ExceptionClass = cls;
    f->AppliesTo = appliesTo;
    return f;
  };
  TOwned<TVantorModuleOptions> o(New<TVantorModuleOptions>(""));
  TVantorExceptionsFilters& list = *o->FilterList();
  const TExceptionIdentity derived = IdentityOf(EDerivedFault("x"));
  EXPECT_EQ(list.FindMatchingExceptionFilter(derived, false), -1);
  list.AddFilter(filter(false, "EDerivedFault", 0));  // 0: disabled
  list.AddFilter(filter(true, "  ebasefault ", 1));   // 1: handled ones only
  list.AddFilter(filter(true, "EBaseFault", 2));      // 2: unhandled ones only
  list.AddFilter(filter(true, "Exception", 0));       // 3: every framework exception
  list.AddFilter(filter(true, "EOtherFault", 7));     // 4: never
  list.AddFilter(filter(true, "std::runtime_error", 0));
  struct Case {
    TExceptionIdentity id;
    bool handled;
    int index;
  } cases[] = {
      {derived, true, 1},
      {derived, false, 2},
      {IdentityOf(EBaseFault("x")), true, 1},
      {IdentityOf(EOtherFault("x")), false, 3},
      {IdentityOf(EConvertError("x")), true, 3},
      {IdentityOf(std::runtime_error("x")), true, 5},
      {IdentityOf(42), false, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(list.FindMatchingExceptionFilter(c.id, c.handled), c.index)
        << (c.id.ClassChain.empty() ? "?" : c.id.ClassChain[0]) << " " << c.handled;
  // An automation wrapper matches its carried names exactly, whatever AppliesTo says.
  TExceptionIdentity activeX;
  activeX.IsActiveX = true;
  activeX.ActiveXClassNames = {"EOtherFault"};
  EXPECT_EQ(list.FindMatchingExceptionFilter(activeX, true), 4);
  activeX.ActiveXClassNames = {"eotherfault"};
  EXPECT_EQ(list.FindMatchingExceptionFilter(activeX, true), -1);

  // A message that expands to nothing leaves the exception's own.
  list.GetFilter(3)->ExceptionMessage = "%UNDEFINED_VARIABLE_X%";
  EXPECT_EQ(ExpandPercentVariables(list.GetFilter(3)->ExceptionMessage), "");
  EXPECT_EQ(derived.ClassChain, (std::vector<std::string>{"EDerivedFault", "EBaseFault", "Exception"}));

  list.DeleteFilter(0);
  EXPECT_EQ(list.FindMatchingExceptionFilter(derived, true), 0);
  list.ClearFilters();
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace
