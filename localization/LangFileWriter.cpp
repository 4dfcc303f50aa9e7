#include "LangFileWriter.h"

#include <cstring>

#include "ByteWriter.h"
#include "Exceptions.h"
#include "JStrings.h"
#include "LFProc.h"
#include "PackedStrings.h"
#include "SysUtils.h"

namespace {

void PutCount(std::string& out, int count) {
  if (count > 0xFFFF) throw EWriteError("Stream write error: more than 65535 entries in one list");
  ByteWriter(out).U16LE(static_cast<std::uint16_t>(count));
}

std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

class TImageWriter {
 public:
  TImageWriter(const TLangFileHeader& header, const TLangResource& store, int index)
      : h_(header), store_(store), index_(index), f_(header.Format) {}

  std::string Write() {
    if (f_ < 1 || f_ > kLangFileNewestFormat)
      throw EWriteError("Stream write error: language file format " + std::to_string(f_) + " cannot be written");
    std::string body;
    WriteUnits(body);
    WriteForms(body);
    if (f_ > 6) WriteGroups(body);

    std::string out;
    ByteWriter w(out);
    w.U16LE(kLangFileMagic);
    w.U16LE(static_cast<std::uint16_t>(f_));
    w.U32LE(h_.Version);
    if (f_ > 4) w.U32LE(h_.Build);
    w.U16LE(h_.LangID);
    if (f_ > 2) w.U16LE(h_.BasedOnLangID);
    WritePackedAnsiString(out, h_.EnglishName, kPackedHeaderFormat);
    WritePackedWideString(out, h_.LocalizedName, kPackedHeaderFormat);
    w.U16LE(static_cast<std::uint16_t>(h_.IsNative ? 1 : 0));
    if (f_ > 1) w.U16LE(h_.Attributes);
    w.U32LE(constMax_);
    w.U32LE(propMax_);
    if (f_ > 6) w.U32LE(extMax_);
    return out + body;
  }

 private:
  void Flags(std::string& out, std::uint16_t flags) {
    if (f_ > 1) ByteWriter(out).U16LE(flags);
  }
  void Tail(std::string& out, const TLResValue* value) {
    ByteWriter w(out);
    w.U32LE(static_cast<std::uint32_t>(value->Stamp()));
    w.Bytes(value->ChangeTime().data(), 8);
  }
  static void Max(std::uint32_t& max, std::int32_t id) {
    if (static_cast<std::uint32_t>(id) > max) max = static_cast<std::uint32_t>(id);
  }

  void WriteUnits(std::string& out) {
    ByteWriter w(out);
    const TLResUnitList* units = store_.Units();
    PutCount(out, units->Count());
    for (int u = 0; u < units->Count(); ++u) {
      TLResUnitItem* unit = units->GetUnit(u);
      WritePackedAnsiString(out, unit->Name(), f_);
      Flags(out, unit->Flags());
      TLResConstantList* constants = unit->Constants();
      PutCount(out, constants->Count());
      for (int c = 0; c < constants->Count(); ++c) {
        TLResConstantItem* item = constants->GetConstant(c);
        TLResValue* value = item->GetValue(index_);
        WritePackedAnsiString(out, item->Name(), f_);
        Flags(out, value->Flags());
        w.U16LE(static_cast<std::uint16_t>(item->StringID()));
        w.U32LE(static_cast<std::uint32_t>(item->ID()));
        WritePackedWideString(out, value->WideText(), f_);
        Tail(out, value);
        Max(constMax_, item->ID());
      }
    }
  }

  void WriteProperties(std::string& out, TLResPropertyList* props) {
    ByteWriter w(out);
    PutCount(out, props->Count());
    for (int p = 0; p < props->Count(); ++p) {
      TLResPropertyItem* item = props->GetProperty(p);
      TLResValue* value = item->GetValue(index_);
      std::uint8_t kind = item->GetValueKind();
      WritePackedAnsiString(out, item->Name(), f_);
      Flags(out, value->Flags());
      w.U32LE(static_cast<std::uint32_t>(item->ID()));
      w.U32LE(kind);
      if (kind == lvkWideString || kind == lvkWideString4) {
        WritePackedWideString(out, value->WideText(), f_);
      } else if (kind == lvkFloat && f_ > 3) {
        double v = 0;
        TryStrToFloat(Narrow(value->WideText()), v);
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        w.U64LE(bits);
      } else if (kind == lvkInteger && f_ > 3) {
        w.U32LE(static_cast<std::uint32_t>(TextToIntOrZero(Narrow(value->WideText()))));
      }
      Tail(out, value);
      Max(propMax_, item->ID());
    }
  }

