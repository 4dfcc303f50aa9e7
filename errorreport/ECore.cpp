#include "ECore.h"

#include <cxxabi.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <direct.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <system_error>

#include "FileApi.h"
#include "SysUtils.h"
#include "TypeInfo.h"

FW_IMPLEMENT_CLASS(TVantorExceptionsFilters)
FW_IMPLEMENT_CLASS(TVantorModuleOptions)

// --- The portable system ---------------------------------------------------------------------------
namespace {

class PortableCoreSystem : public CoreSystemApi {
 public:
  bool GetEnvironment(const std::string& name, std::string& value) override {
    if (name.empty()) return false;
    const char* v = std::getenv(name.c_str());
    if (!v) return false;
    value = v;
    return true;
  }
  std::string CurrentDateText() override {
    std::tm t = LocalTime(std::time(nullptr));
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d", &t);
    return buf;
  }
  std::string CurrentTimeText() override { return TimeToStr(Now()); }
  // C library and POSIX calls, no <filesystem> or file streams: those bring the C++
  // library's locale and stream machinery into every program that links this unit.
  std::string CurrentDirectory() override {
    char* cwd = ::getcwd(nullptr, 0);
    if (!cwd) return std::string();
    std::string out = cwd;
    std::free(cwd);
    return out;
  }
  std::string ExeFileName() override {
#if defined(_WIN32)
    return std::string();
#else
    char name[4096];
    const ssize_t n = ::readlink("/proc/self/exe", name, sizeof name);
    return n > 0 && static_cast<std::size_t>(n) < sizeof name ? std::string(name, static_cast<std::size_t>(n))
                                                              : std::string();
#endif
  }
  std::string ShellAppDataFolder() override {
    return {};
  }
  std::string WindowsFolder() override {
    return {};
  }
  bool IsWin9x() override {
    return false;
  }
  bool IsExistingFolder(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR;
  }
  bool CreateFolder(const std::string& path) override {
#if defined(_WIN32)
    return ::_mkdir(path.c_str()) == 0;
#else
    return ::mkdir(path.c_str(), 0777) == 0;
#endif
  }
  bool CanOpenForWriting(const std::string& fileName) override {
    bool existed = ::FileExists(fileName);
    std::FILE* f = std::fopen(fileName.c_str(), "a+b");
    const bool ok = f != nullptr;
    if (ok) std::fclose(f);
    if (ok && !existed) ::DeleteFile(fileName);
    return ok;
  }
  bool CanOpenForReading(const std::string& fileName) override {
    std::FILE* f = std::fopen(fileName.c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
  }
  std::string ComputerName() override {
    std::string name;
    return GetEnvironment("HOSTNAME", name) ? name.substr(0, 15) : std::string("LOCALHOST");
  }
  ModuleHandle ModuleHandleOf(const std::string&) override {
    return 0;
  }
};

PortableCoreSystem g_portableSystem;
CoreSystemApi* g_system = &g_portableSystem;
ModuleHandle g_libraryModule = 0;
bool g_hostedByIde = false;
TErrorHook g_errorHook = nullptr;
int g_ecoreInits = 0;
std::uint16_t g_optionStreamVersion = kCurrentDataVersion;

bool IsVariableNameChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || c == '_' || (c >= 'a' && c <= 'z');
}

}  // namespace

CoreSystemApi& GetCoreSystemApi() {
  return *g_system;
}
void SetCoreSystemApi(CoreSystemApi* api) {
  g_system = api ? api : &g_portableSystem;
}
ModuleHandle LibraryModuleHandle() {
  return g_libraryModule;
}
void SetLibraryModuleHandle(ModuleHandle module) {
  g_libraryModule = module;
}

// --- Text and version routines -------------------------------------------------------------------
std::string PadVersionPart(std::string_view text) {
  std::string s(text);
  if (s.size() < 5) s.insert(0, 5 - s.size(), '0');
  return s;
}

std::string NormalizeVersionText(std::string_view text) {
  if (text.empty()) return {};
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    std::size_t dot = text.find('.', start);
    std::string_view part = text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
    std::size_t blank = part.find(' ');
    if (blank == std::string_view::npos)
      parts.push_back(PadVersionPart(part));
    else
      parts.push_back(PadVersionPart(part.substr(0, blank)) + std::string(part.substr(blank)));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  std::string out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i) out += '.';
    out += parts[i];
  }
  for (std::size_t n = parts.size(); n < 4; ++n) out += ".00000";
  return out;
}

bool IsVersionGreater(std::string_view a, std::string_view b) {
  std::string na = NormalizeVersionText(a), nb = NormalizeVersionText(b);
  if (na.empty() || nb.empty()) return false;
  return CompareStr(nb, na) > 0;
}

std::size_t FindTextFrom(std::string_view sub, std::string_view text, std::size_t from) {
  if (from == 0) from = 1;
  if (sub.empty() || from > text.size()) return 0;
  std::size_t at = text.find(sub, from - 1);
  return at == std::string_view::npos ? 0 : at + 1;
}

std::string ReplaceAllText(std::string_view text, std::string_view find, std::string_view replacement) {
  if (find.empty()) return std::string(text);
  return StringReplaceAll(text, find, replacement);
}

std::string StripVsHostSuffix(std::string_view fileName) {
  return ReplaceAllText(fileName, ".vshost", "");
}

void SplitTextAtChars(std::string_view text, TStrings& list, std::string_view charSet, bool keepSeparators,
                      bool addEmpty) {
  std::string whole = keepSeparators ? std::string(text) : Trim(text);
  std::string piece;
  for (char c : whole) {
    if (charSet.find(c) == std::string_view::npos) {
      piece += c;
      continue;
    }
    if (keepSeparators)
      piece += c;
    else
      piece = Trim(piece);
    if (!piece.empty() || addEmpty) list.Add(piece);
    piece.clear();
  }
  if (!keepSeparators) piece = Trim(piece);
  if (!piece.empty()) list.Add(piece);
}

void SplitTrimmedAtChars(std::string_view charSet, std::string_view text, TStrings& list) {
  std::size_t i = 0;
  while (i < text.size() && charSet.find(text[i]) != std::string_view::npos) ++i;
  if (i >= text.size()) return;
  std::string piece;
  for (; i < text.size(); ++i) {
    if (charSet.find(text[i]) == std::string_view::npos) {
      piece += text[i];
      continue;
    }
    list.Add(Trim(piece));
    piece.clear();
  }
  std::string last = Trim(piece);
  if (!last.empty()) list.Add(last);
}

