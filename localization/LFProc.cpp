#include "LFProc.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "FileApi.h"
#include "JCompress.h"
#include "LangFileWriter.h"
#include "LocStreamErrors.h"
#include "PackedStrings.h"
#include "PrjProcs.h"
#include "ResProc.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TLangFile)

namespace {

[[noreturn]] void RaiseReadError() {
  RaisePackedReadError();
}

std::string ReadAll(TStream& stream) {
  stream.SetPosition(0);
  return stream.ReadBytes(stream.Size());
}

std::u16string Widen(const std::string& ascii) {
  return std::u16string(ascii.begin(), ascii.end());
}

// One record's common tail: stamp and change time.
struct TRecordTail {
  std::int32_t stamp = 0;
  std::array<std::uint8_t, 8> time{};
};

TRecordTail ReadTail(ByteReader& r) {
  TRecordTail t;
  t.stamp = r.I32LE();
  std::string_view bytes = r.View(8);
  std::memcpy(t.time.data(), bytes.data(), 8);
  return t;
}

void RaiseMax(std::uint32_t& max, std::uint32_t id) {
  if (id > max) max = id;
}

// The body reader of one load.
class TBodyLoader {
 public:
  TBodyLoader(TLangFile& file, TLangResource* store, std::uint32_t options, int index)
      : file_(file), store_(store), options_(options), index_(index), create_(index < 0), format_(file.FormatVersion) {}

  void Load(ByteReader& r) {
    props_.reset(New<TLinearPropertyList>());
    consts_.reset(New<TLinearConstantList>());
    exts_.reset(New<TLinearExternalList>());
    store_->Forms()->CollectProperties(props_.get(), true);
    store_->Units()->CollectConstants(consts_.get(), true);
    store_->ExtGroups()->CollectItems(exts_.get(), true);

    ReadUnits(r);
    if (create_)
      Renumber(consts_.get(), file_.ConstMaxID, [&](TLinearItemList* l) {
        store_->Units()->CollectConstants(static_cast<TLinearConstantList*>(l), true);
      });
    ReadForms(r);
    if (create_)
      Renumber(props_.get(), file_.PropertyMaxID, [&](TLinearItemList* l) {
        store_->Forms()->CollectProperties(static_cast<TLinearPropertyList*>(l), true);
      });
    if (format_ > 6) {
      ReadGroups(r);
      if (create_)
        Renumber(exts_.get(), file_.ExtItemMaxID, [&](TLinearItemList* l) {
          store_->ExtGroups()->CollectItems(static_cast<TLinearExternalList*>(l), true);
        });
    }
  }

 private:
  std::uint16_t Flags(ByteReader& r) { return format_ > 1 ? r.U16LE() : 0; }

  void ReadUnits(ByteReader& r) {
    std::uint16_t units = r.U16LE();
    for (std::uint16_t u = 0; u < units; ++u) {
      std::string unitName = ReadPackedAnsiString(r, format_);
      std::uint16_t unitFlags = Flags(r);
      TLResUnitItem* unit = create_ ? store_->Units()->FindOrAdd(unitName) : nullptr;
      std::uint16_t count = r.U16LE();
      for (std::uint16_t c = 0; c < count; ++c) {
        std::string name = ReadPackedAnsiString(r, format_);
        std::uint16_t valueFlags = Flags(r);
        std::uint16_t stringId = r.U16LE();
        std::uint32_t id = r.U32LE();
        std::u16string text = ReadPackedWideString(r, format_);
        TRecordTail tail = ReadTail(r);
        RaiseMax(file_.ConstMaxID, id);

        TLResValue* value = nullptr;
        if (create_) {
          unit->SetFlags(unitFlags);
          std::int32_t newId = static_cast<std::int32_t>(id);
          if ((options_ & lfoRenumberUsedIDs) && store_->FindConstantByID(newId)) newId = 0;
          TLResConstantItem* item = unit->Constants()->FindOrAdd(newId, name, stringId);
          value = item->GetNativeValue();
          value->SetWideText(text);
          if (tail.stamp < 0) tail.stamp = static_cast<std::int32_t>(file_.Version);
        } else {
          int at = (options_ & lfoMatchByName) ? consts_->IndexOfName(unitName, name)
                                               : consts_->IndexOfID(static_cast<std::int32_t>(id));
          if (at < 0) continue;
          value = consts_->GetItem(at)->GetValue(index_);
          value->SetWideText(text);
        }
        Use(value, tail, valueFlags);
      }
    }
  }

