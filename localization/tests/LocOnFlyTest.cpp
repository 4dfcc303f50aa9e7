// The on-the-fly localizer over fakes: a Windows-style disk held in memory,
// in-memory modules with the program's resources, a loader that loads the
// libraries the localizer builds (read back with the PE reader), the table
// locale services and a fake screen with one live form.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "FileApi.h"
#include "JCompress.h"
#include "JLocales.h"
#include "LFProc.h"
#include "LangFileWriter.h"
#include "LangRes.h"
#include "LiveFormsFakes.h"
#include "LocOnFly.h"
#include "LocUtils.h"
#include "Modules.h"
#include "ResProc.h"
#include "ResStrings.h"
#include "SysUtils.h"

namespace {

constexpr ModuleHandle kApp = 0x400000;
const std::string kExe = "C:\\Pellory\\Pellory.exe";
const std::string kLangDir = "C:\\Pellory\\Languages";

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// A disk with Windows names (folders split at "\", names compared without
// regard to case): files can be written, made read-only and searched for.
class TFakeDisk : public FileApi {
 public:
  void AddFolder(const std::string& path) { folders_.insert(Lower(Normal(path))); }
  // A folder whose files can be read but not created or deleted.
  void SetFolderReadOnly(const std::string& path, bool readOnly) {
    if (readOnly)
      readOnlyFolders_.insert(Lower(Normal(path)));
    else
      readOnlyFolders_.erase(Lower(Normal(path)));
  }
  void Put(const std::string& path, std::string bytes, bool readOnly = false) {
    files_[Lower(Normal(path))] = {Normal(path), std::move(bytes), readOnly};
  }
  std::string Bytes(const std::string& path) const {
    auto f = files_.find(Lower(Normal(path)));
    return f == files_.end() ? std::string() : f->second.bytes;
  }
  int Writes(const std::string& path) const {
    auto f = writes_.find(Lower(Normal(path)));
    return f == writes_.end() ? 0 : f->second;
  }
  std::string cwd = "C:\\Work";
  mutable std::vector<std::string> relativeNames;

  Handle Open(const std::string& name, unsigned mode, std::string& error) override {
    const std::string key = Lower(Normal(name));
    auto f = files_.find(key);
    const bool create = (mode & 0xFF00) == fmCreate;
    const bool write = create || (mode & 3) != fmOpenRead;
    if (create && !folders_.count(Lower(ExtractFileDir(Normal(name))))) {
      error = "Path not found";
      return nullptr;
    }
    if (create && readOnlyFolders_.count(Lower(ExtractFileDir(Normal(name))))) {
      error = "Access denied";
      return nullptr;
    }
    if (!create && f == files_.end()) {
      error = "File not found";
      return nullptr;
    }
    if (f != files_.end() && write && f->second.readOnly) {
      error = "Access denied";
      return nullptr;
    }
    if (create) {
      files_[key] = {Normal(name), "", false};
      ++writes_[key];
    }
    return new OpenFile{key, 0};
  }
  void Close(Handle h) override { delete static_cast<OpenFile*>(h); }
  std::int64_t Read(Handle h, void* buffer, std::size_t count) override {
    auto* o = static_cast<OpenFile*>(h);
    const std::string& bytes = files_[o->key].bytes;
    std::size_t n = o->pos < bytes.size() ? std::min(count, bytes.size() - o->pos) : 0;
    std::copy_n(bytes.data() + o->pos, n, static_cast<char*>(buffer));
    o->pos += n;
    return static_cast<std::int64_t>(n);
  }
  std::int64_t Write(Handle h, const void* buffer, std::size_t count) override {
    auto* o = static_cast<OpenFile*>(h);
    std::string& bytes = files_[o->key].bytes;
    if (bytes.size() < o->pos + count) bytes.resize(o->pos + count);
    std::copy_n(static_cast<const char*>(buffer), count, bytes.data() + o->pos);
    o->pos += count;
    return static_cast<std::int64_t>(count);
  }
  std::int64_t Seek(Handle h, std::int64_t offset, SeekOrigin origin) override {
    auto* o = static_cast<OpenFile*>(h);
    std::int64_t base = origin == SeekOrigin::Beginning ? 0
                        : origin == SeekOrigin::Current ? static_cast<std::int64_t>(o->pos)
                                                        : static_cast<std::int64_t>(files_[o->key].bytes.size());
    if (base + offset < 0) return -1;
    o->pos = static_cast<std::size_t>(base + offset);
    return base + offset;
  }
  bool SetSize(Handle h, std::int64_t size) override {
    files_[static_cast<OpenFile*>(h)->key].bytes.resize(static_cast<std::size_t>(size));
    return true;
  }
  // A file loaded as a library can't be deleted, as on Windows.
  void SetInUse(const std::string& path, bool inUse) {
    if (inUse)
      inUse_.insert(Lower(Normal(path)));
    else
      inUse_.erase(Lower(Normal(path)));
  }
  bool FileExists(const std::string& name) override { return files_.count(Lower(Normal(name))) != 0; }
  bool DeleteFile(const std::string& name) override {
    auto f = files_.find(Lower(Normal(name)));
    if (f == files_.end() || f->second.readOnly || inUse_.count(f->first)) return false;
    if (readOnlyFolders_.count(Lower(ExtractFileDir(f->first)))) return false;
    files_.erase(f);
    return true;
  }
  bool DirectoryExists(const std::string& name) override { return folders_.count(Lower(Normal(name))) != 0; }
  std::vector<TSearchEntry> FindFiles(const std::string& pattern, unsigned attributes) override {
    const std::string folder = Lower(ExtractFileDir(Normal(pattern)));
    const std::string mask = ExtractFileName(pattern);
    std::vector<TSearchEntry> out;
    for (const auto& [key, file] : files_)
      if (Lower(ExtractFileDir(key)) == folder && MatchesFileMask(ExtractFileName(file.name), mask))
        out.push_back({ExtractFileName(file.name), file.readOnly ? faReadOnly : faArchive});
    if (attributes & faDirectory)
      for (const std::string& f : folders_)
        if (Lower(ExtractFileDir(f)) == folder && MatchesFileMask(ExtractFileName(f), mask))
          out.push_back({ExtractFileName(f), faDirectory});
    return out;
  }
  std::string FullPathName(const std::string& name) override { return Normal(name); }

