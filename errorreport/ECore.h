// The library's core unit: text and version routines, %NAME% variables, the
// per-user data folder and the placing of files there, the log file's name,
// the guarded runner of each unit's start-up and shut-down step, the module
// options (TVantorModuleOptions) with their option stream, and the exception
// filters (TVantorExceptionsFilters). The system is reached through
// CoreSystemApi; the Win32 half installs its implementation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

#include "EHook.h"
#include "Exceptions.h"
#include "Lists.h"
#include "Modules.h"
#include "Object.h"
#include "Streams.h"
#include "Strings.h"
#include "VantorLogConsts.h"

// Passes through a guarded step unchanged.
FW_EXCEPTION(EIgnoreException, Exception);

// --- The system, as the core sees it --------------------------------------------------------------

class CoreSystemApi {
 public:
  virtual ~CoreSystemApi() = default;
  // The variable's value; false when it is missing.
  virtual bool GetEnvironment(const std::string& name, std::string& value) = 0;
  virtual std::string CurrentDateText() = 0;
  virtual std::string CurrentTimeText() = 0;
  virtual std::string CurrentDirectory() = 0;
  virtual std::string ExeFileName() = 0;
  // The per-user application-data folder from the shell; empty when unknown.
  virtual std::string ShellAppDataFolder() = 0;
  virtual std::string WindowsFolder() = 0;
  virtual bool IsWin9x() = 0;
  virtual bool IsExistingFolder(const std::string& path) = 0;
  virtual bool CreateFolder(const std::string& path) = 0;
  // Opens for reading and writing (shared), creating the file when missing;
  // a file made only for the test is deleted again.
  virtual bool CanOpenForWriting(const std::string& fileName) = 0;
  virtual bool CanOpenForReading(const std::string& fileName) = 0;
  virtual std::string ComputerName() = 0;
  // The handle of a loaded module by file name (0 when not loaded or empty).
  virtual ModuleHandle ModuleHandleOf(const std::string& name) = 0;
};

CoreSystemApi& GetCoreSystemApi();
// Installs another implementation (null restores the portable one); the caller keeps ownership.
void SetCoreSystemApi(CoreSystemApi* api);

// The module that holds this copy of the library (set by the Win32 start-up).
ModuleHandle LibraryModuleHandle();
void SetLibraryModuleHandle(ModuleHandle module);

// --- Text and version routines -------------------------------------------------------------------
std::string PadVersionPart(std::string_view text);
std::string NormalizeVersionText(std::string_view text);
// True when b is a later version than a; false when either is empty.
bool IsVersionGreater(std::string_view a, std::string_view b);
// 1-based position of `sub` in `text` at or after `from`; 0 when none.
std::size_t FindTextFrom(std::string_view sub, std::string_view text, std::size_t from);
std::string ReplaceAllText(std::string_view text, std::string_view find, std::string_view replacement);
std::string StripVsHostSuffix(std::string_view fileName);
void SplitTextAtChars(std::string_view text, TStrings& list, std::string_view charSet, bool keepSeparators,
                      bool addEmpty);
void SplitTrimmedAtChars(std::string_view charSet, std::string_view text, TStrings& list);
// Encodes `count` UTF-16 units as UTF-8 (each unit alone) with a terminating
// zero; returns the bytes written plus one, or with no destination the bytes
// needed plus one; no source gives 0.
std::size_t EncodeUtf8Buffer(char* destination, std::size_t capacity, const char16_t* source, std::size_t count);
std::string EncodeUtf8Text(std::string_view ansiText);
std::string& PrepareText(std::string& text);

// --- Percent variables ---------------------------------------------------------------------------
// The environment variable's value; "date", "time" and "cd" (any case) stand
// for today's date, the time and the current folder when no variable is set.
std::string GetEnvironmentText(const std::string& name);
std::string ExpandPercentVariables(std::string_view text);

// --- Folders and files ---------------------------------------------------------------------------
std::string GetExeFileName();
std::string GetAppDataFolder();
std::string GetVantorDataFolder();
std::string GetDataFolder();
std::string AddTrailingBackslash(std::string_view folder);
std::string DropTrailingBackslash(std::string_view path);
bool IsExistingFolder(const std::string& path);
bool ForceDirectoryPath(std::string_view path);
bool CanUseFile(const std::string& fileName, bool readOnly);
bool ResolveWritableFile(std::string& fileName, bool useExeSubfolder, bool readOnly);
// The long form of a path that holds short ("~") names. `makeAbsolute` gives
// the full path; `findLongName` gives the long name of the last component of
// an existing path (false when there is none). After the drive part ("C:\" or
// "\\server\share\") each component is replaced in turn; from the first one
// not found the rest is kept as it stands. A path without "~" is returned as is.
std::string ExpandLongPathNameWith(std::string_view path,
                                   const std::function<std::string(const std::string&)>& makeAbsolute,
                                   const std::function<bool(const std::string&, std::string&)>& findLongName);