std::size_t EncodeUtf8Buffer(char* destination, std::size_t capacity, const char16_t* source, std::size_t count) {
  if (!source) return 0;
  if (!destination) {
    std::size_t need = 0;
    for (std::size_t i = 0; i < count; ++i) need += source[i] < 0x80 ? 1 : source[i] < 0x800 ? 2 : 3;
    return need + 1;
  }
  if (capacity == 0) return 0;
  std::size_t out = 0;
  const std::size_t limit = capacity - 1;
  for (std::size_t i = 0; i < count; ++i) {
    unsigned u = source[i];
    std::size_t len = u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
    if (out + len > limit) break;
    if (len == 1) {
      destination[out++] = static_cast<char>(u);
    } else if (len == 2) {
      destination[out++] = static_cast<char>(0xC0 | (u >> 6));
      destination[out++] = static_cast<char>(0x80 | (u & 0x3F));
    } else {
      destination[out++] = static_cast<char>(0xE0 | (u >> 12));
      destination[out++] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      destination[out++] = static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  destination[out] = '\0';
  return out + 1;
}

std::string EncodeUtf8Text(std::string_view ansiText) {
  if (ansiText.empty()) return {};
  std::u16string wide = AnsiToWide(ansiText);
  if (wide.empty()) return {};
  std::string buf(wide.size() * 3 + 1, '\0');
  std::size_t n = EncodeUtf8Buffer(buf.data(), buf.size(), wide.data(), wide.size());
  if (n == 0) return {};
  buf.resize(n - 1);
  return buf;
}

std::string& PrepareText(std::string& text) {
  return text;
}

// --- Percent variables ---------------------------------------------------------------------------
std::string GetEnvironmentText(const std::string& name) {
  std::string value;
  if (GetCoreSystemApi().GetEnvironment(name, value) && !value.empty()) return value;
  if (SameText(name, "date")) return GetCoreSystemApi().CurrentDateText();
  if (SameText(name, "time")) return GetCoreSystemApi().CurrentTimeText();
  if (SameText(name, "cd")) return GetCoreSystemApi().CurrentDirectory();
  return {};
}

std::string ExpandPercentVariables(std::string_view source) {
  std::string text(source);
  std::size_t a = 0;  // 0-based
  while (a < text.size()) {
    if (text[a] != '%') {
      ++a;
      continue;
    }
    std::size_t i = a + 1;
    while (i + 1 < text.size() && IsVariableNameChar(text[i])) ++i;
    if (i < text.size() && text[i] == '%') {
      std::string value = GetEnvironmentText(text.substr(a + 1, i - a - 1));
      text.replace(a, i - a + 1, value);
      a += value.size();
    } else {
      a = i + 1;
    }
  }
  return text;
}

// --- Folders and files ---------------------------------------------------------------------------
std::string GetExeFileName() {
  return GetCoreSystemApi().ExeFileName();
}

std::string GetAppDataFolder() {
  std::string folder = GetCoreSystemApi().ShellAppDataFolder();
  if (folder.empty()) GetCoreSystemApi().GetEnvironment("AppData", folder);
  if (folder.empty()) folder = "\\";
  return PrepareText(folder);
}

std::string GetVantorDataFolder() {
  return GetAppDataFolder() + "\\VantorLog";
}

std::string GetDataFolder() {
  if (GetCoreSystemApi().IsWin9x()) return GetCoreSystemApi().WindowsFolder();
  return GetVantorDataFolder();
}

std::string AddTrailingBackslash(std::string_view folder) {
  std::string s(folder);
  if (s.empty() || s.back() != '\\') s += '\\';
  return s;
}

std::string ExpandLongPathNameWith(std::string_view path,
                                   const std::function<std::string(const std::string&)>& makeAbsolute,
                                   const std::function<bool(const std::string&, std::string&)>& findLongName) {
  if (path.find('~') == std::string_view::npos) return std::string(path);
  std::string full = makeAbsolute ? makeAbsolute(std::string(path)) : std::string(path);
  if (full.empty()) return std::string(path);
  // The drive part and the separator after it.
  std::size_t start = 0;
  if (full.size() >= 2 && full[1] == ':') {
    start = 2;
    if (start < full.size() && (full[start] == '\\' || full[start] == '/')) ++start;
  } else if (full.size() >= 2 && full[0] == '\\' && full[1] == '\\') {
    // \\server\share\ : two components belong to the drive part.
    std::size_t pos = 2;
    for (int part = 0; part < 2 && pos <= full.size(); ++part) {
      std::size_t sep = full.find('\\', pos);
      pos = sep == std::string::npos ? full.size() : sep + 1;
    }
    start = std::min(pos, full.size());
  }
  std::string result = full.substr(0, start);
  std::size_t pos = start;
  while (pos < full.size()) {
    std::size_t sep = full.find_first_of("\\/", pos);
    const std::string component = full.substr(pos, sep == std::string::npos ? std::string::npos : sep - pos);
    std::string longName;
    if (component.empty() || !findLongName || !findLongName(result + component, longName) || longName.empty()) {
      result += full.substr(pos);
      return result;
    }
    result += longName;
    if (sep == std::string::npos) break;
    result += full[sep];
    pos = sep + 1;
  }
  return result;
}

std::string DropTrailingBackslash(std::string_view path) {
  std::string s(path);
  if (!s.empty() && s.back() == '\\') s.pop_back();
  return s;
}

bool IsExistingFolder(const std::string& path) {
  return GetCoreSystemApi().IsExistingFolder(path);
}

bool ForceDirectoryPath(std::string_view pathIn) {
  std::string path = ExpandPercentVariables(DropTrailingBackslash(pathIn));
  if (path.empty()) return false;
  if (path.size() < 3 || IsExistingFolder(path)) return true;
  std::string parent = ExtractFileDir(path);
  if (parent == path) return true;
  return ForceDirectoryPath(parent) && GetCoreSystemApi().CreateFolder(path);
}

bool CanUseFile(const std::string& fileName, bool readOnly) {
  return readOnly ? GetCoreSystemApi().CanOpenForReading(fileName) : GetCoreSystemApi().CanOpenForWriting(fileName);
}

namespace {
bool EnsureFolder(const std::string& folder) {
  return IsExistingFolder(folder) || GetCoreSystemApi().CreateFolder(folder);
}
}  // namespace

bool ResolveWritableFile(std::string& fileName, bool useExeSubfolder, bool readOnly) {
  fileName = ExpandPercentVariables(fileName);
  if (CanUseFile(fileName, readOnly)) return true;
  std::string folder = GetVantorDataFolder();
  if (!EnsureFolder(folder)) return false;
  if (useExeSubfolder) {
    folder += "\\" + ChangeFileExt(ExtractFileName(GetExeFileName()), "");
    if (!EnsureFolder(folder)) return false;
  }
  std::string candidate = folder + "\\" + ExtractFileName(fileName);
  if (!CanUseFile(candidate, readOnly)) return false;
  fileName = candidate;
  return true;
}

// --- IDE mode and guarded steps ------------------------------------------------------------------
bool IsHostedByIde() {
  return g_hostedByIde;
}
void SetHostedByIde(bool value) {
  g_hostedByIde = value;
}
bool IsIdeHostExecutable() {
  return UpperCase(ExtractFileName(GetExeFileName())) == kIdeHostExecutable;
}

void SetGuardedStepErrorHook(TErrorHook hook) {
  g_errorHook = hook;
}
TErrorHook GuardedStepErrorHook() {
  return g_errorHook;
}

void RunGuardedStep(TGuardedStep step, const char* stepName) {
  try {
    step();
  } catch (const EIgnoreException&) {
    throw;
  } catch (const Exception& e) {
    if (g_errorHook) {
      g_errorHook(Format("%s (Address: %s)", stepName,
                         IntToHex(reinterpret_cast<std::uintptr_t>(reinterpret_cast<void*>(step)), 8)));
      Abort();
    }
    std::string message = e.Message;
    PrepareText(message);
    throw Exception(Format("Critical error at: \"%s\"\r\nError: \"%s\".", stepName, message));
  }
}

namespace {
void ECoreInitStep() {
  SetHostedByIde(IsIdeHostExecutable());
}
void ECoreDoneStep() {}
}  // namespace

void InitECore() {
  if (g_ecoreInits++ == 0) RunGuardedStep(ECoreInitStep, "ECore.Init");
}

void DoneECore() {
  if (g_ecoreInits == 0) return;
  if (--g_ecoreInits == 0) RunGuardedStep(ECoreDoneStep, "ECore.Done");
}

// --- Exception filters ---------------------------------------------------------------------------
TExceptionIdentity IdentifyException(const std::exception_ptr& error) {
  TExceptionIdentity id;
  if (!error) return id;
  try {
    std::rethrow_exception(error);
  } catch (const TActiveXException& e) {
    id.ClassChain = e.ClassNameChain();
    id.IsActiveX = true;
    id.ActiveXClassNames = e.OriginalClassNames();
  } catch (const Exception& e) {
    id.ClassChain = e.ClassNameChain();
  } catch (...) {
    const std::type_info* type = abi::__cxa_current_exception_type();
    if (type) {
      int status = 0;
      std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type->name(), nullptr, nullptr, &status),
                                                  std::free);
      id.ClassChain.push_back(status == 0 && name ? name.get() : type->name());
    }
  }
  return id;
}

void TVantorExceptionsFilters::FreeAll() {
  while (Count() > 0) {
    delete GetFilter(0);
    TList::Delete(0);
  }
}

void TVantorExceptionsFilters::Destroy() {
  FreeAll();
  inherited::Destroy();
}

void TVantorExceptionsFilters::Changed() {
  if (owner_) owner_->Changed();
}

int TVantorExceptionsFilters::AddFilter(TVantorExceptionFilter* filter) {
  int index = Add(filter);
  Changed();
  return index;
}

void TVantorExceptionsFilters::DeleteFilter(int index) {
  TVantorExceptionFilter* filter = GetFilter(index);
  TList::Delete(index);
  delete filter;
  Changed();
}

void TVantorExceptionsFilters::ClearFilters() {
  FreeAll();
  Changed();
}

int TVantorExceptionsFilters::FindMatchingExceptionFilter(const TExceptionIdentity& exception, bool handled) const {
  for (int i = 0; i < Count(); ++i) {
    const TVantorExceptionFilter* f = GetFilter(i);
    if (!f->Enabled) continue;
    if (exception.IsActiveX) {
      for (const std::string& name : exception.ActiveXClassNames)
        if (name == f->ExceptionClass) return i;
      continue;
    }
    bool applies = f->AppliesTo == 0 || (f->AppliesTo == 1 && handled) || (f->AppliesTo == 2 && !handled);
    if (!applies) continue;
    std::string wanted = Trim(f->ExceptionClass);
    for (const std::string& name : exception.ClassChain)
      if (SameText(name, wanted)) return i;
  }
  return -1;
}

