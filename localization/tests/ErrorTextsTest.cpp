// The engine's error texts are resource strings of the program: a language
// library that serves the program's string table translates them, and without
// any table they read as written.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ByteReader.h"
#include "EngineErrorTexts.h"
#include "Exceptions.h"
#include "JCompress.h"
#include "JWStrings.h"
#include "LFProc.h"
#include "LangRes.h"
#include "LocStreamErrors.h"
#include "Modules.h"
#include "PEReader.h"
#include "PackedStrings.h"
#include "ResStrings.h"
#include "Streams.h"
#include "SysUtils.h"

namespace {

constexpr ModuleHandle kProgram = 0x400000;

// The translation of a text in the program's string table below.
std::string Translated(const ResString& rs) {
  return std::string("[de] ") + rs.native;
}

class EngineTexts : public ::testing::Test {
 protected:
  void SetUp() override {
    SetResourceSource(&source_);
    SetMainInstance(kProgram);
    ClearModuleList();
    RegisterModule(kProgram);
  }
  void TearDown() override {
    ClearModuleList();
    SetResourceSource(nullptr);
    SetMainInstance(0);
  }

  // Puts the translated texts into the program's string table.
  void Translate() {
    std::map<std::uint16_t, std::u16string[16]> blocks;
    for (const ResString& rs : EngineErrorTexts())
      blocks[StringBlockId(rs.id)][StringBlockIndex(rs.id)] = AnsiToWide(Translated(rs));
    for (const auto& [block, strings] : blocks) source_.Add(kProgram, rtString, block, MakeStringBlock(strings, 16));
  }

  static std::string ErrorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const Exception& e) {
      return e.Message;
    }
    return "(nothing raised)";
  }

 private:
  MemoryResourceSource source_;
};

TEST_F(EngineTexts, HaveDistinctIdsAndTheirTexts) {
  std::map<std::uint16_t, const char*> seen;
  for (const ResString& rs : EngineErrorTexts()) {
    EXPECT_TRUE(seen.emplace(rs.id, rs.native).second) << "id " << rs.id << " twice";
    EXPECT_EQ(rs.module, 0u) << rs.native;
    EXPECT_EQ(LoadResString(rs), rs.native) << "no table: the text as written";
  }
  Translate();
  for (const ResString& rs : EngineErrorTexts()) EXPECT_EQ(LoadResString(rs), Translated(rs));
}

// Each error, raised with and without a translating string table.
TEST_F(EngineTexts, ErrorsCarryTheTextOfTheStringTable) {
  const std::string missing = ::testing::TempDir() + "no-such-module.exe";
  const struct {
    const char* what;
    ResString text;
    std::function<std::string(const std::string&)> message;  // from the text's format
    std::function<void()> raise;
  } cases[] = {
      {"LZJ header", SWrongStreamFormat, nullptr, [] { LzjDecompress("LZJ01 and more"); }},
      {"LZJ no source", SSourceStreamNotDefined, nullptr,
       [] {
         TOwned<TMemoryStream> out(New<TMemoryStream>());
         TOwned<TLZJCompressor> c(New<TLZJCompressor>(nullptr, out.get()));
         c->DecompressStreams();
       }},
      {"LZJ no destination", SDestinationStreamNotDefined, nullptr,
       [] {
         TOwned<TMemoryStream> in(New<TMemoryStream>());
         TOwned<TLZJCompressor> c(New<TLZJCompressor>(in.get(), nullptr));
         c->DecompressStreams();
       }},
      {"packed string cut", SStreamReadError, nullptr,
       [] {
         ByteReader r(std::string_view("\x05\x00ab", 4));
         ReadPackedAnsiString(r, 5);
       }},
      {"packed length too large", SPackedLengthTooLarge,
       [](const std::string& format) { return Format(format, 70000); },
       [] {
         std::string out;
         WritePackedLength(out, 70000, 5);
       }},
      {"empty store", SEmptyDictionary, nullptr,
       [] {
         TOwned<TLangResource> store(New<TLangResource>());
         store->Languages()->Clear();
         store->AddLanguage(0, 0x0407);
       }},
      {"no such base language", SCouldNotAddLanguage, nullptr,
       [] {
         TOwned<TLangResource> store(New<TLangResource>());
         store->SetNativeLocale(0x0409);
         store->AddLanguage(3, 0x0407);
       }},
      {"native language", SCouldNotRemoveLanguage, nullptr,
       [] {
         TOwned<TLangResource> store(New<TLangResource>());
         store->SetNativeLocale(0x0409);
         store->RemoveLanguage(0);
       }},
      {"missing module", SExeOpenError, [missing](const std::string& format) { return Format(format, missing); },
       [missing] { New<TPEReader>(missing)->Free(); }},
      {"empty image", SExeEmptyImage, nullptr, [] { TOwned<TPEReader>(TPEReader::FromImage("")); }},
      {"no MZ", SExeUnrecognized, nullptr, [] { TOwned<TPEReader>(TPEReader::FromImage("ZM and more")); }},
      {"MZ only", SExeNotPE, nullptr, [] { TOwned<TPEReader>(TPEReader::FromImage("MZ")); }},
      {"language file magic", SLFInvalidFormat, nullptr,
       [] {
         TOwned<TLangResource> store(New<TLangResource>());
         TOwned<TLangFile> f(New<TLangFile>());
         f->LoadFromBytes(std::string(64, 'X'), store.get(), 0, -1);
       }},
      {"no store", SLFInvalidStore, nullptr,
       [] {
         TOwned<TLangFile> f(New<TLangFile>());
         f->CheckTarget(nullptr, 0);
       }},
      {"no such language", SLFInvalidIndex, nullptr,
       [] {
         TOwned<TLangResource> store(New<TLangResource>());
         store->SetNativeLocale(0x0409);
         TOwned<TLangFile> f(New<TLangFile>());
         f->CheckTarget(store.get(), 1);
       }},
  };
  for (bool translated : {false, true}) {
    if (translated) Translate();
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (translated ? ", translated" : ""));
      const std::string format = translated ? Translated(c.text) : std::string(c.text.native);
      EXPECT_EQ(ErrorOf(c.raise), c.message ? c.message(format) : format);
    }
  }
}

}  // namespace
