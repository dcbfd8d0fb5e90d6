// The window's dark theme read from the theme file the Qt window carries
// too: found by its name without regard to case, and a colour that is
// missing or malformed named in the error.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "ui_win32/dark_theme.h"

namespace quarn::test {
namespace {

std::string CarriedThemeFile() {
  std::ifstream in(QUARN_THEME_FILE, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(DarkTheme, ReadsTheCarriedThemeByNameWithoutRegardToCase) {
  const std::string json = CarriedThemeFile();
  ASSERT_FALSE(json.empty());
  const auto colours = win32::ThemeColoursFromJson(json, "windows10 DARK");
  ASSERT_TRUE(colours.has_value());
  EXPECT_EQ(colours->Window, RGB(0x20, 0x20, 0x20));
  EXPECT_EQ(colours->WindowText, RGB(0xff, 0xff, 0xff));
  EXPECT_EQ(colours->Highlight, RGB(0x00, 0x78, 0xd7));
  EXPECT_EQ(colours->DisabledText, RGB(0x7a, 0x7a, 0x7a));
  EXPECT_FALSE(win32::ThemeColoursFromJson(json, "Windows10 Light").has_value());
  EXPECT_FALSE(win32::ThemeColoursFromJson("not json", win32::kThemeName).has_value());
}

TEST(DarkTheme, AMissingOrMalformedColourIsNamed) {
  const struct {
    const char* json;
    const char* named;
  } cases[] = {
      {R"({"name": "Windows10 Dark", "palette": {}})", "palette.Window is missing"},
      {R"({"name": "Windows10 Dark", "palette": {"Window": "#12345"}})", "palette.Window is \"#12345\", not #rrggbb"},
      {R"({"name": "Windows10 Dark", "palette": {"Window": "#12345g"}})", "not #rrggbb"},
  };
  for (const auto& c : cases) {
    try {
      win32::ThemeColoursFromJson(c.json, win32::kThemeName);
      ADD_FAILURE() << "no error for " << c.json;
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find(c.named), std::string::npos) << error.what();
    }
  }
}

}  // namespace
}  // namespace quarn::test