void TVantorExceptionsFilters::CopyFrom(const TVantorExceptionsFilters& other) {
  if (&other == this) return;
  FreeAll();
  for (int i = 0; i < other.Count(); ++i) Add(new TVantorExceptionFilter(*other.GetFilter(i)));
  Changed();
}

// --- Option strings and fields -------------------------------------------------------------------
namespace {

std::uint8_t ReadByte(TStream& s) {
  return s.ReadU8();
}
std::uint16_t ReadWord(TStream& s) {
  return s.ReadU16();
}
std::int32_t ReadInt(TStream& s) {
  return static_cast<std::int32_t>(s.ReadU32());
}
void WriteInt(TStream& s, std::int32_t v) {
  s.WriteU32(static_cast<std::uint32_t>(v));
}
}  // namespace

std::uint16_t OptionStreamVersion() {
  return g_optionStreamVersion;
}
void SetOptionStreamVersion(std::uint16_t version) {
  g_optionStreamVersion = version;
}

void WriteOptionString(TStream& stream, std::string_view text) {
  if (text.size() > 1) {
    std::size_t firstBreak = text.find("\r\n");
    if (firstBreak != std::string_view::npos && firstBreak == text.size() - 2) text.remove_suffix(2);
  }
  std::string bytes(text);
  for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kOptionKey);
  WriteInt(stream, static_cast<std::int32_t>(bytes.size()));
  stream.WriteBytes(bytes);
}

std::string ReadOptionString(TStream& stream) {
  std::int32_t n = ReadInt(stream);
  if (n <= 0) return {};
  std::int64_t left = stream.Size() - stream.Position();
  if (n > left) throw EReadError("Stream read error");
  std::string bytes = stream.ReadBytes(n);
  for (char& c : bytes) c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kOptionKey);
  return bytes;
}

std::string ReportFieldsToBits(const std::uint8_t (&fields)[6]) {
  std::string bits(48, '0');
  for (int k = 0; k < 48; ++k)
    if (fields[k / 8] & (1u << (k % 8))) bits[static_cast<std::size_t>(k)] = '1';
  return bits;
}

void BitsToReportFields(std::string_view bits, std::uint8_t (&fields)[6]) {
  for (std::size_t k = 0; k < 48 && k < bits.size(); ++k)
    if (bits[k] == '1') fields[k / 8] = static_cast<std::uint8_t>(fields[k / 8] | (1u << (k % 8)));
}

// --- Module options ------------------------------------------------------------------------------
const char* const kDefaultHtmlTemplate =
    "<html>\r\n"
    "  <head>\r\n"
    "  </head>\r\n"
    "  <body TopMargin=10 LeftMargin=10>\r\n"
    "    <table width=\"100%\" border=\"0\">\r\n"
    "      <tr>\r\n"
    "        <td nowrap>\r\n"
    "          <font face=\"Lucida Console, Courier\" size=\"2\">\r\n"
    "            <%HTML_TAG%>\r\n"
    "          </font>\r\n"
    "        </td>\r\n"
    "      </tr>\r\n"
    "    </table>\r\n"
    "  </body>\r\n"
    "</html>";

TVantorModuleOptions::TVantorModuleOptions(const std::string& moduleName)
    : fOwnerModuleName(moduleName),
      fOwnerModuleHandle(moduleName.empty() ? 0 : GetCoreSystemApi().ModuleHandleOf(moduleName)),
      fFilterList(new TVantorExceptionsFilters(this)),
      fTexts(kCustomTextCount) {
  TVantorModuleOptions::SetDefaults();
  fUpdateDepth = 0;
}

void TVantorModuleOptions::Destroy() {
  BeginUpdate();
  FreeAndNil(fFilterList);
  inherited::Destroy();
}

void TVantorModuleOptions::Changed() {
  if (fUpdateDepth > 0) return;
  if (fOwnerModuleHandle && fOwnerModuleHandle == LibraryModuleHandle()) PublishOptions();
}

void TVantorModuleOptions::SetActiveFlag(bool value) {
  fActiveFlag = value;
  Changed();
}

void TVantorModuleOptions::SetFreezeCheck(bool value) {
  fFreezeCheck = value;
  Changed();
}

void TVantorModuleOptions::SetMaxLoggedErrors(std::int32_t value) {
  fMaxLoggedErrors = value == 0 ? 1 : value;
  Changed();
}

void TVantorModuleOptions::SetReportFields(const std::uint8_t (&fields)[6]) {
  for (int i = 0; i < 6; ++i) fReportFields[i] = fields[i];
  Changed();
}

std::string TVantorModuleOptions::GetCustomText(int index) const {
  return ExpandPercentVariables(fTexts.at(static_cast<std::size_t>(index)));
}

void TVantorModuleOptions::SetCustomText(int index, const std::string& text) {
  fTexts.at(static_cast<std::size_t>(index)) = text;
  Changed();
}

void TVantorModuleOptions::SetDefaults() {
  BeginUpdate();
  fMailFrom = kDefaultMailFrom;
  PrepareText(fMailFrom);
  fMailHost.clear();
  fMailUser.clear();
  fMailPass.clear();
  fMailHostPort = 25;
  fProxyHost.clear();
  fProxyUser.clear();
  fProxyPass.clear();
  fProxyHostPort = 8080;
  fTrackerUser.clear();
  fTrackerPass.clear();
  fTrackerAssignee.clear();
  fTrackerProjectName.clear();
  fTrackerCategoryName.clear();
  fTrackerTrialCode.clear();
  fZipPass.clear();
  fBuildStartCommand.clear();
  fBuildSuccessCommand.clear();
  fBuildFailureCommand.clear();
  fCompiledFileFlags = 1;
  fTerminateAction = 2;
  fFreezeCheck = false;
  fFreezeSeconds = 60;
  for (auto& b : fReportFields) b = 0xFF;
  fDialogKind = 2;
  for (int i = 0; i < kCustomTextCount; ++i) {
    fTexts[static_cast<std::size_t>(i)] = kDefaultCustomTexts[i];
    PrepareText(fTexts[static_cast<std::size_t>(i)]);
  }
  fTextSetName = "English";
  PrepareText(fTextSetName);
  fLogEnabled = false;
  fCatchEnabled = true;
  fReportInMailBody = false;
  fWriteLogFile = true;
  fLogFlags = 0x30;
  fSendFlags = 0x51;
  fStartTab = 0;
  fMaxLoggedErrors = 32;
  fTerminateButtonAfter = 3;
  fLogLocation.clear();
  fMailRecipients.clear();
  fMailSubject.clear();
  fMailBody.clear();
  fMailMode = 0;
  fWebMode = 0;
  fExtraFiles.clear();
  fDialogFlags = 0x018F;
  fDialogAutoCloseSeconds = 0;
  fSupportPage.clear();
  fHtmlTemplate = kDefaultHtmlTemplate;
  PrepareText(fHtmlTemplate);
  fCrashAction = 2;
  fCrashCount = 10;
  fCrashMinutes = 1;
  fStackFlags = 15;
  fBehaviourFlags = 0x58;
  fLeakFlags = 0x1E;
  fWebAddress.clear();
  fWebHostPort = 0;
  fWebPass.clear();
  fWebUser.clear();
  fReproduceSteps.clear();
  fActiveFlag = true;
  fFilterList->ClearFilters();
  EndUpdate();
  Changed();
}

