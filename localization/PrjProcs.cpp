#include "PrjProcs.h"

#include <algorithm>

#include "ByteReader.h"
#include "FontCharsets.h"
#include "JLocales.h"
#include "JStrings.h"
#include "LangRes.h"
#include "ObjectConvert.h"
#include "Parser.h"
#include "ResProc.h"
#include "Scope.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TJWriter)
FW_IMPLEMENT_CLASS(TFormProcessor)

namespace {

constexpr int kAddedLineIndent = 10;
constexpr std::size_t kMaxComponentNameLength = 70;  // this length and longer is refused
constexpr int kWriterBufferSize = 4096;

bool IsAscii(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

bool ContainsNoCase(std::string_view text, std::string_view part) {
  return FindTextNoCase(part, text) > 0;
}

std::string Blanks(int count) {
  return std::string(static_cast<std::size_t>(std::max(count, 0)), ' ');
}

int LeadingBlanks(const std::string& line) {
  std::size_t n = line.find_first_not_of(' ');
  return static_cast<int>(n == std::string::npos ? line.size() : n);
}

// The lines of a text as a string list takes them: CR LF, LF or CR end a line,
// and a break at the very end starts no further line.
template <class S>
std::vector<S> TextLines(const S& text) {
  std::vector<S> lines;
  std::size_t start = 0, i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

// An integer value the form text reads as one number.
bool IsIntegerText(const std::string& text) {
  std::int64_t v;
  return !text.empty() && text.find_first_of(" \t\r\n") == std::string::npos && TryStrToInt64(text, v);
}

// An identifier value, possibly dotted ("clBtnFace", "Owner.Button1").
bool IsIdentifierText(const std::string& text) {
  bool atStart = true;
  for (char c : text) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    bool digit = c >= '0' && c <= '9';
    if (c == '.' && !atStart) {
      atStart = true;
    } else if (letter || (digit && !atStart)) {
      atStart = false;
    } else {
      return false;
    }
  }
  return !atStart;
}

// The class name of the root object of a binary form, read as the resource header takes it.
std::string BinaryRootClassName(std::string_view form) {
  ByteReader r(form);
  try {
    r.Skip(4);  // signature
    std::uint8_t length = r.U8();
    if ((length & 0xF0) == 0xF0) {  // the object's prefix byte
      if (length & ffChildPos) {
        switch (r.U8()) {
          case vaInt8:
            r.Skip(1);
            break;
          case vaInt16:
            r.Skip(2);
            break;
          case vaInt32:
            r.Skip(4);
            break;
          default:
            throw EReadError("Invalid stream format");
        }
      }
      length = r.U8();
    }
    if (length >= kMaxComponentNameLength)
      throw EParserError(Format(SComponentNameTooLong, r.Bytes(std::min<std::size_t>(length, r.Remaining()))));
    return r.Bytes(length);
  } catch (const EByteRange&) {
    throw EReadError("Stream read error");
  }
}

}  // namespace

// ---- TJWriter ----

TJWriter::TJWriter(TStream& stream, int bufferSize) : TWriter(stream), bufferSize_(bufferSize) {}

void TJWriter::WriteStringValue(const std::string& text, const std::string& converted) {
  if (converted != text)
    WriteUTF8String(converted);
  else
    TWriter::WriteString(text);
}

void TJWriter::WriteString(const std::string& text) {
  WriteStringValue(text, utf8_ ? WideToUtf8(AnsiToWideForLocale(text, Locale)) : text);
}

void TJWriter::WriteWideString(const WideString& text) {
  if (!utf8_) {
    TWriter::WriteWideString(text);
  } else if (IsAscii(text)) {
    TWriter::WriteString(std::string(text.begin(), text.end()));
  } else {
    WriteUTF8String(WideToUtf8(text));
  }
}

// ---- Conversions ----

void FormTextToBinary(TStream& textStream, TStream& output, bool utf8, std::uint32_t locale) {
  const char savedSeparator = DecimalSeparator;
  DecimalSeparator = '.';
  TScopeExit restore([savedSeparator]() noexcept { DecimalSeparator = savedSeparator; });
  TOwned<TJWriter> writer(New<TJWriter>(output, kWriterBufferSize));
  writer->SetUTF8(utf8);
  writer->Locale = locale;
  ObjectTextToBinary(textStream, *writer);
}

void FormTextToResource(TStream& textStream, TStream& output, bool utf8, std::uint32_t locale) {
  TOwned<TMemoryStream> binary(New<TMemoryStream>());
  FormTextToBinary(textStream, *binary, utf8, locale);
  std::string form = binary->DataString();
  if (form.size() > UINT32_MAX) throw EWriteError("Form too large");
  WriteResourceHeader(output, UpperCase(BinaryRootClassName(form)), static_cast<std::uint32_t>(form.size()));
  output.WriteBytes(form);
}

std::string QuoteWideFormString(std::u16string_view text) {
  if (text.empty()) return "''";
  std::string out;
  bool inQuote = false;
  for (char16_t c : text) {
    if (c >= 32 && c <= 127 && c != '\'') {
      if (!inQuote) out += '\'';
      inQuote = true;
      out += static_cast<char>(c);
    } else {
      if (inQuote) out += '\'';
      inQuote = false;
      out += '#';
      out += std::to_string(static_cast<unsigned>(c));
    }
  }
  if (inQuote) out += '\'';
  return out;
}

// ---- TFormProcessor ----

TFormProcessor::TFormProcessor() : formNames_(New<TStringList>()) {}

void TFormProcessor::Destroy() {
  FreeAndNil(formNames_);
  inherited::Destroy();
}

void TFormProcessor::ProcessForms(TResProcessor* resources) {
  for (int i = 0; i < formNames_->Count(); ++i) ProcessForm(resources, formNames_->Get(i));
}

void TFormProcessor::ProcessForm(TResProcessor* resources, const std::string& formName) {
  TResRCData* rcdata = resources ? resources->RCData() : nullptr;
  if (!rcdata) throw EPrjProcsError(SNoRCDataBlock);
  TResRCDataItem* item = rcdata->FindItem("T" + UpperCase(formName));
  if (!item) item = rcdata->FindItem("TME" + UpperCase(formName));
  if (!item) return;
  TOwned<TMemoryStream> stream(New<TMemoryStream>());
  stream->WriteBytes(item->Data());
  TranslateFormStream(*stream);
  item->LoadData(*stream);
}

void TFormProcessor::TranslateFormStream(TStream& stream) {
  translating_ = true;
  nextLine_ = 0;
  inLines_.clear();
  outLines_.clear();
  formName_.clear();
  formItem_ = nullptr;
  inlinePath_.clear();
  inherited_ = false;
  depth_ = 0;
  try {
    stream.SetPosition(0);
    const std::string data = stream.ReadBytes(stream.Size());
    TOwned<TReadOnlyMemoryStream> input(New<TReadOnlyMemoryStream>(data.data(), data.size()));
    const TStreamOriginalFormat kind = TestStreamFormat(*input);
    std::string text;
    if (kind == sofBinary || kind == sofResource) {
      TOwned<TStringStream> converted(New<TStringStream>());
      if (kind == sofBinary)
        ObjectBinaryToText(*input, *converted);
      else
        ObjectResourceToText(*input, *converted);
      text = converted->DataString();
    } else {
      text = data;
    }
    ReadForm(text);
    CopyLinesBefore(static_cast<int>(inLines_.size()));

    TOwned<TStringStream> result(New<TStringStream>(OutputText()));
    TOwned<TMemoryStream> output(New<TMemoryStream>());
    if (kind == sofBinary)
      FormTextToBinary(*result, *output, UseUTF8, TargetLocale);
    else if (kind == sofResource)
      FormTextToResource(*result, *output, UseUTF8, TargetLocale);
    else
      output->WriteBytes(result->DataString());
    stream.SetPosition(0);
    stream.SetSize(0);
    stream.WriteBytes(output->DataString());
    stream.SetPosition(0);
  } catch (const Exception& e) {
    throw EPrjProcsError(Format(SErrorWhileProcessingForm, formName_, e.Message));
  }
}

void TFormProcessor::ReadForm(const std::string& text) {
  // Input lines as the parser counts them: a line ends at LF (a CR before it
  // belongs to the break). Each keeps its own break, so copied lines come back as they were.
  lineBreak_ = "\r\n";
  bool breakSeen = false;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t lf = text.find('\n', start);
    std::size_t end = lf == std::string::npos ? text.size() : lf + 1;
    if (lf != std::string::npos && !breakSeen) {
      lineBreak_ = lf > start && text[lf - 1] == '\r' ? "\r\n" : "\n";
      breakSeen = true;
    }
    inLines_.push_back(text.substr(start, end - start));
    start = end;
  }

