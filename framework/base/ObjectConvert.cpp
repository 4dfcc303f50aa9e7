#include "ObjectConvert.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Parser.h"
#include "Scope.h"
#include "SysUtils.h"

namespace {

constexpr std::size_t kLineLength = 64;
const char kLineBreak[] = "\r\n";

// --- binary -> text ------------------------------------------------------------------------------

class BinaryToText {
 public:
  BinaryToText(TStream& input, TStream& output) : reader_(New<TReader>(input)), out_(output) {}
  ~BinaryToText() { reader_->Free(); }

  void Run() {
    reader_->ReadSignature();
    ConvertObject(0);
    Flush();
  }

 private:
  // One more level of nesting until the block ends.
  [[nodiscard]] auto EnterNesting() {
    if (depth_ >= kMaxFilerDepth) throw EReadError("Form data is nested too deeply");
    ++depth_;
    return TScopeExit([this]() noexcept { --depth_; });
  }

  void Put(const std::string& s) {
    buf_ += s;
    if (buf_.size() > 65536) Flush();
  }
  void Flush() {
    out_.WriteBytes(buf_);
    buf_.clear();
  }
  void Indent(int level) { Put(std::string(static_cast<std::size_t>(level) * 2, ' ')); }
  void NewLine(int level) {
    Put(kLineBreak);
    Indent(level);
  }

  void ConvertObject(int level) {
    const auto nesting = EnterNesting();
    std::uint8_t flags;
    int childPos;
    reader_->ReadPrefix(flags, childPos);
    std::string className = reader_->ReadStr();
    std::string name = reader_->ReadStr();
    Indent(level);
    Put((flags & ffInherited) ? "inherited " : (flags & ffInline) ? "inline " : "object ");
    if (!name.empty()) Put(name + ": ");
    Put(className);
    if (flags & ffChildPos) Put(" [" + std::to_string(childPos) + "]");
    Put(kLineBreak);
    while (!reader_->EndOfList()) ConvertProperty(level + 1);
    reader_->ReadListEnd();
    while (!reader_->EndOfList()) ConvertObject(level + 1);
    reader_->ReadListEnd();
    Indent(level);
    Put("end");
    Put(kLineBreak);
  }

  void ConvertProperty(int level) {
    Indent(level);
    Put(reader_->ReadStr());
    Put(" = ");
    ConvertValue(level);
    Put(kLineBreak);
  }

  // Writes `units` as a form-text string; `wide` marks UTF-16 units, else bytes.
  void WriteString(const std::u16string& units, bool wide, int level) {
    if (units.empty()) {
      Put("''");
      return;
    }
    std::size_t n = units.size();
    if (n > kLineLength) NewLine(level + 1);
    std::size_t i = 0, lineStart = 0;
    while (i < n) {
      bool lineBreak = false;
      auto printable = [&](char16_t u) { return u >= 32 && u < 127; };
      if (printable(units[i])) {
        std::string run = "'";
        while (i < n && printable(units[i])) {
          run += static_cast<char>(units[i]);
          if (units[i] == '\'') run += '\'';
          ++i;
          if (i - lineStart >= kLineLength) {
            lineBreak = true;
            break;
          }
        }
        run += '\'';
        Put(run);
      } else {
        std::string code = std::to_string(static_cast<unsigned>(units[i]));
        code.insert(code.begin(), '#');
        Put(code);
        ++i;
        if (i - lineStart >= kLineLength) lineBreak = true;
      }
      if (lineBreak && i < n) {
        Put(" +");
        NewLine(level + 1);
        lineStart = i;
      }
    }
    (void)wide;
  }

  static std::string FloatText(double v) {
    if (!std::isfinite(v)) throw EReadError("Invalid floating point value");
    char buf[64];
    for (int prec = 15; prec <= 17; ++prec) {
      std::snprintf(buf, sizeof buf, "%.*G", prec, v);
      if (std::strtod(buf, nullptr) == v) break;
    }
    std::string s = buf;
    if (s.find_first_of(".E") == std::string::npos) s += ".0";
    return s;
  }