void TVantorModuleOptions::Assign(const TVantorModuleOptions* source) {
  if (!source) throw EConvertError("Impossible to assign nil as TVantorModuleOptions.");
  if (source == this) return;
  BeginUpdate();
  try {
    fFilterList->CopyFrom(*source->fFilterList);
    fTexts = source->fTexts;
    SetTextSetName(source->fTextSetName);
    SetLogEnabled(source->fLogEnabled);
    SetWriteLogFile(source->fWriteLogFile);
    SetFreezeCheck(source->fFreezeCheck);
    SetFreezeSeconds(source->fFreezeSeconds);
    SetMailFrom(source->fMailFrom);
    SetMailHost(source->fMailHost);
    SetMailHostPort(source->fMailHostPort);
    SetMailUser(source->fMailUser);
    SetMailPass(source->fMailPass);
    SetStartTab(source->fStartTab);
    SetCatchEnabled(source->fCatchEnabled);
    SetReportInMailBody(source->fReportInMailBody);
    SetTerminateAction(source->fTerminateAction);
    SetLogFlags(source->fLogFlags);
    SetMaxLoggedErrors(source->fMaxLoggedErrors);
    SetTerminateButtonAfter(source->fTerminateButtonAfter);
    SetLogLocation(source->fLogLocation);
    SetMailRecipients(source->fMailRecipients);
    SetMailSubject(source->fMailSubject);
    SetMailBody(source->fMailBody);
    SetMailMode(source->fMailMode);
    SetReportFields(source->fReportFields);
    SetWebMode(source->fWebMode);
    SetWebAddress(source->fWebAddress);
    SetWebUser(source->fWebUser);
    SetWebPass(source->fWebPass);
    SetWebHostPort(source->fWebHostPort);
    SetSendFlags(source->fSendFlags);
    SetExtraFiles(source->fExtraFiles);
    SetDialogFlags(source->fDialogFlags);
    SetDialogAutoCloseSeconds(source->fDialogAutoCloseSeconds);
    SetSupportPage(source->fSupportPage);
    SetHtmlTemplate(source->fHtmlTemplate);
    SetStackFlags(source->fStackFlags);
    SetBehaviourFlags(source->fBehaviourFlags);
    SetCrashAction(source->fCrashAction);
    SetCrashCount(source->fCrashCount);
    SetCrashMinutes(source->fCrashMinutes);
    SetProxyHost(source->fProxyHost);
    SetProxyUser(source->fProxyUser);
    SetProxyPass(source->fProxyPass);
    SetProxyHostPort(source->fProxyHostPort);
    SetTrackerUser(source->fTrackerUser);
    SetTrackerPass(source->fTrackerPass);
    SetTrackerAssignee(source->fTrackerAssignee);
    SetTrackerProjectName(source->fTrackerProjectName);
    SetTrackerCategoryName(source->fTrackerCategoryName);
    SetTrackerTrialCode(source->fTrackerTrialCode);
    SetZipPass(source->fZipPass);
    SetBuildStartCommand(source->fBuildStartCommand);
    SetBuildSuccessCommand(source->fBuildSuccessCommand);
    SetBuildFailureCommand(source->fBuildFailureCommand);
    SetCompiledFileFlags(source->fCompiledFileFlags);
    SetDialogKind(source->fDialogKind);
    fLeakFlags = source->fLeakFlags;
    fReproduceSteps = source->fReproduceSteps;
  } catch (...) {
    EndUpdate();
    Changed();
    throw;
  }
  EndUpdate();
  Changed();
}

void TVantorModuleOptions::SaveToStream(TStream& s) const {
  s.WriteU8(fLogEnabled);
  s.WriteU8(fCatchEnabled);
  s.WriteU8(fLogFlags);
  s.WriteU8(fReportInMailBody);
  s.WriteU8(fWriteLogFile);
  s.WriteU8(fStartTab);
  s.WriteU8(fFreezeCheck);
  WriteInt(s, fFreezeSeconds);
  WriteOptionString(s, fMailFrom);
  WriteOptionString(s, fMailHost);
  s.WriteU16(static_cast<std::uint16_t>(fMailHostPort));
  WriteOptionString(s, fMailUser);
  WriteOptionString(s, fMailPass);
  s.WriteU8(fTerminateAction);
  WriteInt(s, fMaxLoggedErrors);
  WriteInt(s, fTerminateButtonAfter);
  WriteOptionString(s, fMailRecipients);
  WriteOptionString(s, fMailSubject);
  s.WriteU8(fMailMode);
  s.WriteBuffer(fReportFields, 6);
  WriteOptionString(s, fLogLocation);
  s.WriteU8(fWebMode);
  WriteOptionString(s, fWebAddress);
  WriteOptionString(s, fWebUser);
  WriteOptionString(s, fWebPass);
  WriteInt(s, fWebHostPort);
  WriteOptionString(s, fExtraFiles);
  s.WriteU16(fSendFlags);
  s.WriteU16(fDialogFlags);
  WriteInt(s, fDialogAutoCloseSeconds);
  WriteOptionString(s, fSupportPage);
  WriteOptionString(s, fHtmlTemplate);
  s.WriteU8(fStackFlags);
  s.WriteU16(fBehaviourFlags);
  s.WriteU8(fLeakFlags);
  s.WriteU8(fCrashAction);
  WriteInt(s, fCrashCount);
  WriteInt(s, fCrashMinutes);
  s.WriteU8(fCompiledFileFlags);
  s.WriteU8(fDialogKind);
  WriteOptionString(s, fProxyHost);
  WriteOptionString(s, fProxyUser);
  WriteOptionString(s, fProxyPass);
  s.WriteU16(fProxyHostPort);
  WriteOptionString(s, fTrackerUser);
  WriteOptionString(s, fTrackerPass);
  WriteOptionString(s, fTrackerAssignee);
  WriteOptionString(s, fTrackerProjectName);
  WriteOptionString(s, fTrackerCategoryName);
  WriteOptionString(s, fTrackerTrialCode);
  WriteOptionString(s, fZipPass);
  WriteInt(s, fFilterList->Count());
  for (int i = 0; i < fFilterList->Count(); ++i) {
    const TVantorExceptionFilter* f = fFilterList->GetFilter(i);
    s.WriteU8(f->Enabled);
    WriteOptionString(s, f->ExceptionClass);
    WriteOptionString(s, f->ExceptionMessage);
    s.WriteU8(f->AppliesTo);
    s.WriteU8(f->DialogChoice);
    s.WriteU8(f->HandlerKind);
    s.WriteU8(f->ActionAfter);
  }
  WriteOptionString(s, fMailBody);
  for (const std::string& text : fTexts) WriteOptionString(s, text);
  WriteOptionString(s, fTextSetName);
}

void TVantorModuleOptions::SaveToFile(const std::string& fileName) const {
  WithFileStream(fileName, fmCreate, [&](TFileStream& f) { SaveToStream(f); });
}

void TVantorModuleOptions::LoadFromFile(const std::string& fileName) {
  WithFileStream(fileName, fmOpenRead | fmShareDenyWrite, [&](TFileStream& f) { LoadFromStream(f); });
}

void TVantorModuleOptions::LoadFromStream(TStream& stream) {
  BeginUpdate();
  try {
    ReadStream(stream);
  } catch (...) {
    EndUpdate();
    Changed();
    throw;
  }
  EndUpdate();
  Changed();
}

namespace {

// Whether a stream of data version v carries custom text i.
bool StreamHasText(int i, unsigned v) {
  auto in = [i](std::initializer_list<std::pair<int, int>> ranges) {
    for (auto [lo, hi] : ranges)
      if (i >= lo && i <= hi) return true;
    return false;
  };
  if (in({{0, 1}, {3, 8}, {37, 40}, {44, 46}, {49, 50}, {61, 67}, {69, 71}, {78, 80}, {82, 82}, {92, 97}})) return true;
  if (i == 20) return v >= 420;
  if (i == 19) return v >= 421;
  if (in({{9, 10},
          {15, 16},
          {22, 24},
          {47, 48},
          {68, 68},
          {81, 81},
          {110, 112},
          {114, 116},
          {123, 130},
          {132, 132},
          {141, 143}}))
    return v >= 450;
  if (in({{25, 25}, {42, 42}, {72, 77}, {84, 91}, {98, 104}, {131, 131}, {144, 145}})) return v >= 500;
  if (in({{17, 18}})) return v < 500 || v >= 6000;
  return v >= 6000;
}

void SetBit(std::uint16_t& flags, std::uint16_t bit, bool on) {
  flags = static_cast<std::uint16_t>(on ? flags | bit : flags & ~bit);
}

std::string InsertRuns(std::string bits, std::initializer_list<std::pair<int, int>> runs) {
  for (auto [count, position] : runs)
    bits.insert(static_cast<std::size_t>(position - 1), static_cast<std::size_t>(count), '1');
  return bits;
}

}  // namespace