  void ReadForms(ByteReader& r) {
    std::uint16_t forms = r.U16LE();
    for (std::uint16_t f = 0; f < forms; ++f) {
      std::string formName = ReadPackedAnsiString(r, format_);
      std::uint16_t formFlags = Flags(r);
      TLResFormItem* form = create_ ? store_->Forms()->FindOrAdd(formName) : nullptr;
      std::uint16_t own = r.U16LE();
      for (std::uint16_t p = 0; p < own; ++p) ReadProperty(r, form, formFlags, formName, "");
      std::uint16_t components = r.U16LE();
      for (std::uint16_t c = 0; c < components; ++c) {
        std::string componentName = ReadPackedAnsiString(r, format_);
        std::uint16_t componentFlags = Flags(r);
        if (create_) form->Components()->FindOrAdd(componentName)->SetFlags(componentFlags);
        std::uint16_t count = r.U16LE();
        for (std::uint16_t p = 0; p < count; ++p) ReadProperty(r, form, formFlags, formName, componentName);
      }
    }
  }

  void ReadProperty(ByteReader& r, TLResFormItem* form, std::uint16_t formFlags, const std::string& formName,
                    const std::string& componentName) {
    std::string name = ReadPackedAnsiString(r, format_);
    std::uint16_t valueFlags = Flags(r);
    std::uint32_t id = r.U32LE();
    std::uint8_t kind = static_cast<std::uint8_t>(r.U32LE() & 0xFF);
    std::u16string text;
    bool hasText = ReadTypedValue(r, kind, format_, text);
    TRecordTail tail = ReadTail(r);
    RaiseMax(file_.PropertyMaxID, id);

    TLResValue* value = nullptr;
    if (create_) {
      form->SetFlags(formFlags);
      std::int32_t newId = static_cast<std::int32_t>(id);
      if ((options_ & lfoRenumberUsedIDs) && store_->FindPropertyByID(newId)) newId = 0;
      TLResPropertyItem* item = form->AddProperty(componentName, newId, name, kind);
      value = item->GetNativeValue();
      if (hasText) value->SetWideText(text);
      if (tail.stamp < 0) tail.stamp = static_cast<std::int32_t>(file_.Version);
    } else {
      int at = (options_ & lfoMatchByName) ? props_->IndexOfPath(formName, componentName, name)
                                           : props_->IndexOfID(static_cast<std::int32_t>(id));
      if (at < 0) return;
      TLResPropertyItem* item = props_->GetItem(at);
      if (item->GetValueKind() != kind) return;  // the value was read with the record's own kind and is dropped
      value = item->GetValue(index_);
      if (hasText) value->SetWideText(text);
    }
    Use(value, tail, valueFlags);
  }

  void ReadGroups(ByteReader& r) {
    std::uint16_t groups = r.U16LE();
    for (std::uint16_t g = 0; g < groups; ++g) {
      std::string groupName = ReadPackedAnsiString(r, format_);
      r.U16LE();  // group flags: read, not kept
      TLResExtGroupItem* group = create_ ? store_->ExtGroups()->FindOrAdd(groupName) : nullptr;
      std::uint16_t count = r.U16LE();
      for (std::uint16_t i = 0; i < count; ++i) {
        std::string name = ReadPackedAnsiString(r, format_);
        std::uint16_t valueFlags = r.U16LE();
        std::uint32_t id = r.U32LE();
        std::u16string text = ReadPackedWideString(r, format_);
        TRecordTail tail = ReadTail(r);
        RaiseMax(file_.ExtItemMaxID, id);

        TLResValue* value = nullptr;
        if (create_) {
          value = group->Items()->FindOrAdd(static_cast<std::int32_t>(id), name)->GetNativeValue();
        } else {
          TLResExternalItem* item = nullptr;
          if (options_ & lfoMatchByName) {
            item = store_->FindExternalItem(groupName, name);
          } else {
            int at = exts_->IndexOfID(static_cast<std::int32_t>(id));
            if (at >= 0) item = exts_->GetItem(at);
          }
          if (!item) continue;
          value = item->GetValue(index_);
        }
        value->SetWideText(text);
        Use(value, tail, valueFlags);
      }
    }
  }