  TOwned<TParser> parser(New<TParser>(text));
  parser_ = parser.get();
  TScopeExit forget([this]() noexcept { parser_ = nullptr; });
  if (parser_->Token() != toSymbol) RaiseFormError(SWrongDfmFormat);
  try {
    TObjectHeader header = ReadObjectHeader();
    formName_ = FormNameTemplate.empty() ? header.Name : StringReplaceAll(FormNameTemplate, "${FormName}", header.Name);
    bool process = true;
    if (OnBeforeForm) OnBeforeForm(this, formName_, process);
    if (!process) return;
    formItem_ = Store ? Store->Forms()->FindOrAdd(formName_) : nullptr;
    rightToLeftWritten_ = false;
    componentClass_ = header.ClassName;
    WalkObject("", true);
    if (OnAfterForm) OnAfterForm(this, formName_);
  } catch (Exception& e) {
    e.Message = SErrorDuringProcessingForm + formName_ + "\r\n" + e.Message;
    throw;
  }
}

void TFormProcessor::RaiseFormError(const std::string& message) const {
  std::string line = parser_ ? IntToStr(parser_->SourceLine()) : std::string();
  throw EPrjProcsError(message + Format(SFormErrorPlace, line, formName_));
}

void TFormProcessor::CheckNotEnd() const {
  if (parser_->Token() == toEOF) RaiseFormError(SWrongDfmFormat);
}

