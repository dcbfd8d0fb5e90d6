// Reading the carried theme and painting the window's controls with it.
#include "ui_win32/dark_theme.h"

#include <commctrl.h>
#include <dwmapi.h>
#include <uxtheme.h>

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <vector>

namespace quarn::win32 {
namespace {

// DwmSetWindowAttribute's dark title bar: 20 from Windows 10 20H1 on, 19
// in the builds before it.
constexpr DWORD kImmersiveDarkMode = 20;
constexpr DWORD kImmersiveDarkModeBefore20H1 = 19;

bool SameWithoutCase(const std::string& a, const std::string& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

COLORREF ColourOf(const nlohmann::json& group, const char* groupName, const char* role) {
  const auto entry = group.find(role);
  const std::string where = std::string("theme colour ") + groupName + "." + role;
  if (entry == group.end() || !entry->is_string()) throw std::runtime_error(where + " is missing");
  const std::string text = entry->get<std::string>();
  if (text.size() != 7 || text[0] != '#' ||
      !std::all_of(text.begin() + 1, text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
    throw std::runtime_error(where + " is \"" + text + "\", not #rrggbb");
  }
  const unsigned long rgb = std::stoul(text.substr(1), nullptr, 16);
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

BOOL CALLBACK CollectThemeResource(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR found) {
  auto& names = *reinterpret_cast<std::vector<std::wstring>*>(found);
  if (IS_INTRESOURCE(name)) return TRUE;  // themes are carried under names
  (void)module;
  (void)type;
  names.emplace_back(name);
  return TRUE;
}

}  // namespace

std::optional<TThemeColours> ThemeColoursFromJson(const std::string& json, const std::string& name) {
  const nlohmann::json theme = nlohmann::json::parse(json, nullptr, false);
  if (!theme.is_object()) return std::nullopt;
  const auto themeName = theme.find("name");
  if (themeName == theme.end() || !themeName->is_string() || !SameWithoutCase(themeName->get<std::string>(), name)) {
    return std::nullopt;
  }
  const nlohmann::json palette = theme.value("palette", nlohmann::json::object());
  const nlohmann::json disabled = theme.value("disabled", nlohmann::json::object());
  TThemeColours colours{};
  colours.Window = ColourOf(palette, "palette", "Window");
  colours.WindowText = ColourOf(palette, "palette", "WindowText");
  colours.Base = ColourOf(palette, "palette", "Base");
  colours.Text = ColourOf(palette, "palette", "Text");
  colours.Button = ColourOf(palette, "palette", "Button");
  colours.ButtonText = ColourOf(palette, "palette", "ButtonText");
  colours.Light = ColourOf(palette, "palette", "Light");
  colours.Highlight = ColourOf(palette, "palette", "Highlight");
  colours.DisabledText = ColourOf(disabled, "disabled", "Text");
  colours.DisabledBase = ColourOf(disabled, "disabled", "Base");
  colours.DisabledButton = ColourOf(disabled, "disabled", "Button");
  return colours;
}

std::optional<TThemeColours> FindCarriedTheme(const std::string& name) {
  HMODULE program = GetModuleHandleW(nullptr);
  std::vector<std::wstring> names;
  EnumResourceNamesW(program, MAKEINTRESOURCEW(10) /* RT_RCDATA */, CollectThemeResource,
                     reinterpret_cast<LONG_PTR>(&names));
  for (const std::wstring& resourceName : names) {
    HRSRC resource = FindResourceW(program, resourceName.c_str(), MAKEINTRESOURCEW(10));
    if (resource == nullptr) continue;
    HGLOBAL loaded = LoadResource(program, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) continue;
    const std::string json(static_cast<const char*>(bytes), SizeofResource(program, resource));
    if (std::optional<TThemeColours> colours = ThemeColoursFromJson(json, name)) return colours;
  }
  return std::nullopt;
}

TDarkTheme::TDarkTheme(const TThemeColours& colours)
    : FColours(colours),
      FWindowBrush(CreateSolidBrush(colours.Window)),
      FBaseBrush(CreateSolidBrush(colours.Base)),
      FDisabledBaseBrush(CreateSolidBrush(colours.DisabledBase)),
      FButtonBrush(CreateSolidBrush(colours.Button)),
      FLightBrush(CreateSolidBrush(colours.Light)),
      FHighlightBrush(CreateSolidBrush(colours.Highlight)) {}

TDarkTheme::~TDarkTheme() {
  for (HBRUSH brush : {FWindowBrush, FBaseBrush, FDisabledBaseBrush, FButtonBrush, FLightBrush, FHighlightBrush}) {
    DeleteObject(brush);
  }
}

HBRUSH TDarkTheme::ControlColours(HDC dc, HWND control, UINT message) const {
  const bool enabled = IsWindowEnabled(control) != FALSE;
  wchar_t className[16] = {};
  GetClassNameW(control, className, 16);
  const bool textBox = lstrcmpiW(className, L"Edit") == 0;
  if (textBox) {
    // An editable box comes as WM_CTLCOLOREDIT, a read-only or disabled one
    // as WM_CTLCOLORSTATIC.
    const bool editable = message == WM_CTLCOLOREDIT;
    SetTextColor(dc, enabled ? FColours.Text : FColours.DisabledText);
    SetBkColor(dc, editable ? FColours.Base : FColours.DisabledBase);
    return editable ? FBaseBrush : FDisabledBaseBrush;
  }
  SetTextColor(dc, enabled ? FColours.WindowText : FColours.DisabledText);
  SetBkColor(dc, FColours.Window);
  return FWindowBrush;
}

void TDarkTheme::DrawButton(const DRAWITEMSTRUCT& item) const {
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;
  const bool focused = (item.itemState & ODS_FOCUS) != 0;
  RECT box = item.rcItem;
  FillRect(item.hDC, &box, pressed ? FLightBrush : FButtonBrush);
  FrameRect(item.hDC, &box, focused ? FHighlightBrush : FLightBrush);
  wchar_t text[64] = {};
  GetWindowTextW(item.hwndItem, text, 64);
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, disabled ? FColours.DisabledText : FColours.ButtonText);
  DrawTextW(item.hDC, text, -1, &box, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void TDarkTheme::Prepare(HWND control) const {
  // Without a visual style the control takes the colours of
  // WM_CTLCOLORSTATIC (check boxes) or of its own messages (progress bar).
  SetWindowTheme(control, L"", L"");
  wchar_t className[32] = {};
  GetClassNameW(control, className, 32);
  if (lstrcmpiW(className, PROGRESS_CLASSW) == 0) {
    SendMessageW(control, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(FColours.Base));
    SendMessageW(control, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(FColours.Highlight));
  }
}

void TDarkTheme::UseDarkTitleBar(HWND window) {
  const BOOL dark = TRUE;
  if (FAILED(DwmSetWindowAttribute(window, kImmersiveDarkMode, &dark, sizeof dark))) {
    DwmSetWindowAttribute(window, kImmersiveDarkModeBefore20H1, &dark, sizeof dark);
  }
}

}  // namespace quarn::win32
