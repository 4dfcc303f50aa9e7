#include "Strings.h"

#include <algorithm>

#include "Filer.h"
#include "Scope.h"
#include "Streams.h"
#include "SysUtils.h"

FW_IMPLEMENT_CLASS(TStrings)
// clang-format off
FW_BEGIN_CLASS(TStringList)
  FW_PROP(Sorted, Sorted, SetSorted) FW_DEFAULT(false)
  FW_PROP(CaseSensitive, CaseSensitive, SetCaseSensitive) FW_DEFAULT(false)
  FW_PROP(Duplicates, Duplicates, Duplicates) FW_DEFAULT(dupIgnore)
  FW_EVENT(OnChange, OnChange)
  FW_EVENT(OnChanging, OnChanging)
FW_END_CLASS

void TStrings::Error(const char* message, int index) const {
  throw EStringListError(Format(message, index));
}
// clang-format on

TObject* TStrings::GetObject(int) const {
  return nullptr;
}
void TStrings::PutObject(int, TObject*) {}

void TStrings::Put(int index, const std::string& s) {
  TObject* obj = GetObject(index);
  Delete(index);
  InsertObject(index, s, obj);
}

void TStrings::InsertObject(int index, const std::string& s, TObject* obj) {
  Insert(index, s);
  PutObject(index, obj);
}

int TStrings::Add(const std::string& s) {
  int i = GetCount();
  Insert(i, s);
  return i;
}

int TStrings::AddObject(const std::string& s, TObject* obj) {
  int i = Add(s);
  PutObject(i, obj);
  return i;
}

void TStrings::AddStrings(const TStrings& other) {
  TUpdateScope update(*this);
  for (int i = 0; i < other.GetCount(); ++i) AddObject(other.Get(i), other.GetObject(i));
}

void TStrings::Assign(TPersistent* source) {
  if (source && source->Is<TStrings>()) {
    auto* src = static_cast<TStrings*>(source);
    if (src == this) return;
    TUpdateScope update(*this);
    Clear();
    Delimiter = src->Delimiter;
    QuoteChar = src->QuoteChar;
    NameValueSeparator = src->NameValueSeparator;
    AddStrings(*src);
    return;
  }
  inherited::Assign(source);
}

void TStrings::DefineProperties(TFiler& filer) {
  inherited::DefineProperties(filer);
  filer.DefineProperty(
      "Strings",
      [this](TReader& reader) {
        reader.ReadListBegin();
        TUpdateScope update(*this);
        Clear();
        while (!reader.EndOfList()) Add(reader.ReadString());
        reader.ReadListEnd();
      },
      [this](TWriter& writer) {
        writer.WriteListBegin();
        for (int i = 0; i < GetCount(); ++i) writer.WriteString(Get(i));
        writer.WriteListEnd();
      },
      GetCount() > 0);
}

void TStrings::BeginUpdate() {
  if (updateCount_ == 0) SetUpdateState(true);
  ++updateCount_;
}

void TStrings::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) SetUpdateState(false);
}

void TStrings::SetUpdateState(bool) {}

int TStrings::CompareStrings(const std::string& a, const std::string& b) const {
  return AnsiCompareText(a, b);
}

int TStrings::IndexOf(const std::string& s) const {
  for (int i = 0; i < GetCount(); ++i)
    if (CompareStrings(Get(i), s) == 0) return i;
  return -1;
}

int TStrings::IndexOfName(const std::string& name) const {
  for (int i = 0; i < GetCount(); ++i) {
    std::string s = Get(i);
    std::size_t p = s.find(NameValueSeparator);
    if (p != std::string::npos && CompareStrings(s.substr(0, p), name) == 0) return i;
  }
  return -1;
}

int TStrings::IndexOfObject(const TObject* obj) const {
  for (int i = 0; i < GetCount(); ++i)
    if (GetObject(i) == obj) return i;
  return -1;
}

void TStrings::Exchange(int a, int b) {
  TUpdateScope update(*this);
  std::string sa = Get(a), sb = Get(b);
  TObject *oa = GetObject(a), *ob = GetObject(b);
  Put(a, sb);
  Put(b, sa);
  PutObject(a, ob);
  PutObject(b, oa);
}

void TStrings::Move(int from, int to) {
  if (from == to) return;
  TUpdateScope update(*this);
  std::string s = Get(from);
  TObject* obj = GetObject(from);
  Delete(from);
  InsertObject(to, s, obj);
}

