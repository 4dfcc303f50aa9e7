#include "LFProc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>

#include "JCompress.h"
#include "LangFileWriter.h"
#include "Streams.h"

namespace {

using TStorePtr = TOwned<TLangResource>;
using TFilePtr = TOwned<TLangFile>;

constexpr std::uint16_t kGerman = 0x0407;

void SetValue(TLResItem* item, int index, const std::u16string& text, std::int32_t stamp, std::uint16_t flags = 0) {
  TLResValue* v = item->GetValue(index);
  v->SetWideText(text);
  v->SetStamp(stamp);
  v->ChangeFlags(flags, true);
}

// A native store like the wizard's: constants, form and component properties of
// every kind, and an external group; with a German column when asked.
TStorePtr MakeStore(bool german) {
  TStorePtr s(New<TLangResource>());
  s->SetNativeLocale(9);
  TLResUnitItem* main = s->Units()->FindOrAdd("Main");
  main->SetFlags(3);
  SetValue(main->Constants()->FindOrAdd(1, "SIMEI", 65264), 0, u"IMEI:", 5, 0x0100);
  SetValue(main->Constants()->FindOrAdd(2, "SESN", 65265), 0, u"ESN:", 5);
  TLResFormItem* form = s->Forms()->FindOrAdd("TWizardForm");
  form->SetFlags(7);
  SetValue(form->AddProperty("", 1, "Caption", lvkWideString), 0, u"Pellory", 5);
  SetValue(form->AddProperty("", 2, "HelpContext", lvkInteger), 0, u"100", 5);
  SetValue(form->AddProperty("BackButton", 3, "Caption", lvkWideString), 0, u"< Back", 5);
  SetValue(form->AddProperty("ImageMain", 4, "Scale", lvkFloat), 0, u"1.5", 5);
  form->FindComponentItem("BackButton")->SetFlags(2);
  SetValue(s->ExtGroups()->FindOrAdd("Help")->Items()->FindOrAdd(1, "Topic"), 0, u"Help topic", 5);
  if (german) {
    s->AddLanguage(0, kGerman);
    s->ForEachItem([](TLResItem* item) {
      std::u16string t = item->GetNativeValue()->WideText();
      if (item->GetValueKind() == lvkWideString) t = u"DE " + t;
      SetValue(item, 1, t, 5);
    });
  }
  return s;
}

// Every item of a store as one line: kind, full name, ID, flags and the values with their stamps.
std::string Dump(const TLangResource& s) {
  std::string out;
  s.ForEachItem([&](TLResItem* item) {
    out += std::to_string(item->GetValueKind()) + " " + item->GetFullName() + " #" + std::to_string(item->ID());
    if (auto* c = dynamic_cast<TLResConstantItem*>(item)) out += " s" + std::to_string(c->StringID());
    for (int i = 0; i < item->Values()->Count(); ++i) {
      TLResValue* v = item->GetValue(i);
      out += " [" + std::string(v->WideText().begin(), v->WideText().end()) + "/" + std::to_string(v->Stamp()) + "/" +
             std::to_string(v->Flags()) + "]";
    }
    out += "\n";
  });
  return out;
}

TLangFileHeader Header(int format, bool native) {
  TLangFileHeader h;
  h.Format = static_cast<std::uint16_t>(format);
  h.Version = 92;
  h.Build = 3;
  h.LangID = native ? 9 : kGerman;
  h.BasedOnLangID = 9;
  h.EnglishName = native ? "English" : "German";
  h.LocalizedName = native ? u"English" : u"Deutsch";
  h.IsNative = native;
  h.Attributes = 0x0102;
  return h;
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message;
  }
  return "(no error)";
}

