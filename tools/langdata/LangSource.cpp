#include "LangSource.h"

#include <fstream>
#include <sstream>

namespace {

[[noreturn]] void Fail(const std::string& file, int line, const std::string& problem) {
  throw ELangSourceError(file + ":" + std::to_string(line) + ": " + problem);
}

TLangStatement Tokenize(const std::string& line, int number, const std::string& file) {
  TLangStatement st;
  st.Line = number;
  std::size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '"') {
      std::string text;
      ++i;
      bool closed = false;
      while (i < line.size()) {
        char d = line[i++];
        if (d == '"') {
          closed = true;
          break;
        }
        if (d == '\\') {
          if (i >= line.size()) break;
          char e = line[i++];
          switch (e) {
            case 'n':
              text += '\n';
              break;
            case 'r':
              text += '\r';
              break;
            case 't':
              text += '\t';
              break;
            case '"':
              text += '"';
              break;
            case '\\':
              text += '\\';
              break;
            default:
              Fail(file, number, std::string("unknown escape \\") + e);
          }
        } else {
          text += d;
        }
      }
      if (!closed) Fail(file, number, "unterminated text");
      st.Words.push_back(text);
      st.Quoted.push_back(true);
      continue;
    }
    std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '"') ++i;
    st.Words.push_back(line.substr(start, i - start));
    st.Quoted.push_back(false);
  }
  return st;
}

std::int64_t Number(const TLangStatement& st, std::size_t index, const std::string& file, std::int64_t min,
                    std::int64_t max) {
  if (index >= st.Words.size() || st.Quoted[index]) Fail(file, st.Line, "a number is missing");
  const std::string& w = st.Words[index];
  std::size_t used = 0;
  std::int64_t v = 0;
  try {
    v = std::stoll(w, &used, w.rfind("0x", 0) == 0 || w.rfind("0X", 0) == 0 ? 16 : 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used != w.size() || w.empty()) Fail(file, st.Line, "\"" + w + "\" is not a number");
  if (v < min || v > max) Fail(file, st.Line, "number " + w + " out of range");
  return v;
}

const std::string& Word(const TLangStatement& st, std::size_t index, const std::string& file, bool quoted) {
  if (index >= st.Words.size() || st.Quoted[index] != quoted)
    Fail(file, st.Line, quoted ? "a quoted text is missing" : "a name is missing");
  return st.Words[index];
}

void ExpectCount(const TLangStatement& st, std::size_t min, std::size_t max, const std::string& file) {
  if (st.Words.size() < min || st.Words.size() > max) Fail(file, st.Line, "wrong number of values for " + st.Words[0]);
}

std::u16string Text(const TLangStatement& st, std::size_t index, const std::string& file) {
  try {
    return Utf8ToUtf16(Word(st, index, file, true));
  } catch (const ELangSourceError& e) {
    Fail(file, st.Line, e.Message);
  }
}

}  // namespace

std::u16string Utf8ToUtf16(const std::string& text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    std::uint32_t cp;
    std::size_t n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      n = 3;
    } else if ((c & 0xF8) == 0xF0) {
      cp = c & 0x07;
      n = 4;
    } else {
      throw ELangSourceError("malformed UTF-8");
    }
    if (i + n > text.size()) throw ELangSourceError("malformed UTF-8");
    for (std::size_t k = 1; k < n; ++k) {
      unsigned char d = static_cast<unsigned char>(text[i + k]);
      if ((d & 0xC0) != 0x80) throw ELangSourceError("malformed UTF-8");
      cp = (cp << 6) | (d & 0x3F);
    }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

TLangSource ParseLangSource(const std::string& text, const std::string& file) {
  TLangSource src;
  src.FileName = file;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  bool haveLanguage = false;
  while (std::getline(in, line)) {
    ++number;
    TLangStatement st = Tokenize(line, number, file);
    if (st.Words.empty() || (!st.Quoted[0] && st.Words[0][0] == '#')) continue;
    if (st.Quoted[0]) Fail(file, number, "a statement starts with a keyword");
    const std::string& key = st.Words[0];
    TLangFileHeader& h = src.Header;
    if (key == "language") {
      ExpectCount(st, 4, 4, file);
      h.LangID = static_cast<std::uint16_t>(Number(st, 1, file, 0, 0xFFFF));
      h.EnglishName = Word(st, 2, file, true);
      h.LocalizedName = Text(st, 3, file);
      haveLanguage = true;
    } else if (key == "native") {
      ExpectCount(st, 1, 1, file);
      h.IsNative = true;
    } else if (key == "version") {
      ExpectCount(st, 2, 2, file);
      h.Version = static_cast<std::uint32_t>(Number(st, 1, file, 0, 0x7FFFFFFF));
    } else if (key == "build") {
      ExpectCount(st, 2, 2, file);
      h.Build = static_cast<std::uint32_t>(Number(st, 1, file, 0, 0xFFFFFFFF));
    } else if (key == "attributes") {
      ExpectCount(st, 2, 2, file);
      h.Attributes = static_cast<std::uint16_t>(Number(st, 1, file, 0, 0xFFFF));
    } else if (key == "based-on") {
      ExpectCount(st, 2, 2, file);
      h.BasedOnLangID = static_cast<std::uint16_t>(Number(st, 1, file, 0, 0xFFFF));
    } else if (!h.IsNative && (key == "const" || key == "prop" || key == "item")) {
      ExpectCount(st, 3, 3, file);
      TLangSourceText t;
      t.Kind = key;
      t.ID = static_cast<std::int32_t>(Number(st, 1, file, 1, 0x7FFFFFFF));
      t.Text = Text(st, 2, file);
      t.Line = number;
      src.Texts.push_back(std::move(t));
    } else if (h.IsNative && (key == "unit" || key == "form" || key == "component" || key == "group" ||
                              key == "const" || key == "prop" || key == "item" || key == "flags")) {
      // Checked when the store is built.
      src.Statements.push_back(std::move(st));
    } else {
      Fail(file, number, "unknown statement \"" + key + "\"");
    }
  }
  if (!haveLanguage) Fail(file, number, "no language statement");
  return src;
}