  // Stores the record's tail into a used value.
  void Use(TLResValue* value, const TRecordTail& tail, std::uint16_t valueFlags) {
    value->SetChangeTime(tail.time);
    value->SetStamp(tail.stamp);
    value->ChangeFlags(0xFFFF, false);
    value->ChangeFlags(valueFlags, true);
    value->SetLangID(static_cast<std::uint16_t>(file_.LangID));
    value->RefreshSortKey();
    TLResValue* native = value->Owner()->GetValue(0);
    if (value->Stamp() < native->Stamp() && value->HasFlags(lfaUseOutdated)) value->ChangeFlags(lfaUseOutdated, false);
  }

  // Gives every item still without an ID the next number after the section's max ID.
  template <class Collect>
  void Renumber(TLinearItemList* list, std::uint32_t& max, Collect collect) {
    list->Clear();
    collect(list);
    for (int i = 0; i < list->Count(); ++i) {
      TLResItem* item = list->GetResItem(i);
      if (item->ID() != 0) continue;
      ++max;
      item->SetID(static_cast<std::int32_t>(max));
    }
  }

  TLangFile& file_;
  TLangResource* store_;
  std::uint32_t options_;
  int index_;
  bool create_;
  int format_;
  TOwned<TLinearPropertyList> props_;
  TOwned<TLinearConstantList> consts_;
  TOwned<TLinearExternalList> exts_;
};

}  // namespace

bool ReadTypedValue(ByteReader& reader, std::uint8_t kind, int format, std::u16string& text) {
  switch (kind) {
    case lvkFloat: {
      if (format < 4) return false;
      std::uint64_t bits = reader.U64LE();
      double v;
      std::memcpy(&v, &bits, sizeof v);
      text = Widen(FloatToStr(v));
      return true;
    }
    case lvkInteger:
      if (format < 4) return false;
      text = Widen(std::to_string(reader.I32LE()));
      return true;
    case lvkWideString:
    case lvkWideString4:
      text = ReadPackedWideString(reader, format);
      return true;
    default:
      return false;
  }
}

namespace {
bool g_languageDllOnTheFly = false;
}  // namespace

void SetLanguageDLLOnTheFly(bool on) {
  g_languageDllOnTheFly = on;
}
bool LanguageDLLOnTheFly() {
  return g_languageDllOnTheFly;
}

void TLangFile::Init() {
  FormatVersion = kLangFileNewestFormat;
  LangID = 0;
  Version = 0;
  EnglishName.clear();
  LocalizedName.clear();
  IsNative = false;
  FileName.clear();
  ConstMaxID = PropertyMaxID = ExtItemMaxID = 0;
  Attributes = 0;
  BasedOnLangID = 0;
  Build = 0;
  LangIndex = 0;
  ReadOnly = false;
  Compressed = false;
}

TLangFile::TLangFile(const std::string& fileName, bool readOnly) {
  Init();
  FileName = fileName;
  ReadOnly = readOnly;
  if (!::FileExists(fileName)) return;
  if (!ReadOnly) {
    try {
      TFileStream probe(fileName, fmOpenReadWrite | fmShareDenyWrite);
    } catch (const EStreamError&) {
      ReadOnly = true;
    }
  }
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  std::int64_t size = CheckedFileSize(file);
  if (IsCompressedStream(file)) {
    // Only the first bytes: enough for the header, so that many files can be scanned quickly.
    std::string head = file.ReadBytes(std::min<std::int64_t>(size, kLangFileScanSize));
    ReadHeader(Expand(head, true), false);
  } else {
    Compressed = false;
    ReadHeader(file.ReadBytes(std::min<std::int64_t>(size, kLangFileHeaderMaxSize)), false);
  }
}

std::int64_t TLangFile::CheckedFileSize(TStream& file) {
  const std::int64_t size = file.Size();
  if (size > kLangFileMaxSize) throw ELFProcError(LoadResString(SLFInvalidFormat));
  return size;
}

std::string TLangFile::Expand(std::string_view bytes, bool prefix) {
  Compressed = true;
  return LzjDecompress(bytes, prefix);
}

std::size_t TLangFile::ReadHeader(TStream& stream, bool checkOnly) {
  std::string bytes = ReadAll(stream);
  if (IsLzjData(bytes)) bytes = Expand(bytes, false);
  return ReadHeader(bytes, checkOnly);
}