bool TStrings::Equals(const TStrings& other) const {
  if (GetCount() != other.GetCount()) return false;
  for (int i = 0; i < GetCount(); ++i)
    if (Get(i) != other.Get(i)) return false;
  return true;
}

std::string TStrings::Names(int index) const {
  std::string s = Get(index);
  std::size_t p = s.find(NameValueSeparator);
  return p == std::string::npos ? std::string() : s.substr(0, p);
}

std::string TStrings::Values(const std::string& name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

std::string TStrings::ValueFromIndex(int index) const {
  std::string s = Get(index);
  std::size_t p = s.find(NameValueSeparator);
  return p == std::string::npos ? std::string() : s.substr(p + 1);
}

void TStrings::SetValue(const std::string& name, const std::string& value) {
  int i = IndexOfName(name);
  if (!value.empty()) {
    std::string entry = name + NameValueSeparator + value;
    if (i < 0)
      Add(entry);
    else
      Put(i, entry);
  } else if (i >= 0) {
    Delete(i);
  }
}

std::string TStrings::Text() const {
  std::string out;
  for (int i = 0; i < GetCount(); ++i) {
    out += Get(i);
    out += "\r\n";
  }
  return out;
}

void TStrings::SetText(const std::string& text) {
  TUpdateScope update(*this);
  Clear();
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t j = i;
    while (j < text.size() && text[j] != '\r' && text[j] != '\n') ++j;
    Add(text.substr(i, j - i));
    if (j < text.size() && text[j] == '\r') ++j;
    if (j < text.size() && text[j] == '\n') ++j;
    i = j;
  }
}

std::string TStrings::DelimitedText() const {
  int n = GetCount();
  if (n == 1 && Get(0).empty()) return std::string(2, QuoteChar);
  std::string out;
  for (int i = 0; i < n; ++i) {
    std::string s = Get(i);
    bool quote = false;
    for (char c : s)
      if (static_cast<unsigned char>(c) <= ' ' || c == QuoteChar || c == Delimiter) quote = true;
    if (quote) {
      std::string q(1, QuoteChar);
      for (char c : s) {
        q += c;
        if (c == QuoteChar) q += c;
      }
      q += QuoteChar;
      s = q;
    }
    if (i) out += Delimiter;
    out += s;
  }
  return out;
}

void TStrings::SetDelimitedText(const std::string& text) {
  auto blank = [](char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; };
  TUpdateScope update(*this);
  Clear();
  std::size_t p = 0, n = text.size();
  while (p < n && blank(text[p])) ++p;
  while (p < n) {
    std::string s;
    if (text[p] == QuoteChar) {
      ++p;
      while (p < n) {
        if (text[p] == QuoteChar) {
          if (p + 1 < n && text[p + 1] == QuoteChar) {
            s += QuoteChar;
            p += 2;
            continue;
          }
          ++p;
          break;
        }
        s += text[p++];
      }
    } else {
      std::size_t start = p;
      while (p < n && !blank(text[p]) && text[p] != Delimiter && text[p] != '\0') ++p;
      s = text.substr(start, p - start);
      if (p < n && text[p] == '\0') p = n;  // text ends at a NUL
    }
    Add(s);
    while (p < n && blank(text[p])) ++p;
    if (p < n && text[p] == Delimiter) {
      if (p + 1 == n) Add("");
      do {
        ++p;
      } while (p < n && blank(text[p]));
    }
  }
}

std::string TStrings::CommaText() const {
  TStrings* self = const_cast<TStrings*>(this);
  const char d = Delimiter, q = QuoteChar;
  TScopeExit restore([self, d, q] {
    self->Delimiter = d;
    self->QuoteChar = q;
  });
  self->Delimiter = ',';
  self->QuoteChar = '"';
  return DelimitedText();
}

void TStrings::SetCommaText(const std::string& text) {
  const char d = Delimiter, q = QuoteChar;
  TScopeExit restore([this, d, q] {
    Delimiter = d;
    QuoteChar = q;
  });
  Delimiter = ',';
  QuoteChar = '"';
  SetDelimitedText(text);
}

void TStrings::LoadFromStream(TStream& stream) {
  std::int64_t left = stream.Size() - stream.Position();
  SetText(stream.ReadBytes(left < 0 ? 0 : left));
}

void TStrings::SaveToStream(TStream& stream) const {
  stream.WriteBytes(Text());
}

void TStrings::LoadFromFile(const std::string& fileName) {
  WithFileStream(fileName, fmOpenRead | fmShareDenyWrite, [this](TStream& f) { LoadFromStream(f); });
}