void TFormProcessor::Enter() {
  if (depth_ >= kMaxFilerDepth) parser_->Error("Form text is nested too deeply");
  ++depth_;
}

TFormProcessor::TObjectHeader TFormProcessor::ReadObjectHeader() {
  TObjectHeader h;
  if (parser_->TokenSymbolIs("inherited")) {
    inherited_ = true;
  } else if (parser_->TokenSymbolIs("inline")) {
    inherited_ = false;
    h.Inline = true;
  } else if (parser_->TokenSymbolIs("object")) {
    inherited_ = false;
  } else {
    RaiseFormError(SWrongDfmFormat);
  }
  parser_->NextToken();
  if (parser_->Token() != toSymbol) RaiseFormError(SWrongDfmFormat);
  h.Name = parser_->TokenString();
  h.BareClass = h.Name;
  parser_->NextToken();
  if (parser_->Token() == ':') {
    parser_->NextToken();
    if (parser_->Token() != toSymbol) RaiseFormError(SWrongDfmFormat);
    h.BareClass = parser_->TokenString();
    parser_->NextToken();
  }
  h.ClassName = h.BareClass;
  if (parser_->Token() == '[') {
    parser_->NextToken();
    std::string index = parser_->TokenString();
    if (parser_->Token() != toInteger) RaiseFormError(SWrongDfmFormat);
    parser_->NextToken();
    if (parser_->Token() != ']') RaiseFormError(SWrongDfmFormat);
    parser_->NextToken();
    h.ClassName += "[" + index + "]";
  }
  if (h.Inline) inlinePath_ = JoinWithDot(inlinePath_, h.Name);
  return h;
}