  // "." and ".." resolved, relative names taken from the current directory
  // (and kept: a caller that hands one over depends on the current directory).
  std::string Normal(const std::string& name) const {
    const bool relative = name.size() < 2 || name[1] != ':';
    if (relative) relativeNames.push_back(name);
    std::string full = relative ? cwd + "\\" + name : name;
    std::vector<std::string> parts;
    std::string part;
    for (char c : full + "\\") {
      if (c != '\\' && c != '/') {
        part += c;
        continue;
      }
      if (part == "..") {
        if (parts.size() > 1) parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      part.clear();
    }
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : "\\") + p;
    return out;
  }

 private:
  struct File {
    std::string name;
    std::string bytes;
    bool readOnly = false;
  };
  struct OpenFile {
    std::string key;
    std::size_t pos;
  };
  std::map<std::string, File> files_;
  std::map<std::string, int> writes_;
  std::set<std::string> folders_;
  std::set<std::string> inUse_;
  std::set<std::string> readOnlyFolders_;
};

// Loads library files from the disk as in-memory modules with their string
// table and RCDATA, as the system's loader does for a data file.
class TDiskLoader : public TLibraryLoader {
 public:
  TDiskLoader(TFakeDisk& disk, MemoryResourceSource& source) : disk_(disk), source_(source) {}
  ModuleHandle LoadDataFile(const std::string& path) override {
    if (!disk_.FileExists(path)) return 0;
    TOwned<TResProcessor> p(New<TResProcessor>());
    try {
      p->LoadFromPEImage(disk_.Bytes(path));
    } catch (const Exception&) {
      return 0;
    }
    const ModuleHandle h = 0x10000000 + 0x10000 * static_cast<ModuleHandle>(++loads);
    std::map<std::uint16_t, std::u16string[16]> blocks;
    for (int i = 0; p->Strings() && i < p->Strings()->StringCount(); ++i) {
      TResStringItem* s = p->Strings()->GetString(i);
      blocks[StringBlockId(static_cast<std::uint16_t>(s->ID))][StringBlockIndex(static_cast<std::uint16_t>(s->ID))] =
          s->GetText();
    }
    for (const auto& [block, strings] : blocks) source_.Add(h, rtString, block, MakeStringBlock(strings, 16));
    for (int i = 0; p->RCData() && i < p->RCData()->GetCount(); ++i)
      source_.Add(h, rtRcData, p->RCData()->GetItem(i)->GetName(), p->RCData()->GetItem(i)->Data());
    names_[h] = path;
    loaded.push_back(path);
    disk_.SetInUse(path, true);
    return h;
  }
  void FreeLibrary(ModuleHandle module) override {
    ++frees;
    source_.RemoveModule(module);
    auto n = names_.find(module);
    if (n != names_.end()) disk_.SetInUse(n->second, false);
  }
  std::string ModuleFileName(ModuleHandle module) override {
    auto n = names_.find(module);
    if (n != names_.end()) return n->second;
    auto o = others.find(module);
    return o != others.end() ? o->second : module == kApp ? kExe : "";
  }
  std::map<ModuleHandle, std::string> others;  // file names of other modules
  int loads = 0;
  int frees = 0;
  std::vector<std::string> loaded;

 private:
  TFakeDisk& disk_;
  MemoryResourceSource& source_;
  std::map<ModuleHandle, std::string> names_;
};

class TFakePlatform : public TLocOnFlyPlatform {
 public:
  void ShowErrorBox(const std::string& message, const std::string& caption) override {
    boxes.push_back(caption + ": " + message);
  }
  std::vector<ModuleHandle> ProcessModules() override { return {}; }
  bool HasExport(ModuleHandle, const char*) override { return false; }
  bool SwitchToFile(ModuleHandle, const std::string&, TSwitchRecord&) override { return false; }
  void BackToModuleRes(ModuleHandle) override {}
  std::vector<std::string> boxes;
};

// The test program's language data: two strings and the form's caption in
// English (native), German and Russian.
struct TTexts {
  std::u16string imei, next, caption;
};
const std::map<std::uint16_t, TTexts> kTexts = {
    {9, {u"IMEI:", u"Next >", u"Pellory"}},
    {0x0407, {u"IMEI-Nr.:", u"Weiter >", u"Pellory DE"}},
    {0x0419,
     {u"\u0418\u041C\u0415\u0418:", u"\u0414\u0430\u043B\u0435\u0435 >",
      u"\u041F\u0435\u043B\u043B\u043E\u0440\u0438"}},
};

TOwned<TLangResource> SourceStore() {
  TOwned<TLangResource> s(New<TLangResource>());
  s->SetNativeLocale(9);
  TLResUnitItem* main = s->Units()->FindOrAdd("Main");
  TLResItem* items[] = {main->Constants()->FindOrAdd(1, "SIMEI", 65264),
                        main->Constants()->FindOrAdd(2, "SNext", 65295),
                        s->Forms()->FindOrAdd("Form1")->AddProperty("", 1, "Caption", lvkWideString)};
  int index = 0;
  for (std::uint16_t lang : {9, 0x0407, 0x0419}) {
    if (lang != 9) index = s->AddLanguage(0, lang);
    const TTexts& t = kTexts.at(lang);
    const std::u16string* texts[] = {&t.imei, &t.next, &t.caption};
    for (int i = 0; i < 3; ++i) {
      items[i]->GetValue(index)->SetWideText(*texts[i]);
      items[i]->GetValue(index)->SetStamp(3);
    }
  }
  return s;
}

TLangFileHeader Header(std::uint16_t lang, std::uint32_t build = 0, std::uint32_t version = 92) {
  TLangFileHeader h;
  h.LangID = lang;
  h.Version = version;
  h.Build = build;
  h.BasedOnLangID = 9;
  h.IsNative = lang == 9;
  h.EnglishName = lang == 9 ? "English" : lang == 0x0407 ? "German" : "Russian";
  h.LocalizedName = lang == 9        ? u"English"
                    : lang == 0x0407 ? u"Deutsch"
                                     : u"\u0420\u0443\u0441\u0441\u043A\u0438\u0439";
  return h;
}

std::string Image(std::uint16_t lang, std::uint32_t build = 0, std::uint32_t version = 92) {
  TOwned<TLangResource> s = SourceStore();
  return WriteLangFileImage(Header(lang, build, version), *s, lang == 9 ? 0 : lang == 0x0407 ? 1 : 2);
}

std::vector<TEmbeddedLanguage> Embedded(bool compress) {
  std::vector<TEmbeddedLanguage> out;
  for (std::uint16_t lang : {9, 0x0407, 0x0419}) {
    TLangFileHeader h = Header(lang);
    std::string image = Image(lang);
    out.push_back({lang, h.EnglishName, h.LocalizedName, compress ? LzjCompress(image) : image});
  }
  return out;
}

std::string Settings(const char* signature, std::uint32_t version = 92) {
  return WriteSettingsResource(signature, version, 9, "English", u"English", 6, 0);
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ELocOnFlyError& e) {
    return e.Message;
  } catch (const Exception& e) {
    return e.ClassName() + std::string(": ") + e.Message;
  }
  return "(no error)";
}