std::size_t TLangFile::ReadHeader(std::string_view bytes, bool checkOnly) {
  ByteReader r(bytes);
  try {
    std::uint16_t magic = r.U16LE();
    std::uint16_t format = r.U16LE();
    if (magic != kLangFileMagic || format == 0) throw ELFProcError(LoadResString(SLFInvalidFormat));
    if (format > kLangFileNewestFormat) throw ELFProcError(LoadResString(SLFTooNew));
    std::uint32_t version = r.U32LE();
    std::uint32_t build = format > 4 ? r.U32LE() : 0;
    std::uint16_t langId = r.U16LE();
    std::uint16_t basedOn = format > 2 ? r.U16LE() : 0;
    std::string english = ReadPackedAnsiString(r, kPackedHeaderFormat);
    std::u16string localized = ReadPackedWideString(r, kPackedHeaderFormat);
    bool isNative = r.U16LE() != 0;
    std::uint16_t attributes = format > 1 ? r.U16LE() : 0;
    std::uint32_t constMax = r.U32LE();
    std::uint32_t propMax = r.U32LE();
    std::uint32_t extMax = format > 6 ? r.U32LE() : 0;
    if (!checkOnly) {
      FormatVersion = format;
      Version = version;
      Build = build;
      LangID = langId;
      BasedOnLangID = basedOn;
      EnglishName = std::move(english);
      LocalizedName = std::move(localized);
      IsNative = isNative;
      Attributes = attributes;
      ConstMaxID = constMax;
      PropertyMaxID = propMax;
      ExtItemMaxID = extMax;
    }
  } catch (const EByteRange&) {
    RaiseReadError();
  }
  return r.Position();
}

void TLangFile::CheckTarget(TLangResource* store, int langIndex) {
  if (!store) throw ELFProcError(LoadResString(SLFInvalidStore));
  if (langIndex < 0) {
    store->Forms()->Clear();
    store->Units()->Clear();
    store->ExtGroups()->Clear();
  } else if (langIndex >= store->GetLanguageCount()) {
    throw ELFProcError(LoadResString(SLFInvalidIndex));
  }
}

void TLangFile::LoadFromStream(TStream& stream, TLangResource* store, std::uint32_t options, int langIndex) {
  CheckTarget(store, langIndex);
  LoadBody(ReadAll(stream), store, options, langIndex, true);
}

void TLangFile::LoadFromBytes(std::string_view bytes, TLangResource* store, std::uint32_t options, int langIndex) {
  CheckTarget(store, langIndex);
  LoadBody(bytes, store, options, langIndex, true);
}

void TLangFile::LoadIntoResource(TLangResource* store, int langIndex, std::uint32_t options) {
  std::string bytes;
  {
    TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
    bytes = file.ReadBytes(CheckedFileSize(file));
  }
  CheckTarget(store, langIndex);
  LoadBody(bytes, store, options, langIndex, false);
}

void TLangFile::LoadBody(std::string_view bytes, TLangResource* store, std::uint32_t options, int langIndex,
                         bool storeHeader) {
  std::string expanded;
  if (IsLzjData(bytes)) {
    expanded = Expand(bytes, false);
    bytes = expanded;
  }
  // The header's numbers matter to the body: the format, LANGID and version.
  std::size_t body = ReadHeader(bytes, !storeHeader);
  if (!storeHeader) {
    ByteReader r(bytes);
    r.Skip(2);
    FormatVersion = r.U16LE();
  }
  if (langIndex < 0) store->SetNativeLocale(static_cast<std::uint16_t>(LangID));
  ByteReader r(bytes);
  r.Seek(body);
  TBodyLoader loader(*this, store, options, langIndex);
  try {
    loader.Load(r);
  } catch (const EByteRange&) {
    RaiseReadError();
  }
}

// --- Language libraries ---------------------------------------------------------------------------

bool TLangFile::ReadLibSettingsTemplate(TResProcessor* resources, std::uint16_t& libraryKind) const {
  TResRCData* rcdata = resources ? resources->RCData() : nullptr;
  TResRCDataItem* item = rcdata ? rcdata->FindItem(kLibSettingsName) : nullptr;
  if (!item) return false;
  ByteReader reader(item->Data());
  try {
    if (reader.Bytes(4) != kLibSettingsSignature) throw ELFProcError(SLFInvalidNativeDLL);
    reader.Skip(4 + 2);  // version, LANGID
    ReadPackedAnsiString(reader, kPackedHeaderFormat);
    ReadPackedWideString(reader, kPackedHeaderFormat);
    if (reader.Remaining() >= 2) libraryKind = reader.U16LE();
  } catch (const EByteRange&) {
    throw ELFProcError(SLFInvalidNativeDLL);
  } catch (const ELFProcError&) {
    throw;
  } catch (const Exception&) {
    throw ELFProcError(SLFInvalidNativeDLL);
  }
  return true;
}

