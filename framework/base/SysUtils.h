// The string, number and file-name routines the framework and its users share.
// Case-insensitive comparisons fold ASCII letters only (component names,
// identifiers and property names are ASCII); AnsiCompareText goes through a
// replaceable locale comparison.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "Exceptions.h"
#include "Types.h"

// One argument of Format.
struct TVarRec {
  enum class Kind { Int, UInt, Float, Str, Ptr, Char };
  Kind kind;
  std::int64_t i = 0;
  double f = 0;
  std::string s;
  const void* p = nullptr;

  TVarRec(int v) : kind(Kind::Int), i(v) {}
  TVarRec(long v) : kind(Kind::Int), i(v) {}
  TVarRec(long long v) : kind(Kind::Int), i(v) {}
  TVarRec(unsigned v) : kind(Kind::UInt), i(static_cast<std::int64_t>(v)) {}
  TVarRec(unsigned long v) : kind(Kind::UInt), i(static_cast<std::int64_t>(v)) {}
  TVarRec(unsigned long long v) : kind(Kind::UInt), i(static_cast<std::int64_t>(v)) {}
  TVarRec(double v) : kind(Kind::Float), f(v) {}
  TVarRec(char c) : kind(Kind::Char), s(1, c) {}
  TVarRec(const char* v) : kind(Kind::Str), s(v ? v : "") {}
  TVarRec(std::string v) : kind(Kind::Str), s(std::move(v)) {}
  TVarRec(std::string_view v) : kind(Kind::Str), s(v) {}
  TVarRec(const void* v) : kind(Kind::Ptr), p(v) {}
};

// Formats `args` into `format`. Every specifier has the shape
// %[index:][-][width][.precision]type: "index:" picks the argument by its
// zero-based position (the ones after it follow on from there), "-" aligns to
// the left within the width, and the type is one of d u x X e f g n m p s c;
// "%%" is a percent sign, and "*" as width or precision takes it from the next
// (integer) argument. A bad format or argument raises EConvertError.
std::string FormatV(std::string_view format, const std::vector<TVarRec>& args);
template <class... A>
std::string Format(std::string_view format, A&&... args) {
  return FormatV(format, std::vector<TVarRec>{TVarRec(std::forward<A>(args))...});
}

// The decimal separator used by float conversions (form text always uses ".").
extern char DecimalSeparator;

std::string IntToStr(std::int64_t value);
std::string IntToHex(std::uint64_t value, int digits);
// Decimal, or hexadecimal after "$" or "0x"; an optional sign; surrounding blanks are allowed.
bool TryStrToInt64(std::string_view text, std::int64_t& value);
bool TryStrToInt(std::string_view text, int& value);
int StrToInt(std::string_view text);  // raises EConvertError "'%s' is not a valid integer value"
std::int64_t StrToInt64(std::string_view text);
int StrToIntDef(std::string_view text, int fallback);
std::string FloatToStr(double value);  // shortest text that reads back to the same double
bool TryStrToFloat(std::string_view text, double& value);
double StrToFloat(std::string_view text);  // raises EConvertError "'%s' is not a valid floating point value"

std::string UpperCase(std::string_view s);  // ASCII letters only
std::string LowerCase(std::string_view s);
int CompareStr(std::string_view a, std::string_view b);   // byte order; <0, 0, >0
int CompareText(std::string_view a, std::string_view b);  // ASCII case folded
bool SameText(std::string_view a, std::string_view b);
// Locale-aware case-insensitive comparison; the default folds Windows-1252
// letters. The Windows build replaces it with the system locale's comparison.
using LocaleCompareFunc = int (*)(std::string_view a, std::string_view b, bool ignoreCase);
extern LocaleCompareFunc AnsiCompareHook;
int AnsiCompareText(std::string_view a, std::string_view b);
int AnsiCompareStr(std::string_view a, std::string_view b);
bool AnsiSameText(std::string_view a, std::string_view b);
std::string AnsiUpperCase(std::string_view s);
std::string AnsiLowerCase(std::string_view s);

std::string Trim(std::string_view s);  // removes characters up to and including blanks
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string QuotedStr(std::string_view s);
// Every occurrence of `from` in `s`, found case-sensitively from left to right
// without overlapping, replaced by `to` (the inserted text is not searched
// again). An empty `from` leaves `s` as it is.
std::string StringReplaceAll(std::string_view s, std::string_view from, std::string_view to);

// File names (both '\\' and '/' separate folders; ':' ends a drive).
std::string ExtractFilePath(std::string_view name);  // with the trailing delimiter
std::string ExtractFileDir(std::string_view name);   // without it
std::string ExtractFileName(std::string_view name);
std::string ExtractFileExt(std::string_view name);  // with the dot
std::string ChangeFileExt(std::string_view name, std::string_view ext);
std::string IncludeTrailingPathDelimiter(std::string_view path);
std::string ExcludeTrailingPathDelimiter(std::string_view path);

// Dates and times: TDateTime counts days since the OLE Automation date's day
// zero, 30 December 1899; the fraction is the time of day.
TDateTime EncodeDate(int year, int month, int day);  // raises EConvertError for an invalid date
TDateTime EncodeTime(int hour, int minute, int second, int msec);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
TDateTime Now();  // local time
// The calendar fields of `t` in the local time zone.
std::tm LocalTime(std::time_t t);
// The time as LongTimeFormat gives it: h/hh hours, n/nn minutes, s/ss seconds, z/zzz
// milliseconds, AM/PM; other characters are copied, text in quotes verbatim.
extern std::string LongTimeFormat;
std::string FormatTime(std::string_view format, TDateTime value);
std::string TimeToStr(TDateTime value);

// UTF-8 and Windows-1252 conversions (the native build's ANSI code page).
WideString Utf8ToWide(std::string_view s);  // invalid sequences become U+FFFD
std::string WideToUtf8(const WideString& s);
WideString AnsiToWide(std::string_view s);
std::string WideToAnsi(const WideString& s);  // unmappable characters become '?'

// The running system's platform and version, as the operating-system version
// query reports them: Win32Platform 1 on the Windows 9x line, 2 on the NT
// line; 0 (and version 0.0) until the Win32 layer has read them at start-up
// (InitPlatformVersion), and on a system without that query.
constexpr int PlatformWin9x = 1;
constexpr int PlatformNT = 2;
extern int Win32Platform;
extern int Win32MajorVersion;
extern int Win32MinorVersion;
// True when the version read is at least major.minor on the NT line.
bool IsNTVersionAtLeast(int major, int minor);