void TFormProcessor::WalkObject(const std::string& path, bool isRoot) {
  Enter();
  WalkProperties(path);
  if (translating_) WriteAppendedItems(path, isRoot);
  int position = 0;
  for (;;) {
    CheckNotEnd();
    if (parser_->TokenSymbolIs("end")) break;
    TObjectHeader child = ReadObjectHeader();
    ++position;
    componentClass_ = child.ClassName;
    std::string childPath = child.Name;
    if (SameText(child.Name, child.BareClass))  // unnamed: the parent's path, its class and its position
      childPath = JoinWithDot(path, child.BareClass + IntToStr(position));
    WalkObject(childPath, false);
    if (child.Inline) {
      std::size_t dot = inlinePath_.rfind('.');
      inlinePath_.erase(dot == std::string::npos ? 0 : dot);
    }
  }
  parser_->NextToken();
  Leave();
}

void TFormProcessor::WalkProperties(const std::string& path) {
  for (;;) {
    CheckNotEnd();
    if (parser_->TokenSymbolIs("end") || parser_->TokenSymbolIs("object") || parser_->TokenSymbolIs("inline") ||
        parser_->TokenSymbolIs("inherited"))
      return;
    if (parser_->Token() != toSymbol) RaiseFormError(SWrongDfmFormat);
    propFirstLine_ = TokenLine();
    std::string name = parser_->TokenString();
    parser_->NextToken();
    while (parser_->Token() == '.') {
      parser_->NextToken();
      if (parser_->Token() != toSymbol) RaiseFormError(SWrongDfmFormat);
      name += '.';
      name += parser_->TokenString();
      parser_->NextToken();
    }
    if (parser_->Token() != '=') RaiseFormError(SWrongDfmFormat);
    dropProperty_ = false;
    bool collection = false;
    const int depth = depth_;
    try {
      parser_->NextToken();
      collection = parser_->Token() == '<';
      if (!collection) SkipValue();
    } catch (const EParserError&) {
      // A value that does not parse: the rest of its line goes, and so does the property.
      dropProperty_ = true;
      depth_ = depth;  // the lists the error left open
      parser_->SkipLine();
    }
    if (collection) {
      WalkCollection(path, name);
      continue;
    }
    propEndLine_ = std::max(propFirstLine_ + 1, TokenLine());
    TranslateProperty(path, name);
  }
}

void TFormProcessor::WalkCollection(const std::string& path, const std::string& propName) {
  Enter();
  parser_->NextToken();
  for (int n = 0;; ++n) {
    CheckNotEnd();
    if (parser_->Token() == '>') break;
    if (!parser_->TokenSymbolIs("item")) RaiseFormError(SWrongDfmFormat);
    parser_->NextToken();
    if (parser_->Token() == '[') {
      parser_->NextToken();
      if (parser_->Token() != toInteger) RaiseFormError(SWrongDfmFormat);
      parser_->NextToken();
      if (parser_->Token() != ']') RaiseFormError(SWrongDfmFormat);
      parser_->NextToken();
    }
    const std::string itemPath = JoinWithDot(path, propName + "[" + IntToStr(n) + "]");
    const std::string savedClass = componentClass_;
    componentClass_ = "TCollectionItem";
    WalkProperties(itemPath);
    if (translating_) WriteAppendedItems(itemPath, false);
    componentClass_ = savedClass;
    if (!parser_->TokenSymbolIs("end")) RaiseFormError(SWrongDfmFormat);
    parser_->NextToken();
  }
  parser_->NextToken();
  Leave();
}