  static std::string SingleText(float v) {
    if (!std::isfinite(v)) throw EReadError("Invalid floating point value");
    char buf[64];
    for (int prec = 6; prec <= 9; ++prec) {
      std::snprintf(buf, sizeof buf, "%.*G", prec, static_cast<double>(v));
      if (std::strtof(buf, nullptr) == v) break;
    }
    return buf;
  }

  static std::string CurrencyText(std::int64_t scaled) {
    std::uint64_t mag = scaled < 0 ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
    std::string s = std::to_string(mag / 10000);
    if (scaled < 0) s.insert(s.begin(), '-');
    unsigned frac = static_cast<unsigned>(mag % 10000);
    if (frac) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "%04u", frac);
      std::string f = buf;
      while (!f.empty() && f.back() == '0') f.pop_back();
      s += "." + f;
    }
    return s;
  }

  std::uint64_t Read64() {
    std::uint64_t lo = reader_->Stream().ReadU32();
    std::uint64_t hi = reader_->Stream().ReadU32();
    return lo | (hi << 32);
  }

  void ConvertValue(int level) {
    TStream& in = reader_->Stream();
    TValueType t = reader_->NextValue();
    switch (t) {
      case vaList: {
        const auto nesting = EnterNesting();
        reader_->ReadValue();
        Put("(");
        while (!reader_->EndOfList()) {
          NewLine(level + 1);
          ConvertValue(level + 1);
        }
        reader_->ReadListEnd();
        Put(")");
        break;
      }
      case vaInt8:
      case vaInt16:
      case vaInt32:
      case vaInt64:
        Put(std::to_string(reader_->ReadInt64()));
        break;
      case vaExtended: {
        TExtended v = reader_->ReadExtended();
        if (!v.IsFinite()) throw EReadError("Invalid floating point value");
        Put(ExtendedToText(v));
        break;
      }
      case vaSingle:
        Put(SingleText(reader_->ReadSingle()) + "s");
        break;
      case vaCurrency:
        reader_->ReadValue();
        Put(CurrencyText(static_cast<std::int64_t>(Read64())) + "c");
        break;
      case vaDate:
        Put(FloatText(reader_->ReadFloat()) + "d");
        break;
      case vaString:
      case vaLString: {
        std::string s = reader_->ReadString();
        std::u16string units;
        units.reserve(s.size());
        for (char c : s) units += static_cast<char16_t>(static_cast<unsigned char>(c));
        WriteString(units, false, level);
        break;
      }
      case vaWString:
      case vaUTF8String:
        WriteString(reader_->ReadWideString(), true, level);
        break;
      case vaIdent:
      case vaFalse:
      case vaTrue:
      case vaNil:
      case vaNull:
        Put(reader_->ReadIdent());
        break;
      case vaBinary: {
        const auto nesting = EnterNesting();
        std::string bytes = reader_->ReadBinary();
        Put("{");
        static const char* hex = "0123456789ABCDEF";
        for (std::size_t i = 0; i < bytes.size(); i += 32) {
          NewLine(level + 1);
          std::string line;
          for (std::size_t k = i; k < bytes.size() && k < i + 32; ++k) {
            unsigned char b = static_cast<unsigned char>(bytes[k]);
            line += hex[b >> 4];
            line += hex[b & 15];
          }
          Put(line);
        }
        Put("}");
        break;
      }
      case vaSet: {
        reader_->ReadValue();
        Put("[");
        bool first = true;
        for (;;) {
          std::string name = reader_->ReadStr();
          if (name.empty()) break;
          if (!first) Put(", ");
          Put(name);
          first = false;
        }
        Put("]");
        break;
      }
      case vaCollection: {
        const auto nesting = EnterNesting();
        reader_->ReadValue();
        Put("<");
        while (!reader_->EndOfList()) {
          NewLine(level + 1);
          Put("item");
          TValueType n = reader_->NextValue();
          if (n == vaInt8 || n == vaInt16 || n == vaInt32 || n == vaInt64)
            Put(" [" + std::to_string(reader_->ReadInt64()) + "]");
          Put(kLineBreak);
          reader_->CheckValue(vaList);
          while (!reader_->EndOfList()) ConvertProperty(level + 2);
          reader_->ReadListEnd();
          Indent(level + 1);
          Put("end");
        }
        reader_->ReadListEnd();
        Put(">");
        break;
      }
    }
    (void)in;
  }

  TReader* reader_;
  TStream& out_;
  std::string buf_;
  int depth_ = 0;
};

