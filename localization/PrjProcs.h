// Translation of form resources: TFormProcessor reads a form (binary,
// resource-wrapped binary or form text), walks its text object by object and
// property by property, replaces the lines of translatable properties with
// the values of one language column of a translation store, adds charset and
// right-to-left lines, and writes the form back in the kind it came in.
// Text goes back to binary through the framework's converter with TJWriter,
// which can store strings as UTF-8.
//
// Form data may come from outside (a library in the languages folder): every
// loop of the walk stops at the end of the text with "Wrong DFM Format", and
// nesting is bounded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Exceptions.h"
#include "Filer.h"
#include "Method.h"
#include "Object.h"
#include "Strings.h"

FW_EXCEPTION(EPrjProcsError, Exception);

class TLangResource;
class TLResComponentItem;
class TLResFormItem;
class TLResPropertyItem;
class TLResValue;
class TParser;
class TResProcessor;

// The processor's texts.
inline constexpr char SNoRCDataBlock[] = "Can't find RCDATA block";
inline constexpr char SWrongDfmFormat[] = "Wrong DFM Format";
inline constexpr char SErrorWhileProcessingForm[] = "Error while processing form \"%s\"\r\n%s";
inline constexpr char SErrorDuringProcessingForm[] = "Error during processing form ";
inline constexpr char SFormErrorPlace[] = "\r\nLine#: %s\r\nForm: %s";
inline constexpr char SComponentNameTooLong[] = "Component name is too long: \"%s\"";

// Value flags of the store that the processor reads.
inline constexpr std::uint16_t kLResFlagNotTranslated = 0x0008;  // the property keeps its form value
inline constexpr std::uint16_t kLResFlagAppended = 0x0010;       // written at the end of its object's block
inline constexpr std::uint16_t kLResFlagWideString = 0x0020;     // written as a wide string
// The value kind of an identifier property (the store's own kinds are in LangRes.h).
inline constexpr std::uint8_t kLResKindIdentifier = 6;

// The form writer that can store strings as UTF-8: with the flag on, a string
// whose text (in the code page of Locale) is not plain ASCII is written as a
// UTF-8 string (value type 20); ASCII strings stay ordinary strings.
class TJWriter : public TWriter {
  FW_CLASS(TJWriter, TWriter)
 public:
  // The framework's writer writes straight to its stream; the buffer size is kept for callers.
  TJWriter(TStream& stream, int bufferSize);

  bool UTF8() const { return utf8_; }
  void SetUTF8(bool flag) { utf8_ = flag; }
  int BufferSize() const { return bufferSize_; }
  std::uint32_t Locale = 0;  // whose default ANSI code page the strings are in

  void WritePrefixPublic(std::uint8_t flags, int childPos) { WritePrefix(flags, childPos); }
  // Type 20 with the converted bytes when they differ from the text, else type 6 (below 256 bytes) or 12.
  void WriteStringValue(const std::string& text, const std::string& converted);
  void WriteString(const std::string& text) override;
  // With the flag on, a wide string that is not plain ASCII becomes a UTF-8 string too.
  void WriteWideString(const WideString& text) override;

 private:
  bool utf8_ = false;
  int bufferSize_;
};

// Form text to a binary form, and to a resource-wrapped binary form, through a
// TJWriter with the UTF-8 flag and locale; the decimal separator is "." during
// the conversion and restored afterwards, also on errors.
void FormTextToBinary(TStream& textStream, TStream& output, bool utf8, std::uint32_t locale);
void FormTextToResource(TStream& textStream, TStream& output, bool utf8, std::uint32_t locale);

// A form-text literal of a wide text: runs of the characters 32..127 other
// than "'" between quotes, every other character as "#" and its code; "''"
// for an empty text.
std::string QuoteWideFormString(std::u16string_view text);

using TFormProcessEvent = Method<void(TObject* sender, const std::string& formName, bool& process)>;
using TFormDoneEvent = Method<void(TObject* sender, const std::string& formName)>;

class TFormProcessor : public TObject {
  FW_CLASS(TFormProcessor, TObject)
 public:
  TFormProcessor();
  void Destroy() override;

  TLangResource* Store = nullptr;  // not owned
  std::int32_t LanguageIndex = 0;
  std::uint16_t TargetLocale = 0;
  TStringList* FormNames() const { return formNames_; }
  std::string FormNameTemplate;  // "${FormName}" stands for the form's object name
  bool ApplyCharset = true;
  bool ApplyBiDiMode = true;
  bool UseUTF8 = false;
  bool ShowOutdated = true;
  TFormProcessEvent OnBeforeForm;
  TFormDoneEvent OnAfterForm;

  // Every form of FormNames, in order, inside the RCDATA block of `resources`.
  void ProcessForms(TResProcessor* resources);
  // The item "T" + name, else "TME" + name (upper case); neither: nothing happens.
  void ProcessForm(TResProcessor* resources, const std::string& formName);
  // Translates one form stream in place (from its start), keeping its kind.
  void TranslateFormStream(TStream& stream);

  const std::string& FormName() const { return formName_; }

 private:
  struct TObjectHeader {
    std::string Name;
    std::string ClassName;  // with "[index]" after it when the header had one
    std::string BareClass;
    bool Inline = false;
  };

  void ReadForm(const std::string& text);
  [[noreturn]] void RaiseFormError(const std::string& message) const;
  void CheckNotEnd() const;
  TObjectHeader ReadObjectHeader();
  void WalkObject(const std::string& path, bool isRoot);
  void WalkProperties(const std::string& path);
  void WalkCollection(const std::string& path, const std::string& propName);
  void SkipValue();
  void SkipCollection();
  // One more level of nesting (bounded) for the walk's recursion, and back.
  void Enter();
  void Leave() { --depth_; }
  void WriteAppendedItems(const std::string& path, bool isRoot);
  void TranslateProperty(const std::string& path, const std::string& name);
  // The value to write: the language's, or (followStamps) the native one for an outdated translation
  // when ShowOutdated is off.
  TLResValue* ValueOf(TLResPropertyItem* item, bool followStamps) const;
  // The lines of a translated property; none when its value is not to be written.
  std::vector<std::string> TranslatedLines(TLResPropertyItem* item, int indent) const;
  // The current property's lines give way to `lines`.
  void ReplacePropertyLines(const std::vector<std::string>& lines);
  void AddRightToLeftLine(bool forProperty);
  TLResComponentItem* ComponentOf(const std::string& path) const;
  std::string WithInlinePath(const std::string& path) const;
  std::uint32_t LanguageLocale() const;
  void CopyLinesBefore(int line);
  void AddLine(const std::string& line);
  int TokenLine() const;  // 0-based input line of the parser's current token
  std::string OutputText() const;

  TStringList* formNames_;
  TParser* parser_ = nullptr;
  bool translating_ = false;
  std::string formName_;
  TLResFormItem* formItem_ = nullptr;
  std::string inlinePath_;
  bool inherited_ = false;
  std::string componentClass_;
  std::vector<std::string> inLines_;
  std::vector<std::string> outLines_;
  std::string lineBreak_ = "\r\n";  // of the input's first line, for the lines added
  bool rightToLeftWritten_ = false;
  int nextLine_ = 0;
  int propFirstLine_ = 0;
  int propEndLine_ = 0;
  bool dropProperty_ = false;
  int depth_ = 0;
};