class LocOnFly : public ::testing::Test {
 public:
  void SetUp() override {
    SetFileApi(&disk);
    SetResourceSource(&source);
    SetMainInstance(kApp);
    ClearModuleList();
    RegisterModule(kApp);
    SetLocOnFlyPlatform(&platform);
    DoneLocUtils();
    SetLocUtilsLoader(&loader);
    InitLocUtils();
    JLocUtils()->AppFileName = kExe;
    TResProcessor::SetModuleResourceReader([this](void* module) {
      std::vector<TResListEntry> out;
      const auto m = reinterpret_cast<ModuleHandle>(module);
      for (std::uint16_t type : {rtString, rtRcData})
        for (const ResourceId& name : source.EnumNames(m, type)) {
          TResListEntry e;
          e.Type = type;
          e.Numbered = name.isId;
          e.Name = name.isId ? std::to_string(name.id) : name.name;
          e.Data = *source.Find(m, type, name);
          out.push_back(e);
        }
      return out;
    });
    disk.AddFolder("C:\\Pellory");
    disk.AddFolder(kLangDir);
    // The program: its strings, the settings resources and the embedded list.
    std::u16string block[16];
    block[StringBlockIndex(65264)] = u"IMEI:";
    source.Add(kApp, rtString, StringBlockId(65264), MakeStringBlock(block, 16));
    std::u16string last[16];
    last[StringBlockIndex(65295)] = u"Next >";
    source.Add(kApp, rtString, StringBlockId(65295), MakeStringBlock(last, 16));
    source.Add(kApp, rtRcData, kExeSettingsName, Settings("JEXE"));
    source.Add(kApp, rtRcData, kLibSettingsName, Settings("LDLL"));
    source.Add(kApp, rtRcData, kLocLangsName, WriteEmbeddedLanguageList(Embedded(true), 4, 92));
    host.Forms.push_back(form);
    form->SetName("Form1");
  }
  void TearDown() override {
    localizer.reset();
    FreeObject(form);
    JLocUtils()->RestoreAllModules();
    DoneLocUtils();
    SetLocUtilsLoader(nullptr);
    TResProcessor::SetModuleResourceReader(nullptr);
    SetLocOnFlyPlatform(nullptr);
    ClearModuleList();
    SetResourceSource(nullptr);
    SetMainInstance(0);
    SetFileApi(nullptr);
  }

  // A fresh program, disk and screen.
  void Reset() {
    TearDown();
    disk = TFakeDisk();
    for (int i = 1; i <= loader.loads; ++i) source.RemoveModule(0x10000000 + 0x10000 * static_cast<ModuleHandle>(i));
    source.RemoveModule(kApp);
    loader.loads = loader.frees = 0;
    host = FakeHost();
    form = New<TForm1>(nullptr);
    events.clear();
    SetUp();
  }

  TJLocalizerOnFly* Make() {
    localizer.reset(New<TJLocalizerOnFly>());
    localizer->Host = &host;
    localizer->OnSwitched = TSwitchedEvent::Bind<&LocOnFly::Switched>(this);
    localizer->OnSwitchStart = TNotifyEvent::Bind<&LocOnFly::SwitchStarted>(this);
    return localizer.get();
  }
  TJLocalizerOnFly* Started() {
    Make()->Initialize(kLangDir);
    return localizer.get();
  }
  void Switched(TObject*, TLFInfo* info) { events.push_back("switched " + info->EnglishName); }
  void SwitchStarted(TObject*) { events.push_back("start"); }
  void Throw(TObject*) { throw std::runtime_error("not the framework's"); }

  std::u16string Str(std::uint16_t id) { return LoadStrW(0, id); }
  ModuleHandle Resources() { return FindResourceHInstance(kApp); }
  std::string Library(const char* abbreviation) { return std::string("C:\\Pellory\\Pellory.") + abbreviation; }

  TFakeDisk disk;
  MemoryResourceSource source;
  TDiskLoader loader{disk, source};
  TFakePlatform platform;
  FakeHost host;
  TForm1* form = New<TForm1>(nullptr);
  TOwned<TJLocalizerOnFly> localizer;
  std::vector<std::string> events;
};