// --- IDE mode and guarded steps ------------------------------------------------------------------
// The development environment's executable, in upper case.
constexpr const char* kIdeHostExecutable = "VANTORIDE.EXE";
bool IsHostedByIde();
bool IsIdeHostExecutable();
// For tests and for the start-up that decides it.
void SetHostedByIde(bool value);

using TErrorHook = void (*)(const std::string& text);
void SetGuardedStepErrorHook(TErrorHook hook);
TErrorHook GuardedStepErrorHook();
using TGuardedStep = void (*)();
void RunGuardedStep(TGuardedStep step, const char* stepName);

// The core unit's start-up ("ECore.Init") and shut-down ("ECore.Done"); nested calls count.
void InitECore();
void DoneECore();

// --- Exception filters ---------------------------------------------------------------------------
class TVantorModuleOptions;

struct TVantorExceptionFilter {
  bool Enabled = true;
  std::string ExceptionClass;
  std::string ExceptionMessage;
  std::uint8_t AppliesTo = 0;     // 0 every exception, 1 handled ones, 2 unhandled ones
  std::uint8_t DialogChoice = 1;  // 0 none, 1 the options' kind, 2 box, 3 short, 4 detailed
  // What the report does with a matching exception: 0 no report, and the
  // exception counts as dealt with (the pipeline answers 0); 1 no report, and
  // the program's own handling goes on (the pipeline answers 1); 2 the report.
  std::uint8_t HandlerKind = 2;
  std::uint8_t ActionAfter = 0;  // 0 nothing, 1 terminate, 2 restart
};

// What a filter matches on: the class names from the exception's own class
// to its root, and for an automation wrapper the class names it carries.
struct TExceptionIdentity {
  std::vector<std::string> ClassChain;
  bool IsActiveX = false;
  std::vector<std::string> ActiveXClassNames;
};
// The identity of an exception: a framework exception names its class and
// ancestors, any other C++ exception its demangled type.
TExceptionIdentity IdentifyException(const std::exception_ptr& error);

class TVantorExceptionsFilters : public TList {
  FW_CLASS(TVantorExceptionsFilters, TList)
 public:
  explicit TVantorExceptionsFilters(TVantorModuleOptions* owner) : owner_(owner) {}
  void Destroy() override;
  // Takes over the record; its index.
  int AddFilter(TVantorExceptionFilter* filter);
  void DeleteFilter(int index);
  void ClearFilters();
  TVantorExceptionFilter* GetFilter(int index) const { return static_cast<TVantorExceptionFilter*>(Get(index)); }
  // Index of the first enabled filter that matches, or -1.
  int FindMatchingExceptionFilter(const TExceptionIdentity& exception, bool handled) const;
  void CopyFrom(const TVantorExceptionsFilters& other);

 private:
  void Changed();
  // Frees every record, the first first, without telling the owner.
  void FreeAll();
  TVantorModuleOptions* owner_;
};

// --- Module options ------------------------------------------------------------------------------
// The data version of the current option stream format.
constexpr std::uint16_t kCurrentDataVersion = 6022;
// The version of the stream that LoadFromStream reads next.
std::uint16_t OptionStreamVersion();
void SetOptionStreamVersion(std::uint16_t version);

// The byte option strings (and the names of old line tables) are XORed with.
constexpr std::uint8_t kOptionKey = 0xB9;
// Option strings: int32 length, bytes XORed with kOptionKey.
void WriteOptionString(TStream& stream, std::string_view text);
// A length beyond the bytes left in the stream raises EReadError.
std::string ReadOptionString(TStream& stream);

// The 48 report-field bits as 48 "0"/"1" characters, and back (ORed in).
std::string ReportFieldsToBits(const std::uint8_t (&fields)[6]);
void BitsToReportFields(std::string_view bits, std::uint8_t (&fields)[6]);

#define VL_OPTION(Type, Name)         \
 public:                              \
  const Type& Name() const {          \
    return f##Name;                   \
  }                                   \
  void Set##Name(const Type& value) { \
    f##Name = value;                  \
    Changed();                        \
  }                                   \
                                      \
 private:                             \
  Type f##Name{};

