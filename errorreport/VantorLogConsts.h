// The library's constant tables: the factory texts of the module options, the
// names of the report fields, the help lines of the percent variables and the
// rows of an option editor.
#pragma once

#include <cstddef>

constexpr int kCustomTextCount = 158;
constexpr int kReportFieldCount = 48;
constexpr int kPercentHelpLineCount = 26;
constexpr int kOptionEditorRowCount = 171;

// Factory default of custom text 0..157 (text 153 is reserved and empty).
extern const char* const kDefaultCustomTexts[kCustomTextCount];
// "Section|Field" names of the report fields; entry k is bit k of ReportFields.
extern const char* const kReportFieldNames[kReportFieldCount];
// "Name | help" lines of the variables a text may contain.
extern const char* const kPercentHelpLines[kPercentHelpLineCount];

// A row of the option editor: a group heading (text -1) or the caption of a custom text.
struct TOptionEditorRow {
  const char* caption;
  int text;
};
extern const TOptionEditorRow kOptionEditorRows[kOptionEditorRowCount];