// --- text -> binary ------------------------------------------------------------------------------

class TextToBinary {
 public:
  TextToBinary(TStream& input, TWriter& writer) : parser_(New<TParser>(input)), writer_(&writer) {}
  ~TextToBinary() { parser_->Free(); }

  void Run() {
    writer_->WriteSignature();
    ConvertObject();
    if (parser_->Token() != toEOF) parser_->Error("End of file expected");
  }

 private:
  // One more level of nesting until the block ends.
  [[nodiscard]] auto EnterNesting() {
    if (depth_ >= kMaxFilerDepth) parser_->Error("Form text is nested too deeply");
    ++depth_;
    return TScopeExit([this]() noexcept { --depth_; });
  }

  void WriteName(const std::string& s) {
    if (s.size() > 255) parser_->Error("Identifier too long");
    writer_->WriteStr(s);
  }

  void ConvertObject() {
    const auto nesting = EnterNesting();
    bool isInherited = false, isInline = false;
    if (parser_->TokenSymbolIs("INHERITED"))
      isInherited = true;
    else if (parser_->TokenSymbolIs("INLINE"))
      isInline = true;
    else
      parser_->CheckTokenSymbol("object");
    parser_->NextToken();
    parser_->CheckToken(toSymbol);
    std::string name = parser_->TokenString();
    std::string className;
    parser_->NextToken();
    if (parser_->Token() == ':') {
      parser_->NextToken();
      parser_->CheckToken(toSymbol);
      className = parser_->TokenString();
      parser_->NextToken();
    } else {
      className = name;
      name.clear();
    }
    std::uint8_t flags = 0;
    std::int64_t position = 0;
    if (parser_->Token() == '[') {
      parser_->NextToken();
      parser_->CheckToken(toInteger);
      position = parser_->TokenInt();
      if (position < INT32_MIN || position > INT32_MAX) parser_->Error("Invalid child position");
      parser_->NextToken();
      parser_->CheckToken(']');
      parser_->NextToken();
      flags |= ffChildPos;
    }
    if (isInherited) flags |= ffInherited;
    if (isInline) flags |= ffInline;
    writer_->WritePrefix(flags, static_cast<int>(position));
    WriteName(className);
    WriteName(name);
    while (!(parser_->TokenSymbolIs("END") || parser_->TokenSymbolIs("OBJECT") || parser_->TokenSymbolIs("INHERITED") ||
             parser_->TokenSymbolIs("INLINE"))) {
      if (parser_->Token() == toEOF) parser_->Error("end expected");
      ConvertProperty();
    }
    writer_->WriteListEnd();
    while (!parser_->TokenSymbolIs("END")) {
      if (parser_->Token() == toEOF) parser_->Error("end expected");
      ConvertObject();
    }
    writer_->WriteListEnd();
    parser_->NextToken();
  }

  void ConvertProperty() {
    parser_->CheckToken(toSymbol);
    std::string name = parser_->TokenString();
    parser_->NextToken();
    while (parser_->Token() == '.') {
      parser_->NextToken();
      parser_->CheckToken(toSymbol);
      name += '.';
      name += parser_->TokenString();
      parser_->NextToken();
    }
    WriteName(name);
    parser_->CheckToken('=');
    parser_->NextToken();
    ConvertValue();
  }

