// The host program's kind (console, CGI, WinCGI, server extension, web
// framework) and the delivery of the error page to a web program's client.
#pragma once

#include <string>

struct TReportRun;

bool IsCgiApp();
// A windowed program started with a WinCGI request file (found once).
bool IsWinCgiApp();
// The WinCGI output file found by IsWinCgiApp (empty for none).
std::string WinCgiOutputFile();
bool IsIsapiModule();
// Whether the web framework's message display is hooked (never in this build).
bool IsIntraWebApp();
// Neither a web program nor a console program.
bool IsGuiApp();

// The finished page for `text` from the module's HtmlTemplate (or the default
// template), with a new identifier comment.
std::string BuildWebErrorPage(const std::string& text, bool withButton);
// The identifier comment of the last page built.
std::string LastWebPageIdComment();
// Delivers the page as the response of the extension, on standard output of a
// CGI program or in a WinCGI output file; false (with a library warning) when
// it could not be delivered.
bool SendWebErrorPage(const std::string& page);
// The web framework's message display is not hooked here: a warning and false.
bool ShowIntraWebErrorPage();

// The pipeline's web error page with a text (and its "Ok" button); true when delivered.
bool ShowReportWebPage(TReportRun& run, const std::string& text);
