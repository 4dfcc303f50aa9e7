#include "EWebPage.h"

#include <cstdio>

#include "ECore.h"
#include "EReportSteps.h"
#include "SysUtils.h"

std::string ChooseHtmlTemplate(const std::string& htmlTemplate, const std::string& defaultTemplate) {
  std::string collapsed;
  bool inRun = false;
  for (char c : htmlTemplate) {
    if (static_cast<unsigned char>(c) < 32) {
      if (!inRun) collapsed += ' ';
      inRun = true;
    } else {
      collapsed += c;
      inRun = false;
    }
  }
  return Trim(collapsed).empty() ? defaultTemplate : htmlTemplate;
}

std::string WebPageIdComment(std::uint32_t id) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "<!-- VantorLog ID: %08X -->", static_cast<unsigned>(id));
  return buf;
}

std::string BuildWebErrorPageFrom(const std::string& text, bool withButton, const std::string& htmlTemplate,
                                  const std::string& title, const std::string& idComment) {
  std::string body = EscapeHtmlText(text);
  if (withButton) body += kWebErrorPageButton;
  // Every spelling of the place-holder becomes the text.
  const std::string lower = LowerCase(htmlTemplate);
  const std::string tag = LowerCase(kHtmlTagPlaceholder);
  std::string page;
  std::size_t from = 0;
  for (std::size_t at = lower.find(tag); at != std::string::npos; at = lower.find(tag, from)) {
    page.append(htmlTemplate, from, at - from);
    page += kHtmlTagPlaceholder;
    from = at + tag.size();
  }
  page.append(htmlTemplate, from, std::string::npos);
  const std::string lowerPage = LowerCase(page);
  const std::size_t open = lowerPage.find("<title>");
  if (open == std::string::npos || lowerPage.find("</title>", open) == std::string::npos)
    page = "<title>" + title + "</title>" + page;
  return ReplaceAllText(page, kHtmlTagPlaceholder, body) + idComment;
}

std::string WebPageResponseHeader(std::size_t pageLength, bool withStatusLine) {
  return std::string(withStatusLine ? "Status: 200 Error\r\n" : "") +
         "Content-Type: text/html\r\nContent-Length: " + std::to_string(pageLength) + "\r\nContent:\r\n\r\n";
}

bool MayBeWinCgiRequestFile(const std::string& name, std::uint64_t size) {
  if (name.empty() || name.find_first_of("*?") != std::string::npos) return false;
  return size <= kMaxWinCgiRequestFileSize;
}

std::string CommandLineArgument(const std::string& commandLine, std::size_t index) {
  std::size_t at = 0;
  const std::size_t n = commandLine.size();
  for (std::size_t token = 0;; ++token) {
    while (at < n && (commandLine[at] == ' ' || commandLine[at] == '\t')) ++at;
    if (at >= n) return std::string();
    std::string value;
    bool quoted = false;
    for (; at < n && (quoted || (commandLine[at] != ' ' && commandLine[at] != '\t')); ++at) {
      if (commandLine[at] == '"')
        quoted = !quoted;
      else
        value += commandLine[at];
    }
    if (token == index) return value;
  }
}