void TLangFile::TranslateResources(TResProcessor* resources, TLangResource* store) const {
  if (!store) throw ELFProcError(LoadResString(SLFInvalidStore));
  if (LangIndex < 0 || LangIndex >= store->GetLanguageCount()) throw ELFProcError(LoadResString(SLFInvalidIndex));
  if (TResString* strings = resources->Strings()) {
    TOwned<TLinearConstantList> constants(New<TLinearConstantList>());
    store->Units()->CollectConstants(constants.get(), false);
    const bool useOutdated = HasAttribute(lfaUseOutdated);
    for (int i = 0; i < constants->Count(); ++i) {
      TLResConstantItem* constant = constants->GetItem(i);
      TResStringItem* entry = strings->FindString(constant->StringID());
      if (!entry) continue;
      TLResValue* native = constant->GetNativeValue();
      TLResValue* translation = LangIndex < constant->Values()->Count() ? constant->GetValue(LangIndex) : nullptr;
      if (translation && (useOutdated || translation->Stamp() == native->Stamp()))
        entry->SetText(translation->WideText());
      else
        entry->SetText(native->WideText());
    }
  }
  TOwned<TFormProcessor> forms(New<TFormProcessor>());
  forms->UseUTF8 = HasAttribute(lfaNoCharsetAdjust);
  forms->ApplyCharset = !forms->UseUTF8;
  forms->ApplyBiDiMode = HasAttribute(lfaBiDiAdjust);
  forms->ShowOutdated = HasAttribute(lfaUseOutdated);
  forms->Store = store;
  for (int i = 0; i < store->Forms()->Count(); ++i) forms->FormNames()->Add(store->Forms()->GetForm(i)->Name());
  forms->LanguageIndex = LangIndex;
  forms->TargetLocale = static_cast<std::uint16_t>(LangID);
  forms->ProcessForms(resources);
}

void TLangFile::DropExeResources(TResProcessor* resources) {
  if (TResRCData* rcdata = resources ? resources->RCData() : nullptr) {
    rcdata->RemoveItem(kExeSettingsName);
    rcdata->RemoveItem(kLocLangsName);
  }
}

void TLangFile::WriteLibSettings(TResProcessor* resources, std::uint16_t libraryKind) const {
  TResRCDataItem* item = resources->RCData()->FindItem(kLibSettingsName);
  // The template was checked to hold the signature and the version, which the library keeps.
  ByteReader templateData(item->Data());
  templateData.Skip(4);
  item->SetData(WriteSettingsResource(kLibSettingsSignature, templateData.U32LE(), static_cast<std::uint16_t>(LangID),
                                      EnglishName, LocalizedName, libraryKind, Build));
}

void TLangFile::BuildLanguageDLL(void* module, TStream& stream, bool /*checkSync*/, TLangResource* store,
                                 const std::string& nativeFileName) {
  TOwned<TResProcessor> resources(New<TResProcessor>());
  if (LibraryTimeStamp) resources->TimeStamp = *LibraryTimeStamp;
  if (module)
    resources->LoadFromModule(module);
  else
    resources->LoadFromPEFile(nativeFileName);
  std::uint16_t libraryKind = kDefaultLibraryKind;
  if (store) {
    if (!ReadLibSettingsTemplate(resources.get(), libraryKind)) throw ELFProcError(SLFInvalidNativeDLL);
    TranslateResources(resources.get(), store);
    DropExeResources(resources.get());
    WriteLibSettings(resources.get(), libraryKind);
  }
  resources->WriteResourceDLL(stream);
}

void TLangFile::SaveLanguageDLL(void* module, const std::string& fileName, bool checkSync, TLangResource* store,
                                const std::string& nativeFileName) {
  TOwned<TMemoryStream> image(New<TMemoryStream>());
  BuildLanguageDLL(module, *image, checkSync, store, nativeFileName);
  TFileStream file(fileName, fmCreate);
  file.WriteBytes(image->DataString());
}