TEST(LFProc, EveryFormatLoadsBackPlainAndCompressed) {
  TStorePtr source = MakeStore(true);
  for (int format = 1; format <= 7; ++format) {
    for (bool compressed : {false, true}) {
      SCOPED_TRACE("format " + std::to_string(format) + (compressed ? " compressed" : " plain"));
      std::string native = WriteLangFileImage(Header(format, true), *source, 0);
      std::string german = WriteLangFileImage(Header(format, false), *source, 1);
      if (compressed) {
        native = LzjCompress(native);
        german = LzjCompress(german);
      }
      TStorePtr store(New<TLangResource>());
      TFilePtr nf(New<TLangFile>());
      nf->LoadFromBytes(native, store.get(), 0, -1);
      EXPECT_EQ(nf->Compressed, compressed);
      EXPECT_EQ(nf->FormatVersion, format);
      EXPECT_EQ(nf->Build, format > 4 ? 3u : 0u);
      EXPECT_EQ(nf->Attributes, format > 1 ? 0x0102 : 0);
      EXPECT_EQ(nf->BasedOnLangID, format > 2 ? 9 : 0);
      EXPECT_EQ(store->NativeLocale(), 9);
      store->AddLanguage(0, kGerman);
      TFilePtr gf(New<TLangFile>());
      gf->LoadFromBytes(german, store.get(), 0, 1);
      EXPECT_EQ(gf->LocalizedName, u"Deutsch");

      // What each format can carry: flags from 2, typed numbers from 4, external groups from 7.
      std::string f = format > 1 ? "256" : "0";
      std::string number = format > 3 ? "100" : "";
      std::string real = format > 3 ? "1.5" : "";
      std::string expected =
          "2 Main.SESN #2 s65265 [ESN:/5/0] [DE ESN:/5/0]\n"
          "2 Main.SIMEI #1 s65264 [IMEI:/5/" +
          f +
          "] [DE IMEI:/5/0]\n"
          "2 TWizardForm.Caption #1 [Pellory/5/0] [DE Pellory/5/0]\n"
          "1 TWizardForm.HelpContext #2 [" +
          number + "/5/0] [" + number +
          "/5/0]\n"
          "2 TWizardForm.BackButton.Caption #3 [< Back/5/0] [DE < Back/5/0]\n"
          "0 TWizardForm.ImageMain.Scale #4 [" +
          real + "/5/0] [" + real + "/5/0]\n";
      if (format > 6) expected += "2 Help.Topic #1 [Help topic/5/0] [DE Help topic/5/0]\n";
      EXPECT_EQ(Dump(*store), expected);
      EXPECT_EQ(store->Units()->GetUnit(0)->Flags(), format > 1 ? 3 : 0);
      EXPECT_EQ(store->Forms()->GetForm(0)->Flags(), format > 1 ? 7 : 0);
      EXPECT_EQ(store->Forms()->GetForm(0)->FindComponentItem("BackButton")->Flags(), format > 1 ? 2 : 0);
      EXPECT_EQ(store->Units()->GetUnit(0)->Constants()->GetConstant(0)->GetValue(1)->LangID(), kGerman);
    }
  }
}

TEST(LFProc, UnknownRecordsAreSkippedAndTheNextOneReadCorrectly) {
  TStorePtr source = MakeStore(true);
  // The translation knows a constant (ID 99, between the two units' records) that the program does not.
  TLResUnitItem* extra = source->Units()->FindOrAdd("Extra");
  TLResConstantItem* gone = extra->Constants()->FindOrAdd(99, "SGone", 1);
  SetValue(gone, 1, u"weg", 5);
  TLResFormItem* form = source->Forms()->FindOrAdd("TWizardForm");
  SetValue(form->AddProperty("Gone", 50, "Caption", lvkWideString), 1, u"weg", 5);
  std::string german = WriteLangFileImage(Header(7, false), *source, 1);

  TStorePtr store(New<TLangResource>());
  TFilePtr nf(New<TLangFile>());
  nf->LoadFromBytes(WriteLangFileImage(Header(7, true), *MakeStore(false), 0), store.get(), 0, -1);
  store->AddLanguage(0, kGerman);
  TFilePtr gf(New<TLangFile>());
  gf->LoadFromBytes(german, store.get(), 0, 1);
  EXPECT_EQ(gf->ConstMaxID, 99u);
  EXPECT_EQ(gf->PropertyMaxID, 50u);
  EXPECT_EQ(store->FindConstantByID(99), nullptr);
  EXPECT_EQ(store->FindConstantByID(1)->GetValue(1)->WideText(), u"DE IMEI:");
  EXPECT_EQ(store->FindPropertyByID(3)->GetValue(1)->WideText(), u"DE < Back");
  EXPECT_EQ(store->FindExternalItem("Help", "Topic")->GetValue(1)->WideText(), u"DE Help topic");

  // Matched by names instead of IDs: a record with a wrong ID still finds its item.
  source->FindConstantByID(1)->SetID(77);
  std::string byName = WriteLangFileImage(Header(7, false), *source, 1);
  store->FindConstantByID(1)->GetValue(1)->SetWideText(u"");
  TFilePtr bf(New<TLangFile>());
  bf->LoadFromBytes(byName, store.get(), lfoMatchByName, 1);
  EXPECT_EQ(store->FindConstantByID(1)->GetValue(1)->WideText(), u"DE IMEI:");
}

