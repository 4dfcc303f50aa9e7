// The numbered header tree of a report: sections with a title and a rule,
// and numbered "label: value" lines whose ": " stand in one column.
#pragma once

#include <string>

#include "Object.h"

class TLogItem : public TObject {
  FW_CLASS(TLogItem, TObject)
 public:
  // The first section added is numbered firstSection + 1.
  explicit TLogItem(int firstSection) : fFirstSection(firstSection), fSection(firstSection) {}

  void Clear();
  void AddSection(const std::string& title);
  // Always takes the next item number; a hidden line leaves its number unused.
  void AddLine(const std::string& label, const std::string& value, bool shown);
  // The tree with its empty sections dropped, the ": " aligned and the rules stretched;
  // each line ends in CRLF.
  void GetFormattedText(std::string& text) const;
  const std::string& Text() const { return fText; }

 private:
  std::string fText;
  int fFirstSection;
  int fSection;
  int fItem = 0;
};
