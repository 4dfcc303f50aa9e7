// How deep a form may nest: the converters refuse data nested deeper than the
// filer allows, and each finished level counts no more.
#include <gtest/gtest.h>

#include <string>

#include "Exceptions.h"
#include "ObjectConvert.h"

namespace {

// A form whose property X holds `depth` lists, each inside the one before.
std::string NestedListsText(int depth) {
  return "object F: TForm\r\n  X = " + std::string(static_cast<std::size_t>(depth), '(') +
         std::string(static_cast<std::size_t>(depth), ')') + "\r\nend\r\n";
}

// The form counts as one level, each list as one more.
constexpr int kDeepestLists = kMaxFilerDepth - 1;

}  // namespace

TEST(Nesting, TextAtTheLimitConvertsBothWaysAndOneLevelMoreIsRefused) {
  const std::string binary = ObjectTextToBinary(NestedListsText(kDeepestLists));
  EXPECT_NO_THROW(ObjectBinaryToText(binary));
  EXPECT_THROW(ObjectTextToBinary(NestedListsText(kDeepestLists + 1)), EParserError);

  // The same binary with one list more: vaList (1) opens a list, vaNull (0) ends it.
  const std::string lists = std::string(kDeepestLists, '\x01') + std::string(kDeepestLists, '\x00');
  const std::size_t at = binary.find(lists);
  ASSERT_NE(at, std::string::npos);
  std::string deeper = binary;
  deeper.replace(at, lists.size(), "\x01" + lists + std::string(1, '\x00'));
  EXPECT_THROW(ObjectBinaryToText(deeper), EReadError);
}

TEST(Nesting, SiblingListsDoNotAddUp) {
  // Far more sibling lists than levels allowed: a level left uncounted would
  // end in "nested too deeply".
  std::string text = "object F: TForm\r\n  X = (";
  for (int i = 0; i < 3 * kMaxFilerDepth; ++i) text += "(1) ";
  text += ")\r\n";
  for (int i = 0; i < 3 * kMaxFilerDepth; ++i) text += "  object C" + std::to_string(i) + ": TPanel\r\n  end\r\n";
  text += "end\r\n";
  std::string binary;
  ASSERT_NO_THROW(binary = ObjectTextToBinary(text));
  EXPECT_NO_THROW(ObjectBinaryToText(binary));
}
