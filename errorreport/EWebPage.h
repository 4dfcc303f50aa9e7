// The error page of web-server programs: building the page from the
// template and the text, and the response header that goes in front of it.
#pragma once

#include <cstdint>
#include <string>

// The literal that the template's text place-holder is spelled as.
constexpr const char* kHtmlTagPlaceholder = "<%HTML_TAG%>";
// The most bytes a WinCGI request file may have.
constexpr std::uint64_t kMaxWinCgiRequestFileSize = 102400;

// The template to use: `htmlTemplate` unless it is empty once each run of
// control characters became one blank and the ends were trimmed, else
// `defaultTemplate`.
std::string ChooseHtmlTemplate(const std::string& htmlTemplate, const std::string& defaultTemplate);

// The page identifier comment "<!-- VantorLog ID: XXXXXXXX -->" of a number.
std::string WebPageIdComment(std::uint32_t id);

// The page: the HTML-escaped text (with the "Ok" button when asked) put in
// place of every place-holder (any spelling) of the template; a template with
// no "<title>" before a "</title>" gets "<title>" + `title` + "</title>" in
// front. `idComment` follows the page.
std::string BuildWebErrorPageFrom(const std::string& text, bool withButton, const std::string& htmlTemplate,
                                  const std::string& title, const std::string& idComment);

// The header of a response for a page of `pageLength` bytes; CGI and WinCGI
// answers begin with the status line, a server extension sends that apart.
std::string WebPageResponseHeader(std::size_t pageLength, bool withStatusLine = true);

// Whether a first command-line argument may name a WinCGI request file: no
// wildcard, and a size of at most 102400 bytes.
bool MayBeWinCgiRequestFile(const std::string& name, std::uint64_t size);

// The command line's token `index` (0 the program): tokens are separated by
// blanks; a quoted part keeps its blanks and loses its quotes. Empty when the
// line has fewer tokens.
std::string CommandLineArgument(const std::string& commandLine, std::size_t index);