void TStrings::SaveToFile(const std::string& fileName) const {
  WithFileStream(fileName, fmCreate, [this](TStream& f) { SaveToStream(f); });
}

// --- TStringList -----------------------------------------------------------------------------

void TStringList::Destroy() {
  OnChange = nullptr;
  OnChanging = nullptr;
  Clear();
  inherited::Destroy();
}

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= GetCount()) Error("List index out of bounds (%d)", index);
}

std::string TStringList::Get(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].s;
}

TObject* TStringList::GetObject(int index) const {
  CheckIndex(index);
  return items_[static_cast<std::size_t>(index)].obj;
}

void TStringList::Put(int index, const std::string& s) {
  if (sorted_) Error("Operation not allowed on sorted list", 0);
  CheckIndex(index);
  Changing();
  items_[static_cast<std::size_t>(index)].s = s;
  Changed();
}

void TStringList::PutObject(int index, TObject* obj) {
  CheckIndex(index);
  Changing();
  TObject*& slot = items_[static_cast<std::size_t>(index)].obj;
  TObject* old = slot;
  slot = obj;
  if (OwnsObjects && old && old != obj) old->Free();
  Changed();
}

void TStringList::InsertItem(int index, const std::string& s, TObject* obj) {
  Changing();
  items_.insert(items_.begin() + index, Item{s, obj});
  Changed();
}

void TStringList::Insert(int index, const std::string& s) {
  InsertObject(index, s, nullptr);
}

void TStringList::InsertObject(int index, const std::string& s, TObject* obj) {
  if (sorted_) Error("Operation not allowed on sorted list", 0);
  if (index < 0 || index > GetCount()) Error("List index out of bounds (%d)", index);
  InsertItem(index, s, obj);
}

int TStringList::Add(const std::string& s) {
  return AddObject(s, nullptr);
}

int TStringList::AddObject(const std::string& s, TObject* obj) {
  int index;
  if (!sorted_) {
    index = GetCount();
  } else if (Find(s, index)) {
    if (Duplicates == dupIgnore) return index;
    if (Duplicates == dupError) Error("String list does not allow duplicates", 0);
    while (index < GetCount() && CompareStrings(items_[static_cast<std::size_t>(index)].s, s) == 0) ++index;
  }
  InsertItem(index, s, obj);
  return index;
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  Changing();
  TObject* obj = items_[static_cast<std::size_t>(index)].obj;
  items_.erase(items_.begin() + index);
  if (OwnsObjects && obj) obj->Free();
  Changed();
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  std::vector<Item> old;
  old.swap(items_);
  if (OwnsObjects)
    for (Item& it : old)
      if (it.obj) it.obj->Free();
  Changed();
}

void TStringList::Exchange(int a, int b) {
  CheckIndex(a);
  CheckIndex(b);
  Changing();
  std::swap(items_[static_cast<std::size_t>(a)], items_[static_cast<std::size_t>(b)]);
  Changed();
}

int TStringList::IndexOf(const std::string& s) const {
  if (!sorted_) return inherited::IndexOf(s);
  int i;
  return Find(s, i) ? i : -1;
}

bool TStringList::Find(const std::string& s, int& index) const {
  int lo = 0, hi = GetCount() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = lo + (hi - lo) / 2;
    int c = CompareStrings(items_[static_cast<std::size_t>(mid)].s, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (Duplicates != dupAccept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

void TStringList::Sort() {
  Changing();
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const Item& a, const Item& b) { return CompareStrings(a.s, b.s) < 0; });
  Changed();
}

void TStringList::CustomSort(TStringListSortCompare compare) {
  if (sorted_ || GetCount() < 2) return;
  Changing();
  // sort a permutation so the comparison sees the list's current indices
  std::vector<int> order(items_.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return compare(this, a, b) < 0; });
  std::vector<Item> sortedItems;
  sortedItems.reserve(items_.size());
  for (int i : order) sortedItems.push_back(items_[static_cast<std::size_t>(i)]);
  items_.swap(sortedItems);
  Changed();
}

void TStringList::SetSorted(bool sorted) {
  if (sorted_ == sorted) return;
  if (sorted) Sort();
  sorted_ = sorted;
}

void TStringList::SetCaseSensitive(bool on) {
  if (caseSensitive_ == on) return;
  caseSensitive_ = on;
  if (sorted_) Sort();
}

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
  return caseSensitive_ ? AnsiCompareStr(a, b) : AnsiCompareText(a, b);
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TStringList::SetUpdateState(bool updating) {
  if (updating)
    Changing();
  else
    Changed();
}
