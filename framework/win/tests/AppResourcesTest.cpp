// The program resources made by framework_app_resources: manifest, version resource, forms.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "Forms.h"
#include "Modules.h"

namespace {

TEST(AppResourcesTest, ManifestVersionAndFormsAreEmbedded) {
  InitForms();
  auto manifest = FindResourceData(MainInstance(), 24, 1);
  ASSERT_TRUE(manifest.has_value());
  EXPECT_NE(manifest->find("Microsoft.Windows.Common-Controls"), std::string_view::npos);

  auto version = FindResourceData(MainInstance(), rtVersion, 1);
  ASSERT_TRUE(version.has_value());
  const std::u16string product = u"ProductName";
  std::string_view wide(reinterpret_cast<const char*>(product.data()), product.size() * 2);
  EXPECT_NE(version->find(wide), std::string_view::npos);

  EXPECT_TRUE(FindResourceData(MainInstance(), rtRcData, "TTESTFORM").has_value());
}

}  // namespace
