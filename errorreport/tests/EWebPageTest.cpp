#include "EWebPage.h"

#include <gtest/gtest.h>

#include "ECore.h"
#include "EReportSteps.h"

namespace {

const std::string kId = "<!-- VantorLog ID: 0000BEEF -->";

TEST(WebPage, PageFromTemplate) {
  struct Case {
    const char* name;
    std::string templ;
    std::string expected;
  };
  const Case cases[] = {
      {"no title: put in front of the whole template", "<html><head></head><body><%HTML_TAG%></body></html>",
       "<title>Error</title><html><head></head><body>a &lt;b&gt;<br>\r\nc</body></html>" + kId},
      {"lower-case place-holder still filled", "<title>T</title><p><%html_tag%></p>",
       "<title>T</title><p>a &lt;b&gt;<br>\r\nc</p>" + kId},
      {"every place-holder filled", "<TITLE>x</TITLE><%Html_Tag%>|<%HTML_TAG%>",
       "<TITLE>x</TITLE>a &lt;b&gt;<br>\r\nc|a &lt;b&gt;<br>\r\nc" + kId},
      {"a closing title before the opening one is no title", "</title><title><%HTML_TAG%>",
       "<title>Error</title></title><title>a &lt;b&gt;<br>\r\nc" + kId},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BuildWebErrorPageFrom("a <b>\r\nc", false, c.templ, "Error", kId), c.expected) << c.name;
}

TEST(WebPage, ButtonAndIdComment) {
  const std::string page = BuildWebErrorPageFrom("x", true, "<title>t</title><%HTML_TAG%>", "Error", kId);
  EXPECT_EQ(page, std::string("<title>t</title>x") + kWebErrorPageButton + kId);
  EXPECT_EQ(WithWebErrorPageButton(page), page);
  EXPECT_EQ(WebPageIdComment(0xBEEF), kId);
  EXPECT_EQ(WebPageIdComment(0xDEADBEEF), "<!-- VantorLog ID: DEADBEEF -->");
}

TEST(WebPage, EmptyTemplateFallsBackToDefault) {
  const struct {
    std::string templ;
    bool useDefault;
  } cases[] = {{"", true}, {"\r\n\t \x01", true}, {" x ", false}, {"<%HTML_TAG%>", false}};
  for (const auto& c : cases)
    EXPECT_EQ(ChooseHtmlTemplate(c.templ, "DEFAULT"), c.useDefault ? "DEFAULT" : c.templ) << c.templ;
  // The library's default template holds the place-holder.
  EXPECT_NE(std::string(kDefaultHtmlTemplate).find(kHtmlTagPlaceholder), std::string::npos);
}

TEST(WebPage, ResponseHeaderAndRequestFile) {
  EXPECT_EQ(WebPageResponseHeader(42),
            "Status: 200 Error\r\nContent-Type: text/html\r\nContent-Length: 42\r\nContent:\r\n\r\n");
  EXPECT_EQ(WebPageResponseHeader(7, false), "Content-Type: text/html\r\nContent-Length: 7\r\nContent:\r\n\r\n");
  EXPECT_TRUE(MayBeWinCgiRequestFile("req.ini", 102400));
  EXPECT_FALSE(MayBeWinCgiRequestFile("req.ini", 102401));
  EXPECT_FALSE(MayBeWinCgiRequestFile("r*.ini", 10));
  EXPECT_FALSE(MayBeWinCgiRequestFile("r?.ini", 10));
  EXPECT_FALSE(MayBeWinCgiRequestFile("", 10));
}

TEST(WebPage, CommandLineArguments) {
  const struct {
    const char* line;
    std::size_t index;
    const char* expected;
  } cases[] = {{"prog.exe a b", 1, "a"},
               {"\"C:\\My Prog\\p.exe\" req.ini x out.txt", 3, "out.txt"},
               {"p  \"a b\"  c", 1, "a b"},
               {"p a", 2, ""},
               {"", 0, ""},
               {"p \"unclosed quote", 1, "unclosed quote"}};
  for (const auto& c : cases) EXPECT_EQ(CommandLineArgument(c.line, c.index), c.expected) << c.line;
}

}  // namespace