  // Currency text ("-12.3456") to its stored value, exactly.
  std::int64_t CurrencyValue(const std::string& text) {
    std::size_t i = 0;
    bool neg = false;
    if (i < text.size() && text[i] == '-') neg = true, ++i;
    std::uint64_t whole = 0, frac = 0;
    int fracDigits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      if (whole > 922337203685476ULL) parser_->Error("Invalid currency value");
      whole = whole * 10 + static_cast<unsigned>(text[i] - '0');
    }
    if (i < text.size() && text[i] == '.') {
      for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (fracDigits == 4) {
          if (text[i] != '0') parser_->Error("Invalid currency value");
          continue;
        }
        frac = frac * 10 + static_cast<unsigned>(text[i] - '0');
        ++fracDigits;
      }
    }
    if (i != text.size()) {  // exponent form: go through the float value
      double v = parser_->TokenFloat() * 10000.0;
      if (!(v > -9.2e18 && v < 9.2e18)) parser_->Error("Invalid currency value");
      return static_cast<std::int64_t>(std::nearbyint(v));
    }
    while (fracDigits < 4) frac *= 10, ++fracDigits;
    std::uint64_t mag = whole * 10000 + frac;
    if (mag > static_cast<std::uint64_t>(INT64_MAX)) parser_->Error("Invalid currency value");
    return neg ? -static_cast<std::int64_t>(mag) : static_cast<std::int64_t>(mag);
  }

  void ConvertValue() {
    TParser& p = *parser_;
    if (p.Token() == toString || p.Token() == toWString) {
      bool wide = false;
      std::string ansi;
      WideString w;
      for (;;) {
        if (p.Token() == toWString) wide = true;
        ansi += p.TokenString();
        w += p.TokenWideString();
        p.NextToken();
        if (p.Token() != '+') break;
        p.NextToken();
        if (p.Token() != toString && p.Token() != toWString) p.Error("String expected");
      }
      if (wide)
        writer_->WriteWideString(w);
      else
        writer_->WriteString(ansi);
      return;
    }
    switch (p.Token()) {
      case toSymbol: {
        std::string ident = p.TokenComponentIdent();
        if (ident.size() > 255) p.Error("Identifier too long");
        writer_->WriteIdent(ident);
        break;
      }
      case toInteger:
        writer_->WriteInteger(p.TokenInt());
        break;
      case toFloat:
        switch (p.FloatType()) {
          case 's':
            // from the largest single value plus half a step on, the value would round to infinity
            if (std::fabs(p.TokenFloat()) >= 0x1.ffffffp127)
              p.Error("Invalid floating point value: " + p.TokenString());
            writer_->WriteSingle(static_cast<float>(p.TokenFloat()));
            break;
          case 'c':
            writer_->WriteCurrencyRaw(CurrencyValue(p.TokenString()));
            break;
          case 'd':
            writer_->WriteDate(p.TokenFloat());
            break;
          default:
            writer_->WriteExtended(p.TokenExtended());
            break;
        }
        break;
      case '[': {
        p.NextToken();
        writer_->WriteValue(vaSet);
        if (p.Token() != ']') {
          for (;;) {
            p.CheckToken(toSymbol);
            WriteName(p.TokenString());
            p.NextToken();
            if (p.Token() == ']') break;
            p.CheckToken(',');
            p.NextToken();
          }
        }
        writer_->WriteStr("");
        break;
      }
      case '(': {
        const auto nesting = EnterNesting();
        p.NextToken();
        writer_->WriteListBegin();
        while (p.Token() != ')') {
          if (p.Token() == toEOF) p.Error("')' expected");
          ConvertValue();
        }
        writer_->WriteListEnd();
        break;
      }
      case '{':
        writer_->WriteBinary(p.HexToBinary());
        break;
      case '<': {
        const auto nesting = EnterNesting();
        p.NextToken();
        writer_->WriteValue(vaCollection);
        while (p.Token() != '>') {
          p.CheckTokenSymbol("item");
          p.NextToken();
          if (p.Token() == '[') {
            p.NextToken();
            p.CheckToken(toInteger);
            writer_->WriteInteger(p.TokenInt());
            p.NextToken();
            p.CheckToken(']');
            p.NextToken();
          }
          writer_->WriteListBegin();
          while (!p.TokenSymbolIs("end")) {
            if (p.Token() == toEOF) p.Error("end expected");
            ConvertProperty();
          }
          writer_->WriteListEnd();
          p.NextToken();
        }
        writer_->WriteListEnd();
        break;
      }
      default:
        p.Error("Invalid property value");
    }
    p.NextToken();
  }

  TParser* parser_;
  TWriter* writer_;
  int depth_ = 0;
};