TLangSource LoadLangSource(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw ELangSourceError("cannot read " + fileName);
  std::ostringstream text;
  text << in.rdbuf();
  return ParseLangSource(text.str(), fileName);
}

void BuildNativeStore(const TLangSource& native, TLangResource& store) {
  const std::string& file = native.FileName;
  store.Forms()->Clear();
  store.Units()->Clear();
  store.ExtGroups()->Clear();
  store.SetNativeLocale(native.Header.LangID);
  const std::int32_t stamp = static_cast<std::int32_t>(native.Header.Version);
  TLResUnitItem* unit = nullptr;
  TLResFormItem* form = nullptr;
  TLResExtGroupItem* group = nullptr;
  std::uint16_t valueFlags = 0;
  auto setText = [&](TLResItem* item, const std::u16string& text) {
    TLResValue* v = item->GetNativeValue();
    v->SetWideText(text);
    v->SetStamp(stamp);
    v->ChangeFlags(valueFlags, true);
  };
  for (const TLangStatement& st : native.Statements) {
    const std::string& key = st.Words[0];
    if (key == "flags") {
      ExpectCount(st, 2, 2, file);
      valueFlags = static_cast<std::uint16_t>(Number(st, 1, file, 0, 0xFFFF));
    } else if (key == "unit") {
      ExpectCount(st, 2, 3, file);
      unit = store.Units()->FindOrAdd(Word(st, 1, file, false));
      if (st.Words.size() > 2) unit->SetFlags(static_cast<std::uint16_t>(Number(st, 2, file, 0, 0xFFFF)));
      form = nullptr;
      group = nullptr;
    } else if (key == "form") {
      ExpectCount(st, 2, 3, file);
      form = store.Forms()->FindOrAdd(Word(st, 1, file, false));
      if (st.Words.size() > 2) form->SetFlags(static_cast<std::uint16_t>(Number(st, 2, file, 0, 0xFFFF)));
      unit = nullptr;
      group = nullptr;
    } else if (key == "group") {
      ExpectCount(st, 2, 2, file);
      group = store.ExtGroups()->FindOrAdd(Word(st, 1, file, false));
      unit = nullptr;
      form = nullptr;
    } else if (key == "component") {
      ExpectCount(st, 2, 3, file);
      if (!form) Fail(file, st.Line, "component outside a form");
      TLResComponentItem* c = form->Components()->FindOrAdd(Word(st, 1, file, false));
      if (st.Words.size() > 2) c->SetFlags(static_cast<std::uint16_t>(Number(st, 2, file, 0, 0xFFFF)));
    } else if (key == "const") {
      ExpectCount(st, 5, 5, file);
      if (!unit) Fail(file, st.Line, "const outside a unit");
      std::int32_t id = static_cast<std::int32_t>(Number(st, 3, file, 1, 0x7FFFFFFF));
      if (store.FindConstantByID(id)) Fail(file, st.Line, "constant ID " + std::to_string(id) + " used twice");
      auto* item = unit->Constants()->FindOrAdd(id, Word(st, 1, file, false),
                                                static_cast<std::int32_t>(Number(st, 2, file, 0, 0xFFFF)));
      setText(item, Text(st, 4, file));
    } else if (key == "prop") {
      ExpectCount(st, 5, 5, file);
      if (!form) Fail(file, st.Line, "prop outside a form");
      std::string path = Word(st, 1, file, false);
      std::string component, property = path;
      if (std::size_t dot = path.find('.'); dot != std::string::npos) {
        component = path.substr(0, dot);
        property = path.substr(dot + 1);
      }
      std::int32_t id = static_cast<std::int32_t>(Number(st, 2, file, 1, 0x7FFFFFFF));
      if (store.FindPropertyByID(id)) Fail(file, st.Line, "property ID " + std::to_string(id) + " used twice");
      auto kind = static_cast<std::uint8_t>(Number(st, 3, file, 0, 255));
      setText(form->AddProperty(component, id, property, kind), Text(st, 4, file));
    } else if (key == "item") {
      ExpectCount(st, 4, 4, file);
      if (!group) Fail(file, st.Line, "item outside a group");
      std::int32_t id = static_cast<std::int32_t>(Number(st, 2, file, 1, 0x7FFFFFFF));
      setText(group->Items()->FindOrAdd(id, Word(st, 1, file, false)), Text(st, 3, file));
    }
  }
}

int AddTranslation(const TLangSource& translation, TLangResource& store) {
  int index = store.AddLanguage(0, translation.Header.LangID);
  std::vector<bool> seen;
  for (const TLangSourceText& t : translation.Texts) {
    TLResItem* item = nullptr;
    if (t.Kind == "const") {
      item = store.FindConstantByID(t.ID);
    } else if (t.Kind == "prop") {
      item = store.FindPropertyByID(t.ID);
    } else {
      store.ForEachItem([&](TLResItem* i) {
        if (!item && dynamic_cast<TLResExternalItem*>(i) && i->ID() == t.ID) item = i;
      });
    }
    if (!item) Fail(translation.FileName, t.Line, t.Kind + " " + std::to_string(t.ID) + " is not in the native source");
    TLResValue* v = item->GetValue(index);
    v->SetWideText(t.Text);
    v->SetStamp(item->GetNativeValue()->Stamp());
    v->SetLangID(translation.Header.LangID);
    v->RefreshSortKey();
  }
  return index;
}