class TVantorModuleOptions : public TObject {
  FW_CLASS(TVantorModuleOptions, TObject)
 public:
  explicit TVantorModuleOptions(const std::string& moduleName);
  void Destroy() override;

  virtual void SetActiveFlag(bool value);
  virtual void SetFreezeCheck(bool value);
  virtual void Assign(const TVantorModuleOptions* source);
  virtual void SetDefaults();
  virtual void SaveToStream(TStream& stream) const;
  virtual void SaveToFile(const std::string& fileName) const;
  virtual void LoadFromStream(TStream& stream);
  virtual void LoadFromFile(const std::string& fileName);
  virtual void PublishOptions() {}
  virtual void ReloadOptions() {}

  void BeginUpdate() { ++fUpdateDepth; }
  void EndUpdate() { --fUpdateDepth; }
  void Changed();
  std::int32_t UpdateDepth() const { return fUpdateDepth; }

  // The text with its percent variables expanded.
  std::string GetCustomText(int index) const;
  // The stored text, unexpanded.
  const std::string& RawCustomText(int index) const { return fTexts.at(static_cast<std::size_t>(index)); }
  void SetCustomText(int index, const std::string& text);

  bool ActiveFlag() const { return fActiveFlag; }
  bool FreezeCheck() const { return fFreezeCheck; }
  void SetMaxLoggedErrors(std::int32_t value);
  std::int32_t MaxLoggedErrors() const { return fMaxLoggedErrors; }
  const std::uint8_t* ReportFields() const { return fReportFields; }
  void SetReportFields(const std::uint8_t (&fields)[6]);
  std::uint8_t LeakFlags() const { return fLeakFlags; }
  TVantorExceptionsFilters* FilterList() const { return fFilterList; }
  const std::string& OwnerModuleName() const { return fOwnerModuleName; }
  ModuleHandle OwnerModuleHandle() const { return fOwnerModuleHandle; }
  void AssignModuleName(const std::string& name) { fOwnerModuleName = name; }
  void AssignModuleHandle(ModuleHandle handle) { fOwnerModuleHandle = handle; }

  VL_OPTION(std::string, MailFrom)
  VL_OPTION(std::string, MailHost)
  VL_OPTION(std::string, MailUser)
  VL_OPTION(std::string, MailPass)
  VL_OPTION(std::int16_t, MailHostPort)
  VL_OPTION(std::string, ProxyHost)
  VL_OPTION(std::string, ProxyUser)
  VL_OPTION(std::string, ProxyPass)
  VL_OPTION(std::uint16_t, ProxyHostPort)
  VL_OPTION(std::string, TrackerUser)
  VL_OPTION(std::string, TrackerPass)
  VL_OPTION(std::string, TrackerAssignee)
  VL_OPTION(std::string, TrackerProjectName)
  VL_OPTION(std::string, TrackerCategoryName)
  VL_OPTION(std::string, TrackerTrialCode)
  VL_OPTION(std::string, ZipPass)
  VL_OPTION(std::string, BuildStartCommand)
  VL_OPTION(std::string, BuildSuccessCommand)
  VL_OPTION(std::string, BuildFailureCommand)
  VL_OPTION(std::uint8_t, CompiledFileFlags)
  VL_OPTION(std::uint8_t, TerminateAction)
  VL_OPTION(std::int32_t, FreezeSeconds)
  VL_OPTION(std::uint8_t, DialogKind)
  VL_OPTION(std::string, TextSetName)
  VL_OPTION(bool, LogEnabled)
  VL_OPTION(bool, CatchEnabled)
  VL_OPTION(bool, ReportInMailBody)
  VL_OPTION(bool, WriteLogFile)
  VL_OPTION(std::uint8_t, LogFlags)
  VL_OPTION(std::uint16_t, SendFlags)
  VL_OPTION(std::uint8_t, StartTab)
  VL_OPTION(std::int32_t, TerminateButtonAfter)
  VL_OPTION(std::string, LogLocation)
  VL_OPTION(std::string, MailRecipients)
  VL_OPTION(std::string, MailSubject)
  VL_OPTION(std::string, MailBody)
  VL_OPTION(std::uint8_t, MailMode)
  VL_OPTION(std::uint8_t, WebMode)
  VL_OPTION(std::string, ExtraFiles)
  VL_OPTION(std::uint16_t, DialogFlags)
  VL_OPTION(std::int32_t, DialogAutoCloseSeconds)
  VL_OPTION(std::string, SupportPage)
  VL_OPTION(std::string, HtmlTemplate)
  VL_OPTION(std::uint8_t, CrashAction)
  VL_OPTION(std::int32_t, CrashCount)
  VL_OPTION(std::int32_t, CrashMinutes)
  VL_OPTION(std::uint8_t, StackFlags)
  VL_OPTION(std::uint16_t, BehaviourFlags)
  VL_OPTION(std::string, WebAddress)
  VL_OPTION(std::int32_t, WebHostPort)
  VL_OPTION(std::string, WebPass)
  VL_OPTION(std::string, WebUser)
  VL_OPTION(std::string, ReproduceSteps)

