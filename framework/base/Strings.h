// String lists. TStrings is the abstract list of strings with attached
// objects (Values/Names, Text, CommaText, streaming); TStringList stores them,
// optionally sorted, and reports changes through OnChanging/OnChange.
#pragma once

#include <string>
#include <vector>

#include "Persistent.h"

class TStream;

FW_ENUM(TDuplicates, dupIgnore, dupAccept, dupError);

class TStrings : public TPersistent {
  FW_CLASS(TStrings, TPersistent)
 public:
  // The storage operations that descendants provide.
  virtual std::string Get(int index) const = 0;
  virtual int GetCount() const = 0;
  virtual TObject* GetObject(int index) const;
  virtual void Put(int index, const std::string& s);
  virtual void PutObject(int index, TObject* obj);
  virtual void Insert(int index, const std::string& s) = 0;
  virtual void InsertObject(int index, const std::string& s, TObject* obj);
  virtual void Delete(int index) = 0;
  virtual void Clear() = 0;

  int Count() const { return GetCount(); }
  std::string Strings(int index) const { return Get(index); }
  std::string operator[](int index) const { return Get(index); }
  TObject* Objects(int index) const { return GetObject(index); }
  virtual int Add(const std::string& s);
  virtual int AddObject(const std::string& s, TObject* obj);
  void Append(const std::string& s) { Add(s); }
  void AddStrings(const TStrings& other);
  void Assign(TPersistent* source) override;
  void DefineProperties(TFiler& filer) override;  // the "Strings" list of a form

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  virtual int IndexOf(const std::string& s) const;
  int IndexOfName(const std::string& name) const;
  int IndexOfObject(const TObject* obj) const;
  virtual void Exchange(int a, int b);
  virtual void Move(int from, int to);
  bool Equals(const TStrings& other) const;

  // "Name=Value" entries. Setting an empty value removes the entry.
  std::string Names(int index) const;
  std::string Values(const std::string& name) const;
  void SetValue(const std::string& name, const std::string& value);
  std::string ValueFromIndex(int index) const;

  // Every line followed by CR LF; setting splits at CR LF, CR or LF.
  std::string Text() const;
  virtual void SetText(const std::string& text);
  // Items separated by Delimiter; items with blanks, delimiters or quotes are quoted with QuoteChar.
  std::string DelimitedText() const;
  void SetDelimitedText(const std::string& text);
  std::string CommaText() const;
  void SetCommaText(const std::string& text);
  char Delimiter = ',';
  char QuoteChar = '"';
  char NameValueSeparator = '=';

  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

 protected:
  virtual void SetUpdateState(bool updating);
  virtual int CompareStrings(const std::string& a, const std::string& b) const;
  [[noreturn]] void Error(const char* message, int index) const;

 private:
  int updateCount_ = 0;
};

class TStringList;
using TStringListSortCompare = int (*)(TStringList* list, int a, int b);

class TStringList : public TStrings {
  FW_CLASS(TStringList, TStrings)
 public:
  TStringList() = default;
  void Destroy() override;

  std::string Get(int index) const override;
  int GetCount() const override { return static_cast<int>(items_.size()); }
  TObject* GetObject(int index) const override;
  void Put(int index, const std::string& s) override;
  void PutObject(int index, TObject* obj) override;
  void Insert(int index, const std::string& s) override;
  void InsertObject(int index, const std::string& s, TObject* obj) override;
  void Delete(int index) override;
  void Clear() override;
  int Add(const std::string& s) override;
  int AddObject(const std::string& s, TObject* obj) override;
  int IndexOf(const std::string& s) const override;
  void Exchange(int a, int b) override;

  // Binary search of a sorted list; false with the insertion point when absent.
  bool Find(const std::string& s, int& index) const;
  virtual void Sort();
  virtual void CustomSort(TStringListSortCompare compare);

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool on);
  TDuplicates Duplicates = dupIgnore;
  bool OwnsObjects = false;  // frees the attached objects when entries go

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  virtual void Changed();
  virtual void Changing();
  void SetUpdateState(bool updating) override;
  int CompareStrings(const std::string& a, const std::string& b) const override;

 private:
  struct Item {
    std::string s;
    TObject* obj = nullptr;
  };
  void InsertItem(int index, const std::string& s, TObject* obj);
  void CheckIndex(int index) const;

  std::vector<Item> items_;
  bool sorted_ = false;
  bool caseSensitive_ = false;
};