void TVantorModuleOptions::ReadStream(TStream& s) {
  const unsigned v = OptionStreamVersion();
  fLogEnabled = ReadByte(s) != 0;
  fCatchEnabled = ReadByte(s) != 0;
  fLogFlags = ReadByte(s);
  if (v < 500) {
    std::uint8_t shown = ReadByte(s);
    if (v < 450) shown = shown ? 0 : 1;
    if (shown == 0) fDialogKind = 0;
  }
  fReportInMailBody = ReadByte(s) != 0;
  if (v >= 450 && v < 500) {
    SetBit(fSendFlags, 4, ReadByte(s) != 0);
    SetBit(fSendFlags, 0x10, ReadByte(s) != 0);
    SetBit(fSendFlags, 1, ReadByte(s) != 0);
  }
  if (v > 400) {
    fWriteLogFile = ReadByte(s) != 0;
    fStartTab = ReadByte(s);
    if (v < 6000 && fStartTab == 3) fStartTab = 5;
  }
  if (v > 402 && v < 500) SetBit(fDialogFlags, 0x40, ReadByte(s) != 0);
  std::string oldHangMessage;
  if (v >= 420) {
    fFreezeCheck = ReadByte(s) != 0;
    fFreezeSeconds = ReadInt(s);
    if (v < 422) fFreezeSeconds /= 1000;
    if (v < 6000) oldHangMessage = ReadOptionString(s);
    if (v >= 450) fMailFrom = ReadOptionString(s);
    fMailHost = ReadOptionString(s);
  }
  if (v >= 450) fMailHostPort = static_cast<std::int16_t>(ReadWord(s));
  if (v > 420) {
    fMailUser = ReadOptionString(s);
    fMailPass = ReadOptionString(s);
    fTerminateAction = ReadByte(s);
  }
  if (v < 6000 && ReadByte(s) == 0) fTerminateAction = 0;
  fMaxLoggedErrors = ReadInt(s);
  fTerminateButtonAfter = ReadInt(s);
  fMailRecipients = ReadOptionString(s);
  fMailSubject = ReadOptionString(s);
  fMailMode = ReadByte(s);
  if (v < 450 && fMailMode != 0) fMailMode = fMailHost.empty() ? 1 : 2;
  for (auto& b : fReportFields) b = 0;
  if (v >= 6000) {
    s.ReadBuffer(fReportFields, 6);
  } else {
    std::uint8_t old[6] = {};
    s.ReadBuffer(old, v >= 500 ? 5 : 4);
    std::string bits = ReportFieldsToBits(old);
    if (v >= 500)
      bits = InsertRuns(bits, {{1, 6}, {1, 10}, {4, 13}, {4, 23}, {3, 34}, {1, 41}, {1, 48}});
    else
      bits = InsertRuns(bits, {{2, 5}, {1, 10}, {4, 13}, {4, 23}, {6, 31}, {7, 42}});
    BitsToReportFields(bits, fReportFields);
  }
  if (v < 450) ReadByte(s);
  fLogLocation = ReadOptionString(s);
  if (v >= 500) {
    fWebMode = ReadByte(s);
    fWebAddress = ReadOptionString(s);
    fWebUser = ReadOptionString(s);
    fWebPass = ReadOptionString(s);
    fWebHostPort = ReadInt(s);
    fExtraFiles = ReadOptionString(s);
    fSendFlags = ReadWord(s);
    if (v < 6000) fSendFlags = static_cast<std::uint16_t>(fSendFlags & ~0x200);
    fDialogFlags = v < 6000 ? ReadByte(s) : ReadWord(s);
    fDialogAutoCloseSeconds = ReadInt(s);
    fSupportPage = ReadOptionString(s);
    fHtmlTemplate = ReadOptionString(s);
    fStackFlags = ReadByte(s);
    if (v < 6000) fStackFlags = static_cast<std::uint8_t>(fStackFlags | 0x10);
    if (v < 6000) {
      fBehaviourFlags = ReadByte(s);
    } else {
      fBehaviourFlags = ReadWord(s);
      fLeakFlags = ReadByte(s);
    }
    fCrashAction = ReadByte(s);
    fCrashCount = ReadInt(s);
    fCrashMinutes = ReadInt(s);
    if (v >= 6000) {
      fCompiledFileFlags = ReadByte(s);
      fDialogKind = ReadByte(s);
      fProxyHost = ReadOptionString(s);
      fProxyUser = ReadOptionString(s);
      fProxyPass = ReadOptionString(s);
      fProxyHostPort = ReadWord(s);
      fTrackerUser = ReadOptionString(s);
      fTrackerPass = ReadOptionString(s);
      fTrackerAssignee = ReadOptionString(s);
      fTrackerProjectName = ReadOptionString(s);
      fTrackerCategoryName = ReadOptionString(s);
      fTrackerTrialCode = ReadOptionString(s);
      fZipPass = ReadOptionString(s);
    }
  }
  fFilterList->ClearFilters();
  const std::int32_t filters = ReadInt(s);
  for (std::int32_t i = 0; i < filters; ++i) {
    auto filter = std::make_unique<TVantorExceptionFilter>();
    filter->Enabled = v >= 6000 ? ReadByte(s) != 0 : true;
    filter->ExceptionClass = ReadOptionString(s);
    filter->ExceptionMessage = ReadOptionString(s);
    if (v >= 6000) {
      filter->AppliesTo = ReadByte(s);
      filter->DialogChoice = ReadByte(s);
      filter->HandlerKind = ReadByte(s);
      filter->ActionAfter = ReadByte(s);
    } else {
      filter->AppliesTo = 2;
      filter->DialogChoice = filter->ExceptionMessage.empty() ? 0 : 2;
      filter->HandlerKind = 0;
      filter->ActionAfter = 0;
    }
    fFilterList->AddFilter(filter.release());
  }
  fMailBody = ReadOptionString(s);
  for (int i = 0; i < kCustomTextCount; ++i) {
    if (i == 68 && v < 6000) ReadOptionString(s);
    if (StreamHasText(i, v)) fTexts[static_cast<std::size_t>(i)] = ReadOptionString(s);
  }
  if (v >= 6000) fTextSetName = ReadOptionString(s);
  if (!oldHangMessage.empty()) fTexts[156] = oldHangMessage;
}

// --- The log file --------------------------------------------------------------------------------
std::string CleanComputerName() {
  std::string name = GetCoreSystemApi().ComputerName();
  for (char& c : name)
    if (std::string_view("\"*/:<>?\\|").find(c) != std::string_view::npos) c = '_';
  return name;
}

std::string ResolveLogPath(const TVantorModuleOptions& options, const std::string& name) {
  std::string path;
  if (LowerCase(ExtractFileExt(options.LogLocation())) == ".vlf") {
    path = options.LogLocation();
  } else {
    std::string folder = options.LogLocation().empty() ? ExtractFilePath(name) : options.LogLocation();
    path = AddTrailingBackslash(folder) + ExtractFileName(name);
  }
  ForceDirectoryPath(ExtractFileDir(path));
  ResolveWritableFile(path, true, false);
  return path;
}

std::string GetLogFilePath(const TVantorModuleOptions& options, const std::string& nameIn) {
  std::string name = nameIn.empty() ? StripVsHostSuffix(options.OwnerModuleName()) : nameIn;
  name = ChangeFileExt(name, ".vlf");
  std::string path = ResolveLogPath(options, name);
  if (options.LogFlags() & 8) {
    std::string ext = ExtractFileExt(path);
    path = path.substr(0, path.size() - ext.size()) + "_" + CleanComputerName() + ext;
  }
  return path;
}

// --- The exception "object" ----------------------------------------------------------------------
bool TExceptionObjectRecord::DescendsFrom(std::string_view name) const {
  for (const std::string& n : ClassChain)
    if (SameText(n, name)) return true;
  return false;
}

std::vector<std::string> TActiveXException::OriginalClassNames() const {
  std::vector<std::string> names{OriginalClassName};
  names.insert(names.end(), AncestorNames.begin(), AncestorNames.end());
  return names;
}

TExceptionObjectRecord MakeExceptionObjectRecord(const std::exception_ptr& error, std::uintptr_t address) {
  TExceptionObjectRecord record;
  record.Error = error;
  record.Address = address;
  TExceptionIdentity id = IdentifyException(error);
  record.ClassChain = std::move(id.ClassChain);
  record.IsActiveX = id.IsActiveX;
  record.ActiveXClassNames = std::move(id.ActiveXClassNames);
  if (error) {
    try {
      std::rethrow_exception(error);
    } catch (const Exception& e) {
      record.Message = e.Message;
    } catch (const std::exception& e) {
      record.Message = e.what();
    } catch (...) {
    }
  }
  return record;
}

namespace {
std::string DemangledName(const std::type_info& type) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> name(abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
  return status == 0 && name ? std::string(name.get()) : std::string(type.name());
}
}  // namespace