 protected:
  void StoreActiveFlag(bool value) { fActiveFlag = value; }
  void StoreFreezeCheck(bool value) { fFreezeCheck = value; }

 private:
  void ReadStream(TStream& stream);
  std::int32_t fUpdateDepth = 0;
  std::string fOwnerModuleName;
  ModuleHandle fOwnerModuleHandle = 0;
  bool fFreezeCheck = false;
  bool fActiveFlag = true;
  std::int32_t fMaxLoggedErrors = 32;
  std::uint8_t fReportFields[6] = {};
  std::uint8_t fLeakFlags = 0x1E;
  TVantorExceptionsFilters* fFilterList = nullptr;
  std::vector<std::string> fTexts;
};

#undef VL_OPTION

// The default of HtmlTemplate.
extern const char* const kDefaultHtmlTemplate;
// The factory sender address of MailFrom.
constexpr const char* kDefaultMailFrom = "error-report@example.com";

// --- The log file --------------------------------------------------------------------------------
std::string CleanComputerName();
std::string ResolveLogPath(const TVantorModuleOptions& options, const std::string& name);
std::string GetLogFilePath(const TVantorModuleOptions& options, const std::string& name);

// --- The exception "object" ----------------------------------------------------------------------
// What the library keeps of an exception in flight: the exception itself,
// its class and ancestor names (own class first), its message and the code
// address it was raised at. Nothing copies the exception's raw memory.
struct TExceptionObjectRecord {
  std::exception_ptr Error;
  std::vector<std::string> ClassChain;
  std::string Message;
  std::uintptr_t Address = 0;
  bool IsActiveX = false;
  std::vector<std::string> ActiveXClassNames;

  std::string ClassName() const { return ClassChain.empty() ? std::string() : ClassChain.front(); }
  bool DescendsFrom(std::string_view name) const;
};
// The record of an exception (names, message) raised at `address`.
TExceptionObjectRecord MakeExceptionObjectRecord(const std::exception_ptr& error, std::uintptr_t address);
// The record of an object that is being thrown (not yet in flight, so without
// the exception itself): names and message read through its type.
TExceptionObjectRecord DescribeThrownObject(void* object, const std::type_info* type, std::uintptr_t address);
// A reportable exception has a class and does not descend from EAbort.
bool IsReportableException(const TExceptionObjectRecord* object);
// A language exception is one that does not stand for an operating-system fault (EExternal).
bool IsLanguageException(const TExceptionObjectRecord* object);
// A copy of the record (null for null), and its release (clears the pointer).
TExceptionObjectRecord* CloneObjectMemory(const TExceptionObjectRecord* object);
void FreeObjectClone(TExceptionObjectRecord*& record);
// The class name cut to 64 characters, zero-terminated, as a thread block keeps it.
void StoreClassNameText(char (&target)[65], std::string_view className);

// Stands for an exception of another module: its original class name and its ancestors' names.
class TActiveXException : public Exception {
 public:
  TActiveXException(std::string message, std::string originalClassName, std::vector<std::string> ancestorNames)
      : Exception(std::move(message)),
        OriginalClassName(std::move(originalClassName)),
        AncestorNames(std::move(ancestorNames)) {}
  std::string OriginalClassName;
  std::vector<std::string> AncestorNames;
  // The original class first, then its ancestors.
  std::vector<std::string> OriginalClassNames() const;
  FW_EXCEPTION_NAMES(TActiveXException, Exception)
};