void TFormProcessor::SkipValue() {
  switch (parser_->Token()) {
    case toString:
    case toWString:
      parser_->NextToken();
      while (parser_->Token() == '+') {
        parser_->NextToken();
        if (parser_->Token() != toString && parser_->Token() != toWString) parser_->Error("String expected");
        parser_->NextToken();
      }
      return;
    case toSymbol:
      parser_->TokenComponentIdent();
      parser_->NextToken();
      return;
    case toInteger:
    case toFloat:
      parser_->NextToken();
      return;
    case '(':
      Enter();
      parser_->NextToken();
      while (parser_->Token() != ')') {
        CheckNotEnd();
        SkipValue();
      }
      parser_->NextToken();
      Leave();
      return;
    case '[':
      parser_->NextToken();
      while (parser_->Token() != ']') {
        CheckNotEnd();
        parser_->NextToken();
      }
      parser_->NextToken();
      return;
    case '{':
      parser_->HexToBinary();
      parser_->NextToken();
      return;
    case '<':
      SkipCollection();
      return;
    default:
      parser_->Error("Invalid property value");
  }
}

void TFormProcessor::SkipCollection() {
  Enter();
  parser_->NextToken();
  while (parser_->Token() != '>') {
    CheckNotEnd();
    parser_->CheckTokenSymbol("item");
    parser_->NextToken();
    if (parser_->Token() == '[') {
      parser_->NextToken();
      parser_->CheckToken(toInteger);
      parser_->NextToken();
      parser_->CheckToken(']');
      parser_->NextToken();
    }
    while (!parser_->TokenSymbolIs("end")) {
      CheckNotEnd();
      parser_->CheckToken(toSymbol);
      parser_->TokenComponentIdent();
      parser_->NextToken();
      parser_->CheckToken('=');
      parser_->NextToken();
      SkipValue();
    }
    parser_->NextToken();
  }
  parser_->NextToken();
  Leave();
}

void TFormProcessor::WriteAppendedItems(const std::string& path, bool isRoot) {
  const int line = TokenLine();
  CopyLinesBefore(line);
  if (TLResComponentItem* component = ComponentOf(WithInlinePath(path))) {
    // Indented as the block's properties: two more than its "end", as deep as a child's header.
    int indent = 2;
    if (line < static_cast<int>(inLines_.size()))
      indent = LeadingBlanks(inLines_[static_cast<std::size_t>(line)]) + (parser_->TokenSymbolIs("end") ? 2 : 0);
    TLResPropertyList* props = component->Properties();
    for (int i = 0; i < props->Count(); ++i) {
      TLResPropertyItem* item = props->GetProperty(i);
      if (!item->HasFlags(kLResFlagAppended)) continue;
      for (const std::string& l : TranslatedLines(item, indent)) AddLine(l);
    }
  }
  if (isRoot && ApplyBiDiMode && !rightToLeftWritten_) AddRightToLeftLine(false);
}

void TFormProcessor::TranslateProperty(const std::string& path, const std::string& name) {
  TLResComponentItem* component = ComponentOf(WithInlinePath(path));
  if (!component) return;
  if (ApplyCharset && ContainsNoCase(name, ".Charset")) {
    std::string ident;
    if (CharsetToIdent(CharsetOfLocale(LanguageLocale()), ident))
      ReplacePropertyLines({Blanks(kAddedLineIndent) + name + " = " + ident});
    return;
  }
  if (ApplyBiDiMode && ContainsNoCase(name, ".BiDiMode")) {
    AddRightToLeftLine(true);
    return;
  }
  auto* item = static_cast<TLResPropertyItem*>(component->Properties()->FindItem(name));
  if (!item || item->HasFlags(kLResFlagNotTranslated)) return;
  if (dropProperty_ || (item->GetValueKind() == lvkWideString && ValueOf(item, false)->WideText().empty())) {
    ReplacePropertyLines({});
    return;
  }
  const std::string& first = inLines_[static_cast<std::size_t>(propFirstLine_)];
  int position = FindTextNoCase(item->Name(), first);
  std::vector<std::string> lines = TranslatedLines(item, position > 0 ? position - 1 : LeadingBlanks(first));
  // Values of other kinds (floats) and values that would not stand as one token keep their lines.
  if (!lines.empty()) ReplacePropertyLines(lines);
}