TEST(LFProc, PropertyOfAnotherKindIsSkipped) {
  TStorePtr source = MakeStore(true);
  source->FindPropertyByID(3)->SetValueKind(lvkInteger);  // BackButton.Caption, written as an integer
  source->FindPropertyByID(3)->GetValue(1)->SetWideText(u"42");
  std::string german = WriteLangFileImage(Header(7, false), *source, 1);
  TStorePtr store = MakeStore(true);
  store->FindPropertyByID(3)->GetValue(1)->SetWideText(u"unchanged");
  store->FindPropertyByID(4)->GetValue(1)->SetWideText(u"0");
  TFilePtr gf(New<TLangFile>());
  gf->LoadFromBytes(german, store.get(), 0, 1);
  EXPECT_EQ(store->FindPropertyByID(3)->GetValue(1)->WideText(), u"unchanged");
  EXPECT_EQ(store->FindPropertyByID(4)->GetValue(1)->WideText(), u"1.5");  // the record after it
}

TEST(LFProc, CreateModeStampsIdsAndOutdatedFlags) {
  TStorePtr source = MakeStore(true);
  source->FindConstantByID(2)->GetNativeValue()->SetStamp(-1);
  // A second unit reusing ID 1, and a constant still without an ID.
  TLResUnitItem* other = source->Units()->FindOrAdd("Other");
  SetValue(other->Constants()->FindOrAdd(1, "SDup", 7), 0, u"dup", 5);
  SetValue(other->Constants()->FindOrAdd(0, "SNew", 8), 0, u"new", 5);
  std::string native = WriteLangFileImage(Header(7, true), *source, 0);

  TStorePtr store(New<TLangResource>());
  TFilePtr nf(New<TLangFile>());
  nf->LoadFromBytes(native, store.get(), lfoRenumberUsedIDs, -1);
  EXPECT_EQ(store->FindConstantByID(2)->GetNativeValue()->Stamp(), 92);  // negative stamp: the file's version
  // "SDup" is read after "SIMEI" took ID 1 ("Main" < "Other"): it gets a fresh number, as does "SNew".
  TLResConstantItem* dup =
      static_cast<TLResConstantItem*>(store->Units()->FindOrAdd("Other")->Constants()->FindItem("SDup"));
  TLResConstantItem* fresh =
      static_cast<TLResConstantItem*>(store->Units()->FindOrAdd("Other")->Constants()->FindItem("SNew"));
  EXPECT_EQ(nf->ConstMaxID, 4u);
  EXPECT_TRUE((dup->ID() == 3 && fresh->ID() == 4) || (dup->ID() == 4 && fresh->ID() == 3));

  // Loading twice gives the same items: the store is cleared first.
  std::string first = Dump(*store);
  TFilePtr again(New<TLangFile>());
  again->LoadFromBytes(native, store.get(), lfoRenumberUsedIDs, -1);
  EXPECT_EQ(Dump(*store), first);

  // A translation older than the native text loses its "use outdated" flag.
  store->AddLanguage(0, kGerman);
  TStorePtr translated = MakeStore(true);
  translated->FindConstantByID(1)->GetValue(1)->SetStamp(3);
  translated->FindConstantByID(1)->GetValue(1)->ChangeFlags(0x0100, true);
  translated->FindPropertyByID(1)->GetValue(1)->ChangeFlags(0x0100, true);
  TFilePtr gf(New<TLangFile>());
  gf->LoadFromBytes(WriteLangFileImage(Header(7, false), *translated, 1), store.get(), 0, 1);
  EXPECT_EQ(store->FindConstantByID(1)->GetValue(1)->Flags(), 0);
  EXPECT_EQ(store->FindConstantByID(1)->GetValue(1)->Stamp(), 3);
  EXPECT_EQ(store->FindPropertyByID(1)->GetValue(1)->Flags(), 0x0100);
}

TEST(LFProc, RefusesBadHeadersAndTargets) {
  TStorePtr store = MakeStore(false);
  std::string good = WriteLangFileImage(Header(7, true), *store, 0);
  std::string format0 = good, format8 = good, magic = good;
  format0[2] = 0;
  format8[2] = 8;
  magic[0] = 'X';
  struct Case {
    const char* what;
    std::string bytes;
    std::string error;
  } cases[] = {
      {"format 0", format0, std::string("ELFProcError: ") + SLFInvalidFormat.native},
      {"format 8", format8, std::string("ELFProcError: ") + SLFTooNew.native},
      {"magic", magic, std::string("ELFProcError: ") + SLFInvalidFormat.native},
      {"format 8 compressed", LzjCompress(format8), std::string("ELFProcError: ") + SLFTooNew.native},
      {"cut header", good.substr(0, 20), "EReadError: Stream read error"},
      {"cut body", good.substr(0, good.size() - 3), "EReadError: Stream read error"},
      {"empty", "", "EReadError: Stream read error"},
  };
  for (const Case& c : cases) {
    TStorePtr target(New<TLangResource>());
    TFilePtr f(New<TLangFile>());
    EXPECT_EQ(ErrorOf([&] { f->LoadFromBytes(c.bytes, target.get(), 0, -1); }), c.error) << c.what;
  }
  TFilePtr f(New<TLangFile>());
  EXPECT_EQ(ErrorOf([&] { f->CheckTarget(nullptr, 0); }), std::string("ELFProcError: ") + SLFInvalidStore.native);
  EXPECT_EQ(ErrorOf([&] { f->CheckTarget(store.get(), 1); }), std::string("ELFProcError: ") + SLFInvalidIndex.native);
  TOwned<TMemoryStream> m(New<TMemoryStream>());
  m->WriteBytes(good);
  EXPECT_EQ(f->ReadHeader(*m, true), f->ReadHeader(good, true));
  EXPECT_EQ(f->EnglishName, "");  // check only: nothing stored
}