// The class name of the root object of a binary form.
std::string RootClassName(TStream& binary) {
  std::int64_t pos = binary.Position();
  TReader* r = New<TReader>(binary);
  std::string name;
  try {
    r->ReadSignature();
    std::uint8_t flags;
    int childPos;
    r->ReadPrefix(flags, childPos);
    name = r->ReadStr();
  } catch (...) {
    r->Free();
    binary.SetPosition(pos);
    throw;
  }
  r->Free();
  binary.SetPosition(pos);
  return name;
}

}  // namespace

TStreamOriginalFormat TestStreamFormat(TStream& stream) {
  std::int64_t pos = stream.Position();
  unsigned char head[4] = {0, 0, 0, 0};
  std::int64_t n = stream.Read(head, 4);
  stream.SetPosition(pos);
  if (n >= 3 && head[0] == 0xFF && head[1] == 0x0A && head[2] == 0x00) return sofResource;
  if (n >= 3 && head[0] == 'T' && head[1] == 'P' && head[2] == 'F') return sofBinary;
  if (n >= 1) return sofText;
  return sofUnknown;
}

void ObjectBinaryToText(TStream& input, TStream& output) {
  BinaryToText converter(input, output);
  converter.Run();
}

void ObjectTextToBinary(TStream& input, TStream& output) {
  TOwned<TWriter> writer(New<TWriter>(output));
  ObjectTextToBinary(input, *writer);
}

void ObjectTextToBinary(TStream& input, TWriter& writer) {
  TextToBinary converter(input, writer);
  converter.Run();
}

void WriteResourceHeader(TStream& output, const std::string& name, std::uint32_t size) {
  if (name.find('\0') != std::string::npos) throw EWriteError("Invalid resource name");
  output.WriteU8(0xFF);
  output.WriteU16(10);  // RT_RCDATA
  output.WriteBytes(name);
  output.WriteU8(0);
  output.WriteU16(0x1030);
  output.WriteU32(size);
}

std::uint32_t ReadResourceHeader(TStream& input, std::string& name) {
  if (input.ReadU8() != 0xFF || input.ReadU16() != 10) throw EReadError("Invalid stream format");
  name.clear();
  for (;;) {
    char c = static_cast<char>(input.ReadU8());
    if (c == '\0') break;
    if (name.size() >= 256) throw EReadError("Invalid stream format");
    name += c;
  }
  input.ReadU16();  // memory flags
  std::uint32_t size = input.ReadU32();
  std::int64_t left = input.Size() - input.Position();
  if (left < 0 || size > static_cast<std::uint64_t>(left)) throw EReadError("Stream read error");
  return size;
}

void ObjectResourceToText(TStream& input, TStream& output) {
  std::string name;
  std::uint32_t size = ReadResourceHeader(input, name);
  std::string form = input.ReadBytes(size);
  TReadOnlyMemoryStream* ms = New<TReadOnlyMemoryStream>(form.data(), form.size());
  try {
    ObjectBinaryToText(*ms, output);
  } catch (...) {
    ms->Free();
    throw;
  }
  ms->Free();
}

void ObjectTextToResource(TStream& input, TStream& output) {
  TMemoryStream* ms = New<TMemoryStream>();
  try {
    ObjectTextToBinary(input, *ms);
    ms->SetPosition(0);
    std::string cls = RootClassName(*ms);
    if (ms->Size() > UINT32_MAX) throw EWriteError("Form too large");
    WriteResourceHeader(output, UpperCase(cls), static_cast<std::uint32_t>(ms->Size()));
    ms->SaveToStream(output);
  } catch (...) {
    ms->Free();
    throw;
  }
  ms->Free();
}

std::string ObjectTextToBinary(const std::string& text) {
  TOwned<TStringStream> in(New<TStringStream>(text));
  TOwned<TStringStream> out(New<TStringStream>());
  ObjectTextToBinary(*in, *out);
  return out->DataString();
}

std::string ObjectBinaryToText(const std::string& binary) {
  TOwned<TReadOnlyMemoryStream> in(New<TReadOnlyMemoryStream>(binary.data(), binary.size()));
  TOwned<TStringStream> out(New<TStringStream>());
  ObjectBinaryToText(*in, *out);
  return out->DataString();
}
