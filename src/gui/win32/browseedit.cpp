#include "gui/win32/browseedit.h"

#include <commctrl.h>

namespace quillon::win32 {
namespace {

constexpr UINT_PTR Subclass = 3;

int ButtonWidth() {
    return ::GetSystemMetrics(SM_CXVSCROLL) + 2;
}

}  // namespace

void BrowseEdit::Attach(HWND window) {
    edit = window;
    ::SetWindowSubclass(edit, &EditProc, Subclass, reinterpret_cast<DWORD_PTR>(this));
    // The frame is measured anew, with room for the button.
    ::SetWindowPos(edit, nullptr, 0, 0, 0, 0,
                   SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

RECT BrowseEdit::ButtonRect() const {
    RECT window{};
    ::GetWindowRect(edit, &window);
    RECT client{};
    ::GetClientRect(edit, &client);
    POINT origin{client.right, 0};
    ::ClientToScreen(edit, &origin);
    // Inside the border, right of the text.
    const int border = (window.bottom - window.top - client.bottom) / 2;
    return RECT{origin.x, window.top + border, window.right - border, window.bottom - border};
}

void BrowseEdit::PaintButton(bool down) const {
    HDC dc = ::GetWindowDC(edit);
    RECT window{};
    ::GetWindowRect(edit, &window);
    RECT button = ButtonRect();
    ::OffsetRect(&button, -window.left, -window.top);
    const bool enabled = ::IsWindowEnabled(edit) != FALSE;
    ::DrawFrameControl(dc, &button, DFC_BUTTON,
                       DFCS_BUTTONPUSH | (down ? DFCS_PUSHED : 0) | (enabled ? 0 : DFCS_INACTIVE));
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, ::GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    const HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(edit, WM_GETFONT, 0, 0)));
    ::DrawTextW(dc, L"...", 3, &button, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    ::SelectObject(dc, old);
    ::ReleaseDC(edit, dc);
}

void BrowseEdit::RequestBrowse() const {
    ::SendMessageW(::GetParent(edit), WM_COMMAND,
                   MAKEWPARAM(static_cast<WORD>(::GetDlgCtrlID(edit)), Browse),
                   reinterpret_cast<LPARAM>(edit));
}

LRESULT CALLBACK BrowseEdit::EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                      UINT_PTR, DWORD_PTR data) {
    auto& self = *reinterpret_cast<BrowseEdit*>(data);
    switch (message) {
        case WM_NCCALCSIZE: {
            const LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
            auto* rect = reinterpret_cast<RECT*>(lParam);  // the first rectangle either way
            rect->right -= ButtonWidth();
            return result;
        }
        case WM_NCPAINT:
            ::DefSubclassProc(window, message, wParam, lParam);
            self.PaintButton(self.pressed);
            return 0;
        case WM_ENABLE:
        case WM_SETTEXT: {
            const LRESULT result = ::DefSubclassProc(window, message, wParam, lParam);
            self.PaintButton(false);
            return result;
        }
        case WM_NCHITTEST: {
            const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            const RECT button = self.ButtonRect();
            if (::PtInRect(&button, at)) return HTBORDER;
            break;
        }
        case WM_NCLBUTTONDOWN: {
            const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            const RECT button = self.ButtonRect();
            if (!::PtInRect(&button, at)) break;
            self.pressed = true;
            self.PaintButton(true);
            ::SetCapture(window);
            return 0;
        }
        case WM_LBUTTONUP:
            if (self.pressed) {
                ::ReleaseCapture();
                self.pressed = false;
                self.PaintButton(false);
                POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
                ::ClientToScreen(window, &at);
                const RECT button = self.ButtonRect();
                if (::PtInRect(&button, at)) self.RequestBrowse();
                return 0;
            }
            break;
        case WM_KEYDOWN:
            // Alt+Down and F4 open the chooser, as they open a drop-down list.
            if (wParam == VK_F4) {
                self.RequestBrowse();
                return 0;
            }
            break;
        case WM_SYSKEYDOWN:
            if (wParam == VK_DOWN) {
                self.RequestBrowse();
                return 0;
            }
            break;
        case WM_NCDESTROY:
            ::RemoveWindowSubclass(window, &EditProc, Subclass);
            break;
        default:
            break;
    }
    return ::DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace quillon::win32