// --- System facts --------------------------------------------------------------------------------
// The operating-system version as its version query reports it.
struct TOsVersionFacts {
  int Platform = 0;  // 1 the Windows 9x line, 2 the NT line
  std::uint32_t Major = 0;
  std::uint32_t Minor = 0;
  std::uint32_t Build = 0;
  std::string ServicePack;       // the service-pack text ("B", "A", "Service Pack 3")
  std::uint8_t ProductType = 0;  // 1 a workstation
  bool IsWow64 = false;
};
bool RunningOnWindows95(const TOsVersionFacts& os);
bool RunningOnWindowsNT4(const TOsVersionFacts& os);
bool RunningOnVistaOrLater(const TOsVersionFacts& os);
std::string GetWindowsVersionName(const TOsVersionFacts& os);
std::string GetWindowsBuildText(const TOsVersionFacts& os);
// A block version this library reads: 6000 to 6100, both included.
bool IsVersionCompatible(std::uint32_t version);

// --- Text routines -------------------------------------------------------------------------------
std::string TextIfFlag(bool flag, std::string_view text);
// Each run of bytes 0-31 becomes one space.
std::string CollapseControlChars(std::string_view text);
std::string PadRightToWidth(std::string_view text, std::size_t width);
// "1 day, 12 hours, 0 second": days, hours and minutes when not zero, seconds always.
std::string FormatElapsedTime(double days);
std::string EscapeHtmlText(std::string_view text);
std::string EscapeRtfText(std::string_view text);

// --- Rich-text documents of the detailed dialog ------------------------------------------------------
// The dialog font the documents are written in.
struct TRtfFont {
  int Charset = 0;  // the locale's character set
  std::string Name;
  int Size = 8;  // points
};

// The header, colour table and font selection every document starts with
// (no delimiter after the last control word).
std::string RtfDocumentHeader(const TRtfFont& font);
// The introduction: the first line bold, section titles and their rules, and
// "label: value" lines with label and value in their own colours.
std::string BuildGeneralRtf(std::string_view text, const TRtfFont& font);
// The listing: ";" lines as headings, the comment part of code lines in grey.
std::string BuildAssemblerRtf(std::string_view text, const TRtfFont& font);
// The registers and memory dump: register values and dump fields coloured;
// a tab stop 15 times `rulePixelWidth` (the width of a 21-dash rule in the font).
std::string BuildCpuRtf(std::string_view text, const TRtfFont& font, int rulePixelWidth);
// "Thu, 10 Dec 2026 12:06:01 +0530": `biasMinutes` is local time minus UTC.
std::string FormatMailDate(double dateTime, std::int32_t biasMinutes);
// "yyyy-mm-dd hh:nn:ss".
std::string FormatReportDateTime(double dateTime);

// --- The library's own warnings and failures -----------------------------------------------------
enum TVantorLogErrorCode : std::uint8_t {
  eeNone,
  eeShowError,
  eeLogError,
  eeEmailMAPIError,
  eeEmailShellError,
  eeEmailSMTPError,
  eeWebHTTPError,
  eeWebHTTPSError,
  eeWebFTPError,
  eeWebTrakerError
};
const char* ErrorCodeName(TVantorLogErrorCode code);
TVantorLogErrorCode LastLibraryErrorCode();
std::string LastLibraryErrorMessage();

// Where the library's debugger lines and warning boxes go (the Win32 half
// sends them to the debugger output and a message box).
class LibraryOutput {
 public:
  virtual ~LibraryOutput() = default;
  virtual void DebugLine(const std::string& line) = 0;
  virtual void WarningBox(const std::string& message, const std::string& caption) = 0;
  // Whether the window that sends shows errors.
  virtual bool ErrorDisplayEnabled() = 0;
  // A Yes/No question (an internal failure's offer to send its details); true for Yes.
  virtual bool AskQuestion(const std::string&, const std::string&) { return false; }
  // An information box.
  virtual void InformationBox(const std::string&, const std::string&) {}
};
// Null restores the default (lines and boxes dropped); the caller keeps ownership.
void SetLibraryOutput(LibraryOutput* output);
LibraryOutput& CurrentLibraryOutput();
// The library-wide switch for warning boxes (off; the library never sets it).
void SetWarningBoxesEnabled(bool value);

void ReportLibraryWarning(TVantorLogErrorCode code, const std::string& message);
void ClearLibraryWarning();
// "[context] message" for a framework exception, else "General 'context' error.".
void ReportExceptionWarning(TVantorLogErrorCode code, const std::string& context, const std::exception_ptr& error);
// The error hook of the guarded steps and the library's catch-alls: in IDE
// mode or under a debugger the failure goes to the debugger output.
void ReportInternalFailure(const std::string& section, const std::exception_ptr& error, bool debuggerAttached);
bool InternalFailureRunning();