TEST_F(LocOnFly, FileNames) {
  TJLocalizerOnFly* l = Started();
  struct Case {
    std::string got, expected;
  } cases[] = {
      {l->NativeFileName(), "C:\\Pellory\\Languages\\Pellory.ntv.lng"},
      {l->LanguageFileName("DEU"), "C:\\Pellory\\Languages\\Pellory.DEU.lng"},
      {l->ScanMask(), "Pellory.*.lng"},
      {l->LibraryFileName("DEU"), "C:\\Pellory\\Pellory.DEU"},
      {l->NativeLibraryFileName(), "C:\\Pellory\\Languages\\Pellory.ntv"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
  disk.AddFolder("C:\\Libs");
  l->SetDLLFolder("..\\Libs");
  EXPECT_EQ(l->LibraryFolder, "..\\Libs");
  EXPECT_EQ(l->LibraryFileName("DEU"), "C:\\Libs\\Pellory.DEU");
  EXPECT_EQ(ErrorOf([&] { l->SetDLLFolder("Nowhere"); }), "Specified path \"C:\\Pellory\\Nowhere\" does not exist");
  EXPECT_EQ(l->LibraryFolder, "..\\Libs");
}

TEST_F(LocOnFly, InitializeLoadsTheNativeLanguageAndTheListWithoutEvents) {
  TJLocalizerOnFly* l = Make();
  EXPECT_TRUE(JLocUtils()->OnTheFly);
  EXPECT_TRUE(l->Initializing);
  EXPECT_EQ(l->ErrorMode, 1);
  l->Initialize(kLangDir);
  EXPECT_FALSE(l->Initializing);
  EXPECT_TRUE(l->Initialized);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(l->CurrentLocale, 9u);
  EXPECT_EQ(l->CurrentLanguageIndex, 0);
  EXPECT_EQ(l->GetNativeLocale(), 9u);
  EXPECT_EQ(l->GetLanguagesFolder(), kLangDir);
  ASSERT_EQ(l->Languages()->Count(), 3);
  // In English-name order, the native one flagged.
  EXPECT_EQ(l->Languages()->GetInfo(0)->EnglishName, "English");
  EXPECT_TRUE(l->Languages()->GetInfo(0)->Native);
  EXPECT_EQ(l->Languages()->GetInfo(1)->EnglishName, "German");
  EXPECT_EQ(l->Languages()->GetInfo(2)->LocalizedName, u"\u0420\u0443\u0441\u0441\u043A\u0438\u0439");
  EXPECT_TRUE(l->Languages()->IsEmbedded(0x0407));
  EXPECT_EQ(l->Store()->GetLanguageCount(), 1);
  EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(LocOnFly, WithoutNativeDataInitializeReportsTheNativeFile) {
  source.Remove(kApp, rtRcData, kLocLangsName);  // a missing list is no error by itself
  TJLocalizerOnFly* l = Make();
  l->Initialize(kLangDir);
  EXPECT_FALSE(l->Initialized);
  EXPECT_FALSE(l->Initializing);
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0],
            "Localizer Error: Language file \"C:\\Pellory\\Languages\\Pellory.ntv.lng\" is not found");
  EXPECT_EQ(ErrorOf([&] { l->ErrorMode = 0, l->SwitchToLocale(0x0407); }), "Localizer is not initialized");

  // A native file alone serves.
  disk.Put(kLangDir + "\\Pellory.ntv.lng", Image(9));
  Make()->Initialize(kLangDir);
  EXPECT_TRUE(localizer->Initialized);
  EXPECT_EQ(localizer->Languages()->Count(), 1);
  EXPECT_EQ(localizer->Languages()->GetInfo(0)->FileName, "Pellory.ntv.lng");
}

TEST_F(LocOnFly, EmbeddedListInEveryFormat) {
  struct Case {
    std::uint16_t format;
    bool compress;
    const char* german;       // English name in the list
    const char16_t* deutsch;  // localized name
  } cases[] = {
      {1, false, "German (Germany)", u"Deutsch"},
      {2, true, "German (Germany)", u"Deutsch"},
      {3, false, "German", u"Deutsch"},
      {4, true, "German", u"Deutsch"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    std::vector<TEmbeddedLanguage> list = Embedded(c.compress);
    list[1].LocalizedName = u"ignored below format 4";
    if (c.format < 4) list[1].LocalizedName.clear();
    source.Add(kApp, rtRcData, kLocLangsName, WriteEmbeddedLanguageList(list, c.format, 92));
    TJLocalizerOnFly* l = Started();
    ASSERT_TRUE(l->Initialized);
    int de = l->Languages()->IndexOfLocale(0x0407);
    ASSERT_GE(de, 0);
    EXPECT_EQ(l->Languages()->GetInfo(de)->EnglishName, c.german);
    if (c.format < 4) {
      EXPECT_EQ(l->Languages()->GetInfo(de)->LocalizedName, c.deutsch);
    }
    // Locale 0 is the first block; a locale picks its own.
    TOwned<TMemoryStream> first(New<TMemoryStream>()), russian(New<TMemoryStream>());
    EXPECT_TRUE(l->ExtractEmbeddedLanguage(kApp, 0, 0, first.get()));
    EXPECT_EQ(first->DataString(), Image(9));
    EXPECT_TRUE(l->ExtractEmbeddedLanguage(kApp, 0x0419, 0, russian.get()));
    EXPECT_EQ(russian->DataString(), Image(0x0419));
    EXPECT_FALSE(l->ExtractEmbeddedLanguage(kApp, 0x0419, lefListOnly, russian.get()));
    EXPECT_FALSE(l->ExtractEmbeddedLanguage(kApp, 0x040C, 0, russian.get()));
    EXPECT_FALSE(l->ExtractEmbeddedLanguage(kApp, 0x0419, 0, nullptr));
    TOwned<TLangFile> header(New<TLangFile>());
    EXPECT_TRUE(l->ReadEmbeddedHeader(kApp, 0x0419, *header));
    EXPECT_EQ(header->LangID, 0x0419u);
    localizer.reset();
  }
  // Another signature, or no list at all, is no list.
  source.Add(kApp, rtRcData, kLocLangsName, "JLX");
  EXPECT_FALSE(Make()->ExtractEmbeddedLanguage(kApp, 0, lefAddToList, nullptr));
  source.Remove(kApp, rtRcData, kLocLangsName);
  EXPECT_FALSE(localizer->ExtractEmbeddedLanguage(kApp, 0, lefAddToList, nullptr));
  EXPECT_EQ(localizer->Languages()->Count(), 0);
}

// Every read is bounded by the resource: cut anywhere, the list raises the
// localizer's error, never reads past its end (ASan watches the heap copy).
TEST_F(LocOnFly, TruncatedListsAreInvalid) {
  for (std::uint16_t format : {1, 4}) {
    const std::string full = WriteEmbeddedLanguageList(Embedded(false), format, 92);
    TJLocalizerOnFly* l = Make();
    for (std::size_t cut = 3; cut < full.size(); ++cut) {
      source.Add(kApp, rtRcData, kLocLangsName, full.substr(0, cut));
      TOwned<TMemoryStream> out(New<TMemoryStream>());
      std::string error = ErrorOf([&] { l->ExtractEmbeddedLanguage(kApp, 0x0419, lefAddToList, out.get()); });
      EXPECT_EQ(error, "Invalid JLANGS resource") << format << " cut at " << cut;
    }
  }
  // A count past the headers and a size past the end.
  std::string wild = WriteEmbeddedLanguageList(Embedded(false), 4, 92);
  wild[9] = '\x7F';
  source.Add(kApp, rtRcData, kLocLangsName, wild);
  EXPECT_EQ(ErrorOf([&] { Make()->ExtractEmbeddedLanguage(kApp, 0, 0, nullptr); }), "Invalid JLANGS resource");
}

TEST_F(LocOnFly, ScanAddsInNameOrderUpdatesNamesAndNeverRemoves) {
  TJLocalizerOnFly* l = Started();
  ASSERT_EQ(l->Languages()->Count(), 3);
  TLangFileHeader french = Header(0x040C);
  french.EnglishName = "French";
  french.LocalizedName = u"Fran\u00E7ais";
  TOwned<TLangResource> store = SourceStore();
  disk.AddFolder("C:\\More");
  disk.Put("C:\\More\\Pellory.FRA.lng", WriteLangFileImage(french, *store, 1));
  TLangFileHeader german = Header(0x0407);
  german.EnglishName = "German (file)";
  german.LocalizedName = u"Deutsch (Datei)";
  disk.Put("C:\\More\\Pellory.DEU.lng", WriteLangFileImage(german, *store, 1));
  disk.Put("C:\\More\\Pellory.bad.lng", "not a language file");
  disk.Put("C:\\More\\Other.RUS.lng", Image(0x0419));
  TLangFileHeader second = Header(0x0C07);
  second.EnglishName = "French";
  disk.Put("C:\\More\\Pellory.DEA.lng", WriteLangFileImage(second, *store, 1));
  l->SetLanguagesFolder("C:\\More");
  std::vector<std::string> names;
  for (int i = 0; i < l->Languages()->Count(); ++i)
    names.push_back(l->Languages()->GetInfo(i)->EnglishName + "/" + l->Languages()->GetInfo(i)->FileName);
  // The search finds Pellory.DEA.lng before Pellory.FRA.lng: equal names keep that order.
  EXPECT_EQ(names, (std::vector<std::string>{"English/", "French/Pellory.DEA.lng", "French/Pellory.FRA.lng",
                                             "German (file)/Pellory.DEU.lng", "Russian/"}));
  TLFInfo* de = l->Languages()->GetInfo(l->Languages()->IndexOfLocale(0x0407));
  EXPECT_EQ(de->LocalizedName, u"Deutsch");  // only the English name is taken
  EXPECT_FALSE(l->Languages()->IsEmbedded(0x0407));
  EXPECT_EQ(l->Languages()->GetInfo(0)->Owner, l->Languages());
  // The same folder again does nothing; a folder that does not exist changes nothing.
  l->SetLanguagesFolder("C:\\More");
  l->ErrorMode = 2;
  l->SetLanguagesFolder("C:\\Missing");
  EXPECT_EQ(l->GetLanguagesPath(), "C:\\More");
  EXPECT_EQ(l->Languages()->Count(), 5);
}

TEST_F(LocOnFly, RelativeFolderIsResolvedAgainstTheProgramFolder) {
  disk.AddFolder("C:\\Work\\Languages");  // the current directory's namesake is not taken
  TJLocalizerOnFly* l = Make();
  l->Initialize("Languages");
  EXPECT_EQ(l->GetLanguagesFolder(), "Languages");
  EXPECT_EQ(l->GetLanguagesPath(), kLangDir);
  // Every name the localizer gave the disk was a full one: nothing it did
  // depended on the current directory.
  EXPECT_EQ(disk.relativeNames, std::vector<std::string>{});
  Make()->Initialize("");
  EXPECT_EQ(localizer->GetLanguagesPath(), "C:\\Pellory");
}

TEST_F(LocOnFly, GermanFromTheEmbeddedListBuildsAndInstallsTheLibrary) {
  TJLocalizerOnFly* l = Started();
  l->SwitchToLocale(0x0407);
  EXPECT_EQ(events, (std::vector<std::string>{"start", "switched German"}));
  ASSERT_TRUE(disk.FileExists(Library("DEU")));
  EXPECT_NE(Resources(), kApp);
  EXPECT_EQ(Str(65264), u"IMEI-Nr.:");
  EXPECT_EQ(Str(65295), u"Weiter >");
  EXPECT_EQ(form->GetCaption(), "Pellory DE");
  EXPECT_EQ(l->CurrentLocale, 0x0407u);
  EXPECT_EQ(l->PreviousLocale, 9u);
  EXPECT_EQ(l->Store()->CurrentLanguage, l->CurrentLanguageIndex);
  EXPECT_EQ(host.Calls.back(), "screen fonts 0");  // the charset of code page 1252

  // Russian, then back to the program's own resources.
  l->SwitchToLocale(0x0419);
  EXPECT_EQ(Str(65264), kTexts.at(0x0419).imei);
  EXPECT_EQ(host.Calls.back(), "screen fonts 204");
  EXPECT_EQ(loader.frees, 1);  // the German library, replaced
  l->SwitchToLocale(9);
  EXPECT_EQ(Resources(), kApp);
  EXPECT_EQ(Str(65264), u"IMEI:");
  EXPECT_EQ(form->GetCaption(), "Pellory");
  EXPECT_EQ(loader.frees, 2);
  EXPECT_EQ(events.size(), 6u);

  // German again: the library is in step and used as it is.
  const std::string bytes = disk.Bytes(Library("DEU"));
  l->SwitchToLocale(0x0407);
  EXPECT_EQ(disk.Writes(Library("DEU")), 1);
  EXPECT_EQ(disk.Bytes(Library("DEU")), bytes);
  EXPECT_EQ(Str(65295), u"Weiter >");
  EXPECT_EQ(l->Store()->GetLanguageCount(), 3);  // one column per language
}

TEST_F(LocOnFly, ANewerLanguageFileWinsAndHasTheLibraryRebuilt) {
  TJLocalizerOnFly* l = Started();
  l->SwitchToLocale(0x0407);
  l->SwitchToLocale(9);
  // The file's texts, not the embedded block's already in the store, go into the library.
  TOwned<TLangResource> newer = SourceStore();
  newer->FindConstantByID(1)->GetValue(1)->SetWideText(u"IMEI (neu):");
  disk.Put(kLangDir + "\\Pellory.DEU.lng", WriteLangFileImage(Header(0x0407, 5), *newer, 1));
  l->SwitchToLocale(0x0407);
  EXPECT_EQ(disk.Writes(Library("DEU")), 2);
  EXPECT_EQ(JLocUtils()->GetCurrentDLLInfo()->Build, 5u);
  EXPECT_EQ(Str(65264), u"IMEI (neu):");
  EXPECT_EQ(Str(65295), u"Weiter >");
}

TEST_F(LocOnFly, SwitchLoopAndErrorReactions) {
  // The native locale has a file, "Pellory.ntv.lng", but none of its
  // abbreviation ("EN"): the loop tries again with "ntv".
  disk.Put(kLangDir + "\\Pellory.ntv.lng", Image(9));
  TJLocalizerOnFly* l = Started();
  ASSERT_FALSE(l->Languages()->IsEmbedded(9));
  l->ErrorMode = 0;
  l->SwitchToAbbreviation("EN");
  EXPECT_EQ(events, (std::vector<std::string>{"start", "switched English"}));
  EXPECT_EQ(Resources(), kApp);

  // 1033 has neither a file nor a block.
  l->ErrorMode = 0;
  EXPECT_EQ(ErrorOf([&] { l->SwitchToLocale(1033); }), "Language \"English (United States)\" is not found");
  l->ErrorMode = 2;
  const std::vector<std::string> before = events;
  const std::uint32_t locale = l->CurrentLocale;
  l->SwitchToLocale(1033);
  EXPECT_EQ(l->CurrentLocale, locale);
  EXPECT_EQ(Resources(), kApp);
  EXPECT_TRUE(platform.boxes.empty());
  l->ErrorMode = 1;
  l->SwitchToLocale(1033);
  EXPECT_EQ(platform.boxes,
            (std::vector<std::string>{"Localizer Error: Language \"English (United States)\" is not found"}));
  // A library no switch can delete.
  disk.Put(Library("DEU"), "stale library", true);
  l->ErrorMode = 0;
  EXPECT_EQ(ErrorOf([&] { l->SwitchToLocale(0x0407); }), "Can not delete file \"C:\\Pellory\\Pellory.DEU\"");
  EXPECT_EQ(Resources(), kApp);
  EXPECT_EQ(ErrorOf([&] { l->SwitchFromFile(kLangDir + "\\none.lng"); }),
            "Language file \"C:\\Pellory\\Languages\\none.lng\" is not found");
}

// Only the framework's exceptions meet the error reaction.
TEST_F(LocOnFly, OtherExceptionsPassUntouched) {
  TJLocalizerOnFly* l = Started();
  l->ErrorMode = 2;
  l->OnSwitchStart = TNotifyEvent::Bind<&LocOnFly::Throw>(this);
  EXPECT_THROW(l->SwitchToLocale(0x0407), std::runtime_error);
  EXPECT_TRUE(platform.boxes.empty());
}

TEST_F(LocOnFly, MessagesAreTheProgramsStrings) {
  std::u16string block[16];
  block[StringBlockIndex(SLocLanguageNotFound.id)] = u"Sprache \"%s\" nicht gefunden";
  source.Add(kApp, rtString, StringBlockId(SLocLanguageNotFound.id), MakeStringBlock(block, 16));
  TJLocalizerOnFly* l = Started();
  l->ErrorMode = 0;
  EXPECT_EQ(ErrorOf([&] { l->SwitchToLocale(1033); }), "Sprache \"English (United States)\" nicht gefunden");
}

// ApplyLanguageFile's decisions: which library is found, where the language
// comes from, texts only or not, native or not.
TEST_F(LocOnFly, ApplyLanguageFileDecisions) {
  enum Kind { none, inSync, buildDiffers, versionDiffers };
  struct Case {
    Kind library;
    bool fromFile;
    bool dataOnly;
    bool native;
    bool built, installed, restored, translated;
  } cases[] = {
      {none, false, false, false, true, true, false, true},
      {none, true, false, false, true, true, false, true},
      {inSync, false, false, false, false, true, false, true},
      {inSync, true, false, false, false, true, false, true},
      {buildDiffers, false, false, false, true, true, false, true},
      {buildDiffers, true, false, false, true, true, false, true},
      {versionDiffers, false, false, false, true, true, false, true},
      {none, false, true, false, false, false, false, true},
      {inSync, true, true, false, false, false, false, true},
      {none, false, false, true, false, false, true, true},
      {none, true, false, true, false, false, true, true},
      {none, false, true, true, false, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.library) + (c.fromFile ? " file" : " list") + (c.dataOnly ? " data-only" : "") +
                 (c.native ? " native" : ""));
    Reset();
    TJLocalizerOnFly* l = Started();
    if (c.library != none) {
      // A library built earlier: in step, or with another build or version in its settings.
      l->SwitchToLocale(0x0407);
      l->SwitchToLocale(9);
      if (c.library != inSync) {
        TOwned<TResProcessor> p(New<TResProcessor>());
        p->LoadFromPEImage(disk.Bytes(Library("DEU")));
        p->RCData()
            ->FindItem(kLibSettingsName)
            ->SetData(WriteSettingsResource("LDLL", c.library == versionDiffers ? 91 : 92, 0x0407, "German", u"Deutsch",
                                            6, c.library == buildDiffers ? 9 : 0));
        disk.Put(Library("DEU"), p->ResourceDLLImage());
      }
    }
    if (c.native && !c.dataOnly) {
      l->SwitchToLocale(0x0407);
      ASSERT_NE(Resources(), kApp);
    }
    form->SetCaption("");
    const int writes = disk.Writes(Library("DEU")), loads = loader.loads, frees = loader.frees;
    const std::uint16_t lang = c.native ? 9 : 0x0407;
    l->DataOnly = c.dataOnly;
    if (c.fromFile) {
      const std::string name = kLangDir + (c.native ? "\\Pellory.ntv.lng" : "\\Pellory.DEU.lng");
      disk.Put(name, Image(lang));
      l->SwitchFromFile(name);
    } else {
      l->SwitchFromResource(lang);
    }
    EXPECT_EQ(disk.Writes(Library("DEU")) > writes, c.built);
    EXPECT_EQ(loader.loads > loads && Resources() != kApp, c.installed);
    EXPECT_EQ(loader.frees > frees && Resources() == kApp, c.restored);
    EXPECT_EQ(form->GetCaption() == "Pellory DE" || (c.native && form->GetCaption() == "Pellory"), c.translated)
        << form->GetCaption();
    EXPECT_EQ(l->CurrentLocale, lang);
  }
}

// A library whose settings name another language (a renamed file) is never
// installed: it is replaced by this language's, and the switch completes.
TEST_F(LocOnFly, ALibraryOfAnotherLanguageIsReplaced) {
  TJLocalizerOnFly* l = Started();
  l->SwitchToLocale(0x0419);
  l->SwitchToLocale(9);
  disk.Put(Library("DEU"), disk.Bytes(Library("RUS")));
  l->ErrorMode = 0;
  EXPECT_EQ(ErrorOf([&] { l->SwitchToLocale(0x0407); }), "(no error)");
  EXPECT_EQ(disk.Writes(Library("DEU")), 1);
  EXPECT_EQ(JLocUtils()->GetCurrentDLLInfo()->Locale, 0x0407u);
  EXPECT_EQ(l->CurrentLocale, 0x0407u);
  EXPECT_EQ(Str(65264), u"IMEI-Nr.:");
  EXPECT_EQ(form->GetCaption(), "Pellory DE");
}

// A library folder the user may not write (the program's folder of a user
// without rights there): each library goes to the user's folder and is found
// there again by the next start.
TEST_F(LocOnFly, LibrariesGoToTheUsersFolderWhenTheLibraryFolderIsReadOnly) {
  disk.SetFolderReadOnly("C:\\Pellory", true);
  disk.AddFolder("C:\\User");
  for (int start = 0; start < 2; ++start) {
    SCOPED_TRACE(start == 0 ? "first start" : "next start");
    TJLocalizerOnFly* l = Make();
    l->UserLibraryPath = "C:\\User";
    l->Initialize(kLangDir);
    l->ErrorMode = 0;
    struct Step {
      std::uint32_t locale;
      const char* library;  // the library in use, none for the program's own resources
    };
    for (const Step& step :
         {Step{0x0407, "C:\\User\\Pellory.DEU"}, Step{0x0419, "C:\\User\\Pellory.RUS"}, Step{9, nullptr}}) {
      SCOPED_TRACE(step.locale);
      EXPECT_EQ(ErrorOf([&] { l->SwitchToLocale(step.locale); }), "(no error)");
      EXPECT_EQ(l->CurrentLocale, step.locale);
      EXPECT_EQ(JLocUtils()->GetCurrentDLLInfo()->Locale, step.locale);
      EXPECT_EQ(Str(65264), kTexts.at(static_cast<std::uint16_t>(step.locale)).imei);
      if (step.library) {
        EXPECT_EQ(loader.ModuleFileName(Resources()), step.library);
        EXPECT_EQ(disk.Writes(step.library), 1);  // built on the first start, reused on the next
      } else {
        EXPECT_EQ(Resources(), kApp);
      }
    }
    EXPECT_EQ(form->GetCaption(), "Pellory");
    EXPECT_FALSE(disk.FileExists(Library("DEU")));
  }
}

// Without a folder to write the library to, the switch fails whole: the
// program's own language everywhere (resources, locale, forms), never the
// previous language's forms over the program's strings.
TEST_F(LocOnFly, ALibraryThatCannotBeWrittenLeavesOneWholeLanguage) {
  TJLocalizerOnFly* l = Started();
  l->SwitchToLocale(0x0407);
  ASSERT_EQ(form->GetCaption(), "Pellory DE");
  disk.SetFolderReadOnly("C:\\Pellory", true);
  for (std::uint8_t mode : {0, 2}) {
    SCOPED_TRACE(int(mode));
    l->ErrorMode = mode;
    const std::string error = ErrorOf([&] { l->SwitchToLocale(0x0419); });
    EXPECT_EQ(error == "(no error)", mode == 2) << error;
    EXPECT_EQ(Resources(), kApp);
    EXPECT_EQ(l->CurrentLocale, 9u);
    EXPECT_EQ(JLocUtils()->GetCurrentDLLInfo()->Locale, 9u);
    EXPECT_EQ(Str(65264), u"IMEI:");
    EXPECT_EQ(form->GetCaption(), "Pellory");
  }
  // The language whose library is in step still switches.
  l->SwitchToLocale(0x0407);
  EXPECT_EQ(l->CurrentLocale, 0x0407u);
  EXPECT_EQ(Str(65264), u"IMEI-Nr.:");
  EXPECT_EQ(form->GetCaption(), "Pellory DE");
}

TEST_F(LocOnFly, DestroyingSwitchesBackAndDeletesTheLibrary) {
  TJLocalizerOnFly* l = Started();
  l->DeleteOldLibraries = true;
  l->SwitchToLocale(0x0407);
  l->SwitchToLocale(0x0419);
  EXPECT_FALSE(disk.FileExists(Library("DEU")));  // the previous language's library
  ASSERT_TRUE(disk.FileExists(Library("RUS")));
  form->SetCaption("unchanged");
  localizer.reset();
  EXPECT_EQ(Resources(), kApp);
  EXPECT_FALSE(disk.FileExists(Library("RUS")));
  EXPECT_EQ(form->GetCaption(), "unchanged");  // nothing re-translated while destroying
}

// Switching again to the language in use keeps its library, though the
// previous language's library goes.
TEST_F(LocOnFly, DeleteOldLibrariesKeepsTheLibraryInUse) {
  TJLocalizerOnFly* l = Started();
  l->DeleteOldLibraries = true;
  l->SwitchToLocale(0x0407);
  l->SwitchToLocale(0x0407);
  EXPECT_TRUE(disk.FileExists(Library("DEU")));
  EXPECT_EQ(Str(65264), u"IMEI-Nr.:");
}

TEST_F(LocOnFly, KeepOneLanguageDropsTheOldColumn) {
  TJLocalizerOnFly* l = Started();
  l->KeepOneLanguage = true;
  disk.Put(kLangDir + "\\Pellory.DEU.lng", Image(0x0407));
  disk.Put(kLangDir + "\\Pellory.RUS.lng", Image(0x0419));
  l->SwitchToLocale(0x0407);
  l->SwitchToLocale(0x0419);
  EXPECT_EQ(l->Store()->GetLanguageCount(), 2);
  EXPECT_EQ(l->Store()->GetLanguageLocale(1), 0x0419);
  EXPECT_EQ(Str(65264), kTexts.at(0x0419).imei);
}

// Another module of the framework's list with settings and an embedded list
// of its own gets its own German library when SwitchModules is on.
TEST_F(LocOnFly, SwitchModulesGivesAListedModuleItsOwnLibrary) {
  constexpr ModuleHandle kPlugin = 0x500000;
  RegisterModule(kPlugin);
  loader.others[kPlugin] = "C:\\Pellory\\Plugin.dll";
  std::u16string block[16];
  block[StringBlockIndex(65264)] = u"IMEI:";
  source.Add(kPlugin, rtString, StringBlockId(65264), MakeStringBlock(block, 16));
  source.Add(kPlugin, rtRcData, kExeSettingsName, Settings("JEXE"));
  source.Add(kPlugin, rtRcData, kLibSettingsName, Settings("LDLL"));
  source.Add(kPlugin, rtRcData, kLocLangsName, WriteEmbeddedLanguageList(Embedded(false), 4, 92));
  TJLocalizerOnFly* l = Started();
  l->ErrorMode = 0;
  l->SwitchToLocale(0x0407);
  EXPECT_EQ(FindResourceHInstance(kPlugin), kPlugin) << "SwitchModules is off";
  l->SwitchModules = true;
  l->SwitchToLocale(0x0419);
  l->SwitchToLocale(0x0407);
  EXPECT_TRUE(disk.FileExists("C:\\Pellory\\Plugin.DEU"));
  ASSERT_NE(FindResourceHInstance(kPlugin), kPlugin);
  EXPECT_EQ(LoadStrW(kPlugin, 65264), u"IMEI-Nr.:");
  EXPECT_EQ(Str(65264), u"IMEI-Nr.:");
  EXPECT_EQ(l->Languages()->Count(), 3);  // the module's languages stay out of the program's list
  l->SwitchToLocale(9);
  EXPECT_EQ(FindResourceHInstance(kPlugin), kPlugin);
  EXPECT_EQ(Resources(), kApp);
}

// The global localizer makes out-of-step libraries a quiet refusal.
TEST_F(LocOnFly, UnitMakesTheGlobalAndOutOfStepLibrariesAreRefusedQuietly) {
  ASSERT_EQ(LocalizerOnFly(), nullptr);
  JLocUtils()->OnTheFly = false;
  InitLocOnFly();
  ASSERT_NE(LocalizerOnFly(), nullptr);
  EXPECT_TRUE(JLocUtils()->OnTheFly);
  DoneLocOnFly();
  EXPECT_EQ(LocalizerOnFly(), nullptr);
  SetLanguageDLLOnTheFly(false);
}

}  // namespace