TExceptionObjectRecord DescribeThrownObject(void* object, const std::type_info* type, std::uintptr_t address) {
  TExceptionObjectRecord record;
  record.Address = address;
  if (!type) return record;
  // A handler's type matches the thrown one as a catch clause would, which
  // also adjusts the pointer to the base class part.
  void* asException = object;
  void* asStd = object;
  if (object && typeid(Exception).__do_catch(type, &asException, 1)) {
    const auto* e = static_cast<const Exception*>(asException);
    record.ClassChain = e->ClassNameChain();
    record.Message = e->Message;
    if (const auto* ax = dynamic_cast<const TActiveXException*>(e)) {
      record.IsActiveX = true;
      record.ActiveXClassNames = ax->OriginalClassNames();
    }
  } else {
    record.ClassChain.push_back(DemangledName(*type));
    if (object && typeid(std::exception).__do_catch(type, &asStd, 1))
      record.Message = static_cast<const std::exception*>(asStd)->what();
  }
  return record;
}

bool IsReportableException(const TExceptionObjectRecord* object) {
  return object && !object->ClassChain.empty() && !object->DescendsFrom("EAbort");
}

bool IsLanguageException(const TExceptionObjectRecord* object) {
  return !object || !object->DescendsFrom("EExternal");
}

TExceptionObjectRecord* CloneObjectMemory(const TExceptionObjectRecord* object) {
  return object ? new TExceptionObjectRecord(*object) : nullptr;
}

void FreeObjectClone(TExceptionObjectRecord*& record) {
  delete record;
  record = nullptr;
}

void StoreClassNameText(char (&target)[65], std::string_view className) {
  std::size_t n = std::min<std::size_t>(className.size(), 64);
  std::copy_n(className.data(), n, target);
  target[n] = 0;
}

// --- System facts --------------------------------------------------------------------------------
bool RunningOnWindows95(const TOsVersionFacts& os) {
  return os.Platform == PlatformWin9x && os.Minor < 10;
}
bool RunningOnWindowsNT4(const TOsVersionFacts& os) {
  return os.Platform == PlatformNT && os.Major < 5;
}
bool RunningOnVistaOrLater(const TOsVersionFacts& os) {
  return os.Platform == PlatformNT && os.Major > 5;
}

std::string GetWindowsVersionName(const TOsVersionFacts& os) {
  std::string csd = Trim(os.ServicePack);
  char letter = csd.empty() ? 0 : static_cast<char>(std::toupper(static_cast<unsigned char>(csd[0])));
  bool workstation = os.ProductType == 1;
  std::string name;
  if (os.Platform == PlatformWin9x) {
    if (os.Major == 4 && os.Minor == 0)
      name = letter == 'B' ? "95 OSR 2" : "95";
    else if (os.Major == 4 && os.Minor == 10)
      name = letter == 'A' ? "98 SE" : "98";
    else if (os.Major == 4 && os.Minor == 90)
      name = "ME";
  } else if (os.Platform == PlatformNT) {
    if (os.Major == 4 && os.Minor == 0)
      name = "NT 4.0";
    else if (os.Major == 5 && os.Minor == 0)
      name = "2000";
    else if (os.Major == 5 && os.Minor == 1)
      name = "XP";
    else if (os.Major == 5 && os.Minor == 2)
      name = workstation ? "XP" : "2003";
    else if (os.Major == 6 && os.Minor == 0)
      name = workstation ? "Vista" : "Server 2008";
    else if (os.Major == 6 && os.Minor == 1)
      name = workstation ? "7" : "Server 2008 R2";
  }
  if (name.empty()) name = std::to_string(os.Major) + "." + std::to_string(os.Minor);
  name = "Microsoft Windows " + name;
  if (os.Platform == PlatformNT && os.IsWow64) name += " (64 bit)";
  return name;
}

std::string GetWindowsBuildText(const TOsVersionFacts& os) {
  return std::to_string(os.Platform == PlatformWin9x ? (os.Build & 0xFFFFu) : os.Build);
}

bool IsVersionCompatible(std::uint32_t version) {
  std::uint32_t low = kCurrentDataVersion / 100 * 100;
  return version >= low && version <= low + 100;
}

// --- Text routines -------------------------------------------------------------------------------
std::string TextIfFlag(bool flag, std::string_view text) {
  return flag ? std::string(text) : std::string();
}

std::string CollapseControlChars(std::string_view text) {
  std::string out;
  bool inRun = false;
  for (char ch : text) {
    if (static_cast<unsigned char>(ch) <= 31) {
      if (!inRun) out.push_back(' ');
      inRun = true;
    } else {
      out.push_back(ch);
      inRun = false;
    }
  }
  return out;
}

std::string PadRightToWidth(std::string_view text, std::size_t width) {
  std::string out(text);
  if (out.size() < width) out.append(width - out.size(), ' ');
  return out;
}

std::string FormatElapsedTime(double days) {
  if (!(days > 0)) days = 0;  // negative and NaN durations count as none
  if (days > 1e9) days = 1e9;
  std::uint64_t seconds = static_cast<std::uint64_t>(std::llround(days * 86400.0));
  struct Part {
    std::uint64_t count;
    const char* word;
  };
  const Part parts[] = {
      {seconds / 86400, "day"}, {seconds / 3600 % 24, "hour"}, {seconds / 60 % 60, "minute"}, {seconds % 60, "second"}};
  std::string out;
  for (int i = 0; i < 4; ++i) {
    if (i < 3 && parts[i].count == 0) continue;
    out += std::to_string(parts[i].count) + " " + parts[i].word + (parts[i].count > 1 ? "s" : "");
    if (i < 3) out += ", ";
  }
  return out;
}

std::string EscapeHtmlText(std::string_view text) {
  std::string s = ReplaceAllText(text, "&", "&amp;");
  s = ReplaceAllText(s, "\"", "&quot;");
  s = ReplaceAllText(s, "'", "&#039;");
  s = ReplaceAllText(s, "<", "&lt;");
  s = ReplaceAllText(s, ">", "&gt;");
  s = ReplaceAllText(s, "  ", "&nbsp;&nbsp;");
  return ReplaceAllText(s, "\r\n", "<br>\r\n");
}

std::string EscapeRtfText(std::string_view text) {
  std::string s = ReplaceAllText(text, "\\", "\\\\");
  s = ReplaceAllText(s, "{", "\\{");
  s = ReplaceAllText(s, "}", "\\}");
  return ReplaceAllText(s, "\r\n", "\\par\r\n");
}

// --- Rich-text documents of the detailed dialog ------------------------------------------------------
namespace {
// Colours 1-7 of the table: teal, black, dark grey, blue, red, grey, green.
enum TRtfColour { rcLabel = 1, rcText = 2, rcRule = 3, rcValue = 4, rcTitle = 5, rcComment = 6, rcChars = 7 };

// A run of text in one colour; the text holds no line break.
std::string RtfRun(int colour, std::string_view text) {
  return "\\cf" + std::to_string(colour) + " " + EscapeRtfText(text);
}

std::string RtfBoldRun(int colour, std::string_view text) {
  return "\\cf" + std::to_string(colour) + "\\b " + EscapeRtfText(text) + "\\b0 ";
}

bool IsRuleLine(std::string_view line) {
  return line.find('-') != std::string_view::npos && line.find_first_not_of("- ") == std::string_view::npos;
}

bool IsTitleLine(std::string_view line) {
  const std::string t = Trim(line);
  return !t.empty() && t.back() == ':' && t.find(':') == t.size() - 1;
}

// Each line (CRLF or LF ended) through `format`, joined by paragraph marks.
std::string RtfLines(std::string_view text, const std::function<std::string(std::string_view, std::size_t)>& format) {
  std::string out;
  std::size_t index = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out += format(line, index++);
    if (nl == std::string_view::npos) break;
    out += "\\par\r\n";
    pos = nl + 1;
  }
  return out;
}

std::string RtfDocument(const TRtfFont& font, std::string_view paragraph, const std::string& body) {
  return RtfDocumentHeader(font) + std::string(paragraph) + " " + body + "}";
}

// "EAX: 0012FF40   EDI: 00000000": labels in the text colour, values in the value colour.
std::string RtfRegisterLine(std::string_view line) {
  std::string out;
  std::size_t pos = 0;
  while (pos < line.size()) {
    const std::size_t colon = line.find(':', pos);
    if (colon == std::string_view::npos) {
      out += RtfRun(rcText, line.substr(pos));
      break;
    }
    std::size_t value = line.find_first_not_of(' ', colon + 1);
    if (value == std::string_view::npos) value = line.size();
    out += RtfRun(rcText, line.substr(pos, value - pos));
    std::size_t end = line.find(' ', value);
    if (end == std::string_view::npos) end = line.size();
    if (end > value) out += RtfRun(rcValue, line.substr(value, end - value));
    pos = end;
  }
  return out;
}

