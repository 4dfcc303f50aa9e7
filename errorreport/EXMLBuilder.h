// The XML form of the log of error reports: elements with escaped attributes,
// and the document of a log's entries (General, CallStack, Modules,
// Processes, Assembler, CPU and, for old entries, HoToReproduce).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "Object.h"

class TLogFile;

// One XML element with its attributes, content and owned children.
class TXMLItem : public TObject {
  FW_CLASS(TXMLItem, TObject)
 public:
  explicit TXMLItem(const std::string& name, TXMLItem* parent = nullptr) : fName(name), fParent(parent) {}
  ~TXMLItem() override;
  TXMLItem* AddChild(const std::string& name);
  void AddAttribute(const std::string& name, const std::string& value);
  // The content, escaped.
  void SetValue(const std::string& value);
  void GetXmlText(std::string& text) const;
  const std::string& Name() const { return fName; }
  TXMLItem* Parent() const { return fParent; }
  int ChildCount() const { return static_cast<int>(fChildren.size()); }
  TXMLItem* Child(int index) const { return fChildren.at(static_cast<std::size_t>(index)); }

 private:
  void Write(std::string& text, const std::string& indent) const;
  std::string fName;
  std::string fAttributes;
  std::string fValue;
  std::vector<TXMLItem*> fChildren;
  TXMLItem* fParent;
};

// Reads a byte text in the system's ANSI code page as UTF-16.
using TXmlAnsiDecoder = std::u16string (*)(const std::string& text);
// The decoder XmlEscape uses: the Win32 half sets the system's own; until then
// (and natively) windows-1252, with U+FFFD for its unassigned bytes. Null
// restores that default.
void SetXmlAnsiDecoder(TXmlAnsiDecoder decoder);

// A byte text made safe for XML: tab, LF and CR, the quote, ampersand,
// apostrophe and angle brackets and DEL become character references; the
// characters from 0x80 (the text read in the ANSI code page) become references
// to their code points, except the C1 controls, unassigned bytes and broken
// surrogates, which become "?" like the other control bytes.
std::string XmlEscape(const std::string& text);

// The XML document of all entries of a log. Enciphered stack cells are
// deciphered (with the cipher key in force) when the log has a password.
void BuildLogXml(const TLogFile& logFile, std::string& text);