TLResValue* TFormProcessor::ValueOf(TLResPropertyItem* item, bool followStamps) const {
  TLResValue* native = item->GetNativeValue();
  if (LanguageIndex < 0 || LanguageIndex >= item->Values()->Count()) return native;
  TLResValue* value = item->GetValue(LanguageIndex);
  if (followStamps && value->Stamp() != native->Stamp() && !ShowOutdated) return native;
  return value;
}

std::vector<std::string> TFormProcessor::TranslatedLines(TLResPropertyItem* item, int indent) const {
  TLResValue* value = ValueOf(item, true);
  const std::string head = Blanks(indent) + item->Name() + " = ";
  const bool wide = item->HasFlags(kLResFlagWideString) || UseUTF8;
  switch (item->GetValueKind()) {
    case lvkInteger:
    case kLResKindIdentifier: {
      std::string text = value->GetAnsiText();
      bool fits = item->GetValueKind() == lvkInteger ? IsIntegerText(text) : IsIdentifierText(text);
      if (!fits) return {};
      return {head + text};
    }
    case lvkWideString:
      return {head + (wide ? QuoteWideFormString(value->WideText()) : QuoteFormString(value->GetAnsiText(), '\''))};
    case lvkWideString4: {
      std::vector<std::string> lines{head + "("};
      if (wide) {
        for (const std::u16string& l : TextLines(value->WideText()))
          lines.push_back(Blanks(indent + 2) + QuoteWideFormString(l));
      } else {
        for (const std::string& l : TextLines(value->GetAnsiText()))
          lines.push_back(Blanks(indent + 2) + QuoteFormString(l, '\''));
      }
      lines.back() += ")";
      return lines;
    }
    default:
      return {};
  }
}

void TFormProcessor::ReplacePropertyLines(const std::vector<std::string>& lines) {
  CopyLinesBefore(propFirstLine_);
  for (const std::string& l : lines) AddLine(l);
  nextLine_ = std::max(nextLine_, propEndLine_);
}

void TFormProcessor::AddRightToLeftLine(bool forProperty) {
  if (!IsRightToLeftLocale(LanguageLocale())) return;
  const std::string line = Blanks(kAddedLineIndent) + "BiDiMode = bdRightToLeft";
  if (forProperty)
    ReplacePropertyLines({line});
  else
    AddLine(line);
  rightToLeftWritten_ = true;
}

TLResComponentItem* TFormProcessor::ComponentOf(const std::string& path) const {
  return formItem_ ? formItem_->FindComponentItem(path) : nullptr;
}

std::string TFormProcessor::WithInlinePath(const std::string& path) const {
  return inherited_ ? JoinWithDot(inlinePath_, path) : path;
}

std::uint32_t TFormProcessor::LanguageLocale() const {
  return Store ? Store->GetLanguageLocale(LanguageIndex) : 0;
}

void TFormProcessor::CopyLinesBefore(int line) {
  line = std::min(line, static_cast<int>(inLines_.size()));
  for (; nextLine_ < line; ++nextLine_) outLines_.push_back(inLines_[static_cast<std::size_t>(nextLine_)]);
}

void TFormProcessor::AddLine(const std::string& line) {
  // A new line after a last input line without a break gives that line one first.
  if (!outLines_.empty() && !outLines_.back().empty() && outLines_.back().back() != '\n')
    outLines_.back() += lineBreak_;
  outLines_.push_back(line + lineBreak_);
}

int TFormProcessor::TokenLine() const {
  if (parser_->Token() == toEOF) return static_cast<int>(inLines_.size());
  return std::min(parser_->SourceLine() - 1, static_cast<int>(inLines_.size()));
}

std::string TFormProcessor::OutputText() const {
  std::string text;
  for (const std::string& l : outLines_) text += l;
  return text;
}