// "0012FF40: 00000001   00401000: 55 8B ...  U.." by its fields: addresses,
// the stack value, the bytes and their characters, at the offsets the dump
// writes them (addresses at 0 and 21, the stack value at 10, the bytes from
// 31, the characters from 80). A row of another shape stays plain.
std::string RtfDumpLine(std::string_view line) {
  if (line.size() < 80 || line[8] != ':' || line[29] != ':') return RtfRun(rcText, line);
  return RtfRun(rcLabel, line.substr(0, 8)) + RtfRun(rcText, line.substr(8, 2)) + RtfRun(rcValue, line.substr(10, 8)) +
         RtfRun(rcText, line.substr(18, 3)) + RtfRun(rcLabel, line.substr(21, 8)) +
         RtfRun(rcText, line.substr(29, 51)) + RtfRun(rcChars, line.substr(80));
}
}  // namespace

std::string RtfDocumentHeader(const TRtfFont& font) {
  // A font name ends at ";" in the font table.
  std::string name;
  for (char c : font.Name)
    if (c != ';' && static_cast<unsigned char>(c) >= 32) name += c;
  return "{\\rtf1\\ansi\\ansicpg1252\\deff0\\deflang1040{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset" +
         std::to_string(font.Charset) + " " + EscapeRtfText(name) +
         ";}}\r\n"
         "{\\colortbl "
         ";\\red0\\green100\\blue100;\\red0\\green0\\blue0;\\red40\\green40\\blue40;\\red0\\green0\\blue160;"
         "\\red160\\green0\\blue0;\\red80\\green80\\blue80;\\red0\\green100\\blue0;}\r\n"
         "\\f0\\fs" +
         std::to_string(2 * font.Size);
}

std::string BuildGeneralRtf(std::string_view text, const TRtfFont& font) {
  return RtfDocument(font, "", RtfLines(text, [](std::string_view line, std::size_t index) {
                       if (index == 0) return RtfBoldRun(rcText, line);
                       if (IsRuleLine(line)) return RtfRun(rcRule, line);
                       if (IsTitleLine(line)) return RtfRun(rcTitle, line);
                       const std::size_t colon = line.find(':');
                       // Table rows ("|...|") may hold times; they stay plain.
                       if (colon != std::string_view::npos && line.front() != '|' &&
                           !Trim(line.substr(0, colon)).empty() && !Trim(line.substr(colon + 1)).empty())
                         return RtfRun(rcLabel, line.substr(0, colon)) + RtfRun(rcText, ":") +
                                RtfRun(rcValue, line.substr(colon + 1));
                       return RtfRun(rcText, line);
                     }));
}

std::string BuildAssemblerRtf(std::string_view text, const TRtfFont& font) {
  return RtfDocument(font, "", RtfLines(text, [](std::string_view line, std::size_t) {
                       if (!line.empty() && line.front() == ';')
                         return RtfRun(rcTitle, ";") + RtfBoldRun(rcValue, line.substr(1));
                       const std::size_t semicolon = line.find(';');
                       if (semicolon == std::string_view::npos) return RtfRun(rcText, line);
                       return RtfRun(rcText, line.substr(0, semicolon)) + RtfRun(rcComment, line.substr(semicolon));
                     }));
}

std::string BuildCpuRtf(std::string_view text, const TRtfFont& font, int rulePixelWidth) {
  // The register lines are the third to sixth, the dump rows start at the
  // tenth. The fields are found in each line rather than at fixed columns:
  // a register line holds two 13-character "EAX: 0012FF40" fields three
  // blanks apart, not four side by side.
  const std::string paragraph = rulePixelWidth > 0 ? "\\pard\\tx" + std::to_string(15 * rulePixelWidth) : "";
  return RtfDocument(font, paragraph, RtfLines(text, [](std::string_view line, std::size_t index) {
                       if (index >= 2 && index <= 5) return RtfRegisterLine(line);
                       if (index >= 9) return RtfDumpLine(line);
                       if (IsRuleLine(line)) return RtfRun(rcRule, line);
                       if (IsTitleLine(line) || (index == 7 && !line.empty())) return RtfRun(rcTitle, line);
                       return RtfRun(rcText, line);
                     }));
}

namespace {
// The calendar fields of a date, false for one outside the years 1-9999.
bool SplitDateTime(double dateTime, int& year, int& month, int& day, int& hour, int& minute, int& second,
                   int& weekDay) {
  if (!(dateTime > -693593.0 && dateTime < 2958466.0)) return false;
  // Whole seconds, rounded, so that 23:59:59.6 becomes the next day's midnight.
  double whole = std::floor(dateTime);
  long long secs = std::llround((dateTime - whole) * 86400.0);
  long long dayNumber = static_cast<long long>(whole) + secs / 86400;
  secs %= 86400;
  int msec = 0;
  DecodeDate(static_cast<double>(dayNumber), year, month, day);
  DecodeTime(static_cast<double>(secs) / 86400.0 + 1e-9, hour, minute, second, msec);
  // Day zero (30 December 1899) was a Saturday.
  weekDay = static_cast<int>(((dayNumber % 7) + 7 + 6) % 7);  // 0 Sunday
  return true;
}
}  // namespace

std::string FormatMailDate(double dateTime, std::int32_t biasMinutes) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int y, mo, d, h, mi, s, wd;
  if (!SplitDateTime(dateTime, y, mo, d, h, mi, s, wd)) return {};
  // The zone from the real bias in minutes: +05:30 is "+0530".
  std::int32_t bias = std::clamp<std::int32_t>(biasMinutes, -1439, 1439);
  unsigned magnitude = static_cast<unsigned>(bias < 0 ? -bias : bias);
  char zone[16];
  std::snprintf(zone, sizeof zone, "%c%02u%02u", bias < 0 ? '-' : '+', (magnitude / 60) % 100, magnitude % 60);
  char out[96];
  std::snprintf(out, sizeof out, "%s, %d %s %d %02d:%02d:%02d %s", kDays[wd], d, kMonths[mo - 1], y, h, mi, s, zone);
  return out;
}

std::string FormatReportDateTime(double dateTime) {
  int y, mo, d, h, mi, s, wd;
  if (!SplitDateTime(dateTime, y, mo, d, h, mi, s, wd)) return {};
  char out[32];
  std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
  return out;
}

// --- The library's own warnings and failures -----------------------------------------------------
namespace {

class NullLibraryOutput : public LibraryOutput {
 public:
  void DebugLine(const std::string&) override {}
  void WarningBox(const std::string&, const std::string&) override {}
  bool ErrorDisplayEnabled() override { return false; }
};

LibraryOutput* gLibraryOutput = nullptr;
bool gWarningBoxes = false;
std::mutex gWarningLock;
TVantorLogErrorCode gLastErrorCode = eeNone;
std::string gLastErrorMessage;
std::atomic<int> gInternalFailureRunning{0};
TInternalFailureDetailsProc gFailureDetails = nullptr;

LibraryOutput& Output() {
  static NullLibraryOutput none;
  return gLibraryOutput ? *gLibraryOutput : none;
}

std::string Hex8(std::uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%08llX", static_cast<unsigned long long>(value));
  return buf;
}

// The message of a framework or standard exception, and whether it had one.
bool ExceptionMessageOf(const std::exception_ptr& error, std::string& message, std::string& className) {
  if (!error) return false;
  try {
    std::rethrow_exception(error);
  } catch (const Exception& e) {
    message = e.Message;
    className = e.ClassName();
    return true;
  } catch (...) {
  }
  return false;
}

}  // namespace

const char* ErrorCodeName(TVantorLogErrorCode code) {
  static const char* const kNames[] = {
      "eeNone",           "eeShowError",    "eeLogError",      "eeEmailMAPIError", "eeEmailShellError",
      "eeEmailSMTPError", "eeWebHTTPError", "eeWebHTTPSError", "eeWebFTPError",    "eeWebTrakerError"};
  return code <= eeWebTrakerError ? kNames[code] : "eeNone";
}

TVantorLogErrorCode LastLibraryErrorCode() {
  std::lock_guard<std::mutex> guard(gWarningLock);
  return gLastErrorCode;
}

std::string LastLibraryErrorMessage() {
  std::lock_guard<std::mutex> guard(gWarningLock);
  return gLastErrorMessage;
}

void SetLibraryOutput(LibraryOutput* output) {
  gLibraryOutput = output;
}

LibraryOutput& CurrentLibraryOutput() {
  return Output();
}

void SetWarningBoxesEnabled(bool value) {
  gWarningBoxes = value;
}