// What an internal failure's details file holds (the platform fills the
// date, the system's name, the dump and the locations).
struct TInternalFailureLocation {
  std::uint64_t Address = 0;
  std::uint64_t Module = 0;
  std::string ModuleFileName;
  bool HasLine = false;  // the names and lines below are known
  std::string UnitName;
  std::string ClassName;
  std::string ProcedureName;
  std::int32_t ProcedureLine = 0;
  std::int32_t Line = 0;
};
struct TInternalFailureFacts {
  std::string DateText;
  std::string OsName;
  std::vector<std::uint8_t> Dump;  // the 32 bytes at the address; empty when they cannot be read
  std::string Section;
  std::string LastExceptionClass;
  TInternalFailureLocation Where;
  std::string ExceptionClass;
  std::string Message;
  std::vector<TInternalFailureLocation> CallStack;
};
// The library's version and the run-time it names in the details.
constexpr const char* kLibraryVersionText = "6.0.22";
constexpr const char* kLibraryRuntimeText = "Lunder 5.0";
// Where the user is asked to send an internal failure's details.
constexpr const char* kLibrarySupportAddress = "support@vantorlog.example.com";
// "Version   : 6.0.22\r\nDate      : ..." up to the call stack (one entry a line).
std::string FormatInternalFailureText(const TInternalFailureFacts& facts);
// The platform's part of an internal failure after its debugger line: the
// facts completed, the details saved beside the program, the user asked.
using TInternalFailureDetailsProc = void (*)(TInternalFailureFacts& facts);
void SetInternalFailureDetailsProc(TInternalFailureDetailsProc proc);
// The question and the information box of an internal failure.
std::string InternalFailureQuestion(const std::string& message);
std::string InternalFailureSendManually(const std::string& logFileName);

// A module file name as the system may give it, without a "\\??\\"-style
// prefix: the text before the character that precedes the first ":" after a "?" is cut.
std::string CutNtPathPrefix(std::string_view fileName);

// --- The current exception -----------------------------------------------------------------------
// Kept module-wide: the object and address, the last non-null of each, and a flag.
struct TCurrentExceptionInfo {
  std::shared_ptr<const TExceptionObjectRecord> Object;
  std::uintptr_t Address = 0;
  std::shared_ptr<const TExceptionObjectRecord> LastObject;
  std::uintptr_t LastAddress = 0;
  bool Flag = false;
};
void SetCurrentExceptionInfo(std::shared_ptr<const TExceptionObjectRecord> object, std::uintptr_t address, bool flag);
std::shared_ptr<const TExceptionObjectRecord> NoteExceptionObject(std::shared_ptr<const TExceptionObjectRecord> object,
                                                                  std::uintptr_t address, bool flag);
TCurrentExceptionInfo CurrentExceptionInfo();
void ClearCurrentExceptionInfo();
// Frees what the last exception left: its record, the message texts and the raise-time stack snapshot.
void ReleaseExceptionState();

// The text that replaces the exception's message in the dialogs (when not
// empty), and the last exception message that the pipeline sets.
void SetMessageOverride(const std::string& text);
void SetLastExceptionMessage(const std::string& text);
std::string GetShownExceptionMessage();

// --- The raise-time stack snapshot ---------------------------------------------------------------
constexpr std::uint32_t kMaxStackSnapshot = 102400;
struct TStackSnapshotFacts {
  std::uint64_t SavedStackPointer = 0;  // from the thread's exception block
  std::uint64_t StackLimit = 0;
  std::uint64_t StackTop = 0;
  std::uint64_t CurrentStackPointer = 0;
  std::uint32_t ThreadId = 0;
};
struct TStackSnapshot {
  std::vector<std::uint8_t> Bytes;  // Size bytes from Start upward
  std::uint64_t Start = 0;
  std::uint32_t Size = 0;
  std::uint32_t ThreadId = 0;
  std::uint64_t Address = 0;
};
// Under the snapshot lock: from the saved stack pointer (or the current one,
// when the saved one lies outside the stack) up to the top, at most
// 102400 bytes; the address moves back 5 bytes to its CALL when it is a
// return address. A copy that cannot be read leaves the size 0.
void SnapshotRaisingThreadStack(MemoryReader& memory, const TStackSnapshotFacts& facts, std::uint64_t address,
                                bool isReturnAddress);
TStackSnapshot CurrentStackSnapshot();
// Makes the snapshot's room (102400 bytes) beforehand, so that taking a
// snapshot during a raise allocates nothing; the current-exception state's
// release gives it back.
void ReserveStackSnapshot();
