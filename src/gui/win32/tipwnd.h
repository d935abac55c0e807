#pragma once

#include <windows.h>

#include <string>

namespace quillon::win32 {

// A small popup that shows a message just above a control, with a shadow, and goes away by
// itself: after five seconds (later while the mouse rests on it), at the next key press other
// than Enter or mouse click of the window's thread, or when the application loses activation.
// It never takes the focus.
class TipWnd {
public:
    static constexpr int MarginLeft = 6, MarginTop = 4, MarginRight = 8, MarginBottom = 4;
    static constexpr int AnchorOffsetX = -6, AnchorOffsetY = 0;
    static constexpr int ShadowWidth = 6;
    static constexpr UINT TimerInterval = 500;
    static constexpr int DisplayTime = 5000;

    TipWnd() = default;
    ~TipWnd();
    TipWnd(const TipWnd&) = delete;
    TipWnd& operator=(const TipWnd&) = delete;

    // Creates the (hidden) window owned by `parent`; false when it cannot.
    bool Create(HWND parent);
    bool IsCreated() const { return window != nullptr; }
    HWND Handle() const { return window; }
    void SetColors(COLORREF background, COLORREF text);

    // Shows `text` with its lower left corner at `anchor` (client coordinates of the parent)
    // moved by the anchor offset; does nothing without a window or text.
    void Show(POINT anchor, const std::wstring& text);
    void Hide();
    bool IsVisible() const { return window != nullptr && ::IsWindowVisible(window); }
    const std::wstring& Text() const { return text; }
    COLORREF BackgroundColor() const { return background; }
    COLORREF TextColor() const { return foreground; }

    // The size the text needs: margins and shadow included, at 0,0.
    RECT CalcTipRect(const std::wstring& message) const;
    // The measured rectangle with its lower left corner on `anchor` (screen coordinates), moved
    // onto the primary screen.
    RECT PlaceTipRect(POINT anchor, RECT measured) const;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK MouseHook(int code, WPARAM wParam, LPARAM lParam);
    void InstallHooks();
    static void RemoveHooks();
    void OnTimer();
    void OnPaint();
    // What lies beneath the tip, darkened where the shadow falls.
    void GrabBeneath(const RECT& area);

    HWND parent = nullptr;
    HWND window = nullptr;
    HFONT font = nullptr;
    HBITMAP beneath = nullptr;
    COLORREF background = ::GetSysColor(COLOR_INFOBK);
    COLORREF foreground = ::GetSysColor(COLOR_INFOTEXT);
    std::wstring text;
    int elapsed = 0;
};

}  // namespace quillon::win32
