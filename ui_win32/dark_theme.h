// The dark theme of the Win32 window: the colours the program carries in
// its resources (RCDATA "WINDOWSDARK", the same theme file the Qt window
// carries), the brushes made from them, how the window's own controls are
// painted with them, and the dark title bar where Windows offers one.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace quarn::win32 {

inline constexpr char kThemeName[] = "Windows10 Dark";

// The colours of a theme, as its palette roles name them.
struct TThemeColours {
  COLORREF Window;          // the window's background
  COLORREF WindowText;      // labels and check boxes
  COLORREF Base;            // text boxes
  COLORREF Text;            // text in text boxes
  COLORREF Button;          // push buttons
  COLORREF ButtonText;
  COLORREF Light;           // borders of buttons, and a pressed button
  COLORREF Highlight;       // the focus border, the progress bar
  COLORREF DisabledText;    // any text of a disabled control
  COLORREF DisabledBase;    // read-only and disabled text boxes
  COLORREF DisabledButton;  // a disabled push button
};

// The colours of the theme called `name` (compared without regard to case)
// among the themes in `json`, a theme file's text; none when the file is
// not a theme of that name. Raises std::runtime_error naming what is wrong
// when the file names the theme but a colour is missing or not "#rrggbb".
std::optional<TThemeColours> ThemeColoursFromJson(const std::string& json, const std::string& name);

class TDarkTheme {
 public:
  explicit TDarkTheme(const TThemeColours& colours);
  ~TDarkTheme();
  TDarkTheme(const TDarkTheme&) = delete;
  TDarkTheme& operator=(const TDarkTheme&) = delete;

  const TThemeColours& Colours() const { return FColours; }
  HBRUSH WindowBrush() const { return FWindowBrush; }

  // WM_CTLCOLORSTATIC, WM_CTLCOLOREDIT and WM_CTLCOLORBTN for `control`:
  // its colours set in `dc`, and the brush of its background.
  HBRUSH ControlColours(HDC dc, HWND control, UINT message) const;
  // WM_DRAWITEM of a push button drawn by the window (BS_OWNERDRAW).
  void DrawButton(const DRAWITEMSTRUCT& item) const;
  // A control that the system's visual style would paint in light colours
  // is painted by the colours above instead (check boxes, the progress
  // bar).
  void Prepare(HWND control) const;
  // The title bar in dark colours (Windows 10 1809 and later; elsewhere,
  // wine included, nothing changes).
  static void UseDarkTitleBar(HWND window);

 private:
  TThemeColours FColours;
  HBRUSH FWindowBrush;
  HBRUSH FBaseBrush;
  HBRUSH FDisabledBaseBrush;
  HBRUSH FButtonBrush;
  HBRUSH FLightBrush;
  HBRUSH FHighlightBrush;
};

// The theme called `name` among those the program carries as RCDATA
// resources; none when it carries no theme of that name.
std::optional<TThemeColours> FindCarriedTheme(const std::string& name);

}  // namespace quarn::win32
