#pragma once

#include <windows.h>

namespace quillon::win32 {

// Turns an edit box of a dialog into one with a browse button inside its right edge, drawn in
// its frame. A click on the button, Alt+Down or F4 tell the dialog through WM_COMMAND with the
// box's identifier and the code Browse.
class BrowseEdit {
public:
    static constexpr WORD Browse = 0x7001;

    void Attach(HWND edit);
    HWND Handle() const { return edit; }
    // The button's rectangle in screen coordinates.
    RECT ButtonRect() const;

private:
    static LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR id, DWORD_PTR self);
    void PaintButton(bool pressed) const;
    void RequestBrowse() const;

    HWND edit = nullptr;
    bool pressed = false;
};

}  // namespace quillon::win32