TEST(LFProc, ConstructorScansTheHeaderOfAFile) {
  // A native file far larger than the scan window once compressed.
  TStorePtr store = MakeStore(false);
  TLResConstantList* many = store->Units()->FindOrAdd("Many")->Constants();
  for (int i = 0; i < 600; ++i) {
    std::u16string text;
    for (int k = 0; k < 20; ++k) text += static_cast<char16_t>(u'A' + (i * 7 + k * 13) % 26);
    SetValue(many->FindOrAdd(100 + i, "S" + std::to_string(i), static_cast<std::int32_t>(i)), 0, text, 5);
  }
  std::string compressed = LzjCompress(WriteLangFileImage(Header(7, true), *store, 0));
  ASSERT_GT(compressed.size(), 4 * kLangFileScanSize);
  std::string path = testing::TempDir() + "lfproc-native.lng";
  {
    TFileStream out(path, fmCreate);
    out.WriteBytes(compressed);
  }
  TFilePtr f(New<TLangFile>(path, false));
  EXPECT_TRUE(f->Compressed);
  EXPECT_FALSE(f->ReadOnly);
  EXPECT_TRUE(f->IsNative);
  EXPECT_EQ(f->EnglishName, "English");
  EXPECT_EQ(f->Version, 92u);
  EXPECT_EQ(f->ConstMaxID, 699u);
  EXPECT_EQ(f->FileName, path);

  TStorePtr loaded(New<TLangResource>());
  f->LoadIntoResource(loaded.get(), -1, 0);
  EXPECT_EQ(loaded->FindConstantByID(699)->GetNativeValue()->WideText().size(), 20u);
  std::remove(path.c_str());

  TFilePtr missing(New<TLangFile>(testing::TempDir() + "no-such.lng", true));
  EXPECT_EQ(missing->FormatVersion, 7);
  EXPECT_EQ(missing->LangID, 0u);
  EXPECT_TRUE(missing->ReadOnly);
}

TEST(LFProc, OversizedFilesAreRefusedWithoutBeingRead) {
  // A plain native file with a valid header, grown sparsely to each size: the
  // constructor reads only the header's bytes, and a file beyond the bound is
  // refused before any of it is read, by the constructor and by the loader.
  TStorePtr store = MakeStore(false);
  const std::string image = WriteLangFileImage(Header(7, true), *store, 0);
  const std::string path = testing::TempDir() + "lfproc-large.lng";
  struct Row {
    const char* name;
    std::int64_t size;
    bool refused;
  };
  const Row rows[] = {
      {"a body past the longest header", static_cast<std::int64_t>(kLangFileHeaderMaxSize) * 3, false},
      {"exactly the bound", kLangFileMaxSize, false},
      {"one byte past the bound", kLangFileMaxSize + 1, true},
      {"three gigabytes", std::int64_t{3} << 30, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    {
      TFileStream out(path, fmCreate);
      out.WriteBytes(image);
      out.SetSize(row.size);
    }
    if (row.refused) {
      try {
        TFilePtr f(New<TLangFile>(path, true));
        ADD_FAILURE() << "no error";
      } catch (const ELFProcError& e) {
        EXPECT_EQ(e.Message, "Invalid file format");
      }
    } else {
      TFilePtr f(New<TLangFile>(path, true));
      EXPECT_TRUE(f->IsNative);
      EXPECT_EQ(f->EnglishName, "English");
      EXPECT_FALSE(f->Compressed);
    }
  }
  // A file that grew after its header was read is refused by the loader too.
  {
    TFileStream out(path, fmCreate);
    out.WriteBytes(image);
  }
  TFilePtr f(New<TLangFile>(path, true));
  {
    TFileStream out(path, fmOpenReadWrite);
    out.SetSize(kLangFileMaxSize + 1);
  }
  TStorePtr loaded(New<TLangResource>());
  EXPECT_THROW(f->LoadIntoResource(loaded.get(), -1, 0), ELFProcError);
  std::remove(path.c_str());
}

}  // namespace