void ReportLibraryWarning(TVantorLogErrorCode code, const std::string& message) {
  {
    std::lock_guard<std::mutex> guard(gWarningLock);
    gLastErrorCode = code;
    gLastErrorMessage = message;
  }
  Output().DebugLine(std::string("[WARNING] - Code: ") + ErrorCodeName(code) +
                     " - Address: " + Hex8(CurrentExceptionInfo().Address) + " - Message: \"" + message + "\"");
  if (code >= eeEmailSMTPError && code <= eeWebTrakerError && gWarningBoxes && Output().ErrorDisplayEnabled())
    Output().WarningBox(message, "Error.");
}

void ClearLibraryWarning() {
  std::lock_guard<std::mutex> guard(gWarningLock);
  gLastErrorCode = eeNone;
  gLastErrorMessage.clear();
}

void ReportExceptionWarning(TVantorLogErrorCode code, const std::string& context, const std::exception_ptr& error) {
  std::string message, className;
  if (ExceptionMessageOf(error, message, className))
    ReportLibraryWarning(code, "[" + context + "] " + message);
  else
    ReportLibraryWarning(code, "General '" + context + "' error.");
}

bool InternalFailureRunning() {
  return gInternalFailureRunning.load() != 0;
}

void ReportInternalFailure(const std::string& section, const std::exception_ptr& error, bool debuggerAttached) {
  ++gInternalFailureRunning;
  struct Done {
    ~Done() { --gInternalFailureRunning; }
  } done;
  std::string message, className;
  bool known = ExceptionMessageOf(error, message, className);
  if (known && (className == "EAbort" || className == "EVantorSocketError")) return;
  if (!IsHostedByIde() && !debuggerAttached) return;
  if (!known) message = "General internal error.";
  std::uintptr_t address = CurrentExceptionInfo().Address;
  // A language exception's address is where its raise returns to; the CALL
  // starts 5 bytes before. A fault's address is the faulting instruction.
  if (known && address >= 5) {
    const TExceptionObjectRecord failure = MakeExceptionObjectRecord(error, address);
    if (IsLanguageException(&failure)) address -= 5;
  }
  Output().DebugLine("[ERROR] - Section: " + section + " - Address: " + Hex8(address) + " - Message: \"" + message +
                     "\"");
  if (!gFailureDetails) return;
  try {
    TInternalFailureFacts facts;
    facts.Section = section;
    if (auto last = CurrentExceptionInfo().Object) facts.LastExceptionClass = last->ClassName();
    facts.Where.Address = address;
    facts.ExceptionClass = className;
    facts.Message = message;
    gFailureDetails(facts);
  } catch (...) {
    // The library's own failure report never fails the program.
  }
}

std::string FormatInternalFailureText(const TInternalFailureFacts& f) {
  auto located = [](const TInternalFailureLocation& l) {
    return "- " + l.UnitName + " - " + l.ClassName + " - " + l.ProcedureName + " - " + std::to_string(l.ProcedureLine) +
           "[" + std::to_string(l.Line) + "]";
  };
  std::string dump;
  for (std::uint8_t b : f.Dump) dump += "$" + IntToHex(b, 2) + " ";
  const TInternalFailureLocation& w = f.Where;
  std::string where = "$" + Hex8(w.Address) + " - [" + Hex8(w.Module) + "] " + w.ModuleFileName + " " + located(w);
  std::string stack;
  for (std::size_t i = 0; i < f.CallStack.size(); ++i) {
    const TInternalFailureLocation& e = f.CallStack[i];
    if (i) stack += std::string(12, ' ');
    stack += IntToHex(i, 2) + " $" + Hex8(e.Address) + " - [" + Hex8(e.Module) + "] " + e.ModuleFileName + " " +
             (e.HasLine ? located(e) : std::string()) + "\r\n";
  }
  return "Version   : " + std::string(kLibraryVersionText) + "\r\nDate      : " + f.DateText +
         "\r\nOS        : " + f.OsName + "\r\nRAD       : " + kLibraryRuntimeText + "\r\nDump      : " + dump +
         "\r\nSection   : " + f.Section + "\r\nLastExcept: " + f.LastExceptionClass + "\r\nAddress   : " + where +
         "\r\nException : " + f.ExceptionClass + "\r\nMessage   : " + f.Message + "\r\nCall Stack: " + stack;
}

void SetInternalFailureDetailsProc(TInternalFailureDetailsProc proc) {
  gFailureDetails = proc;
}

std::string InternalFailureQuestion(const std::string& message) {
  return "Error: '" + message +
         "'\r\n\r\nThis is an internal VantorLog bug.\r\nDo you want to send the bug information to VantorLog "
         "author?";
}

std::string InternalFailureSendManually(const std::string& logFileName) {
  return "Cannot connect with your email client.\r\nSend manually the \"" + logFileName + "\" file to the " +
         kLibrarySupportAddress + " email address, after click on OK button to close this box.";
}

std::string CutNtPathPrefix(std::string_view fileName) {
  const std::size_t question = fileName.find('?');
  if (question == std::string_view::npos) return std::string(fileName);
  const std::size_t colon = fileName.find(':', question);
  if (colon == std::string_view::npos || colon == 0) return std::string(fileName);
  return std::string(fileName.substr(colon - 1));
}

// --- The current exception -----------------------------------------------------------------------
namespace {
std::mutex gCurrentLock;
TCurrentExceptionInfo gCurrent;
std::string gMessageOverride;
std::string gLastExceptionMessage;

std::mutex gSnapshotLock;
TStackSnapshot gSnapshot;
}  // namespace

void SetCurrentExceptionInfo(std::shared_ptr<const TExceptionObjectRecord> object, std::uintptr_t address, bool flag) {
  std::lock_guard<std::mutex> guard(gCurrentLock);
  if (object) gCurrent.LastObject = object;
  if (address) gCurrent.LastAddress = address;
  gCurrent.Object = std::move(object);
  gCurrent.Address = address;
  gCurrent.Flag = flag;
}

std::shared_ptr<const TExceptionObjectRecord> NoteExceptionObject(std::shared_ptr<const TExceptionObjectRecord> object,
                                                                  std::uintptr_t address, bool flag) {
  SetCurrentExceptionInfo(object, address, flag);
  return object;
}

TCurrentExceptionInfo CurrentExceptionInfo() {
  std::lock_guard<std::mutex> guard(gCurrentLock);
  return gCurrent;
}

void ClearCurrentExceptionInfo() {
  std::lock_guard<std::mutex> guard(gCurrentLock);
  gCurrent = {};
}

void ReleaseExceptionState() {
  {
    std::lock_guard<std::mutex> guard(gCurrentLock);
    gCurrent = {};
    std::string().swap(gMessageOverride);
    std::string().swap(gLastExceptionMessage);
  }
  std::lock_guard<std::mutex> guard(gSnapshotLock);
  gSnapshot = {};
}

void SetMessageOverride(const std::string& text) {
  std::lock_guard<std::mutex> guard(gCurrentLock);
  gMessageOverride = text;
}

void SetLastExceptionMessage(const std::string& text) {
  std::lock_guard<std::mutex> guard(gCurrentLock);
  gLastExceptionMessage = text;
}

std::string GetShownExceptionMessage() {
  std::lock_guard<std::mutex> guard(gCurrentLock);
  return gMessageOverride.empty() ? gLastExceptionMessage : gMessageOverride;
}

// --- The raise-time stack snapshot ---------------------------------------------------------------
void SnapshotRaisingThreadStack(MemoryReader& memory, const TStackSnapshotFacts& facts, std::uint64_t address,
                                bool isReturnAddress) {
  std::lock_guard<std::mutex> guard(gSnapshotLock);
  std::uint64_t start = facts.SavedStackPointer;
  if (start < facts.StackLimit || start > facts.StackTop) start = facts.CurrentStackPointer;
  std::uint64_t size = facts.StackTop > start ? facts.StackTop - start : 0;
  if (size > kMaxStackSnapshot) size = kMaxStackSnapshot;
  gSnapshot.ThreadId = facts.ThreadId;
  gSnapshot.Address = isReturnAddress && address != 0 ? address - 5 : address;
  gSnapshot.Start = start;
  gSnapshot.Bytes.resize(static_cast<std::size_t>(size));
  gSnapshot.Size = static_cast<std::uint32_t>(size);
  if (size != 0 && !memory.Read(start, gSnapshot.Bytes.data(), static_cast<std::size_t>(size))) {
    gSnapshot.Size = 0;
    gSnapshot.Bytes.clear();
  }
}

TStackSnapshot CurrentStackSnapshot() {
  std::lock_guard<std::mutex> guard(gSnapshotLock);
  return gSnapshot;
}

void ReserveStackSnapshot() {
  std::lock_guard<std::mutex> guard(gSnapshotLock);
  gSnapshot.Bytes.reserve(kMaxStackSnapshot);
}