  void WriteForms(std::string& out) {
    const TLResFormList* forms = store_.Forms();
    PutCount(out, forms->Count());
    for (int f = 0; f < forms->Count(); ++f) {
      TLResFormItem* form = forms->GetForm(f);
      WritePackedAnsiString(out, form->Name(), f_);
      Flags(out, form->Flags());
      WriteProperties(out, form->Properties());
      TLResComponentList* components = form->Components();
      PutCount(out, components->Count());
      for (int c = 0; c < components->Count(); ++c) {
        TLResComponentItem* component = components->GetComponent(c);
        WritePackedAnsiString(out, component->Name(), f_);
        Flags(out, component->Flags());
        WriteProperties(out, component->Properties());
      }
    }
  }

  void WriteGroups(std::string& out) {
    ByteWriter w(out);
    const TLResExtGroupList* groups = store_.ExtGroups();
    PutCount(out, groups->Count());
    for (int g = 0; g < groups->Count(); ++g) {
      TLResExtGroupItem* group = groups->GetGroup(g);
      WritePackedAnsiString(out, group->Name(), f_);
      w.U16LE(0);
      TLResExternalList* items = group->Items();
      PutCount(out, items->Count());
      for (int i = 0; i < items->Count(); ++i) {
        TLResExternalItem* item = items->GetExternal(i);
        TLResValue* value = item->GetValue(index_);
        WritePackedAnsiString(out, item->Name(), f_);
        w.U16LE(value->Flags());
        w.U32LE(static_cast<std::uint32_t>(item->ID()));
        WritePackedWideString(out, value->WideText(), f_);
        Tail(out, value);
        Max(extMax_, item->ID());
      }
    }
  }

  const TLangFileHeader& h_;
  const TLangResource& store_;
  int index_;
  int f_;
  std::uint32_t constMax_ = 0, propMax_ = 0, extMax_ = 0;
};

}  // namespace

std::string WriteLangFileImage(const TLangFileHeader& header, const TLangResource& store, int langIndex) {
  return TImageWriter(header, store, langIndex).Write();
}

std::string WriteEmbeddedLanguageList(const std::vector<TEmbeddedLanguage>& languages, std::uint16_t listFormat,
                                      std::uint32_t version) {
  std::string out = "JLL";
  ByteWriter w(out);
  w.U16LE(listFormat);
  w.U32LE(version);
  PutCount(out, static_cast<int>(languages.size()));
  for (const TEmbeddedLanguage& l : languages) {
    w.U16LE(l.LangID);
    if (listFormat >= 3) WritePackedAnsiString(out, l.EnglishName, 6);
    if (listFormat >= 4) WritePackedWideString(out, l.LocalizedName, 6);
  }
  for (const TEmbeddedLanguage& l : languages) {
    if (listFormat <= 1) {
      if (l.Image.size() > 0xFFFF) throw EWriteError("Stream write error: language image too large for list format 1");
      w.U16LE(static_cast<std::uint16_t>(l.Image.size()));
    } else {
      w.U32LE(static_cast<std::uint32_t>(l.Image.size()));
    }
    w.Bytes(l.Image);
  }
  return out;
}

std::string WriteSettingsResource(const std::string& signature, std::uint32_t version, std::uint16_t langId,
                                  const std::string& englishName, const std::u16string& localizedName,
                                  std::uint16_t kind, std::uint32_t build) {
  std::string out = signature.substr(0, 4);
  out.resize(4, ' ');
  ByteWriter w(out);
  w.U32LE(version);
  w.U16LE(langId);
  WritePackedAnsiString(out, englishName, kPackedHeaderFormat);
  WritePackedWideString(out, localizedName, kPackedHeaderFormat);
  w.U16LE(kind);
  w.U16LE(0);
  w.U32LE(build);
  w.U8(0);
  return out;
}
