#include "gui/win32/tipwnd.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quillon::win32 {
namespace {

constexpr wchar_t ClassName[] = L"QuillonTipWnd";
constexpr UINT_PTR TimerId = 1;
constexpr UINT CloseRequest = WM_APP + 1;
constexpr UINT TextFormat = DT_WORDBREAK | DT_EXPANDTABS | DT_EXTERNALLEADING | DT_NOPREFIX;

// The hooks of the window's thread, shared by every tip, and the tip they close.
HHOOK keyboardHook = nullptr;
HHOOK mouseHook = nullptr;
HWND hookTarget = nullptr;

}  // namespace

TipWnd::~TipWnd() {
    Hide();
    if (font != nullptr) ::DeleteObject(font);
    if (beneath != nullptr) ::DeleteObject(beneath);
    if (window != nullptr) ::DestroyWindow(window);
}

bool TipWnd::Create(HWND owner) {
    if (window != nullptr) return true;
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    if (!::GetClassInfoExW(instance, ClassName, &type)) {
        type.style = CS_SAVEBITS | CS_CLASSDC;
        type.lpfnWndProc = &WindowProc;
        type.hInstance = instance;
        type.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        type.lpszClassName = ClassName;
        if (::RegisterClassExW(&type) == 0) return false;
    }
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (!::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return false;
    parent = owner;
    window = ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, ClassName, L"", WS_POPUP, 0, 0,
                               10, 10, owner, nullptr, instance, this);
    if (window == nullptr) return false;
    font = ::CreateFontIndirectW(&metrics.lfStatusFont);
    return true;
}

void TipWnd::SetColors(COLORREF back, COLORREF textColor) {
    background = back;
    foreground = textColor;
}

RECT TipWnd::CalcTipRect(const std::wstring& message) const {
    HDC dc = ::GetDC(nullptr);
    const HGDIOBJ old = ::SelectObject(dc, font);
    // The widest line, with two spaces that keep the system from wrapping it.
    LONG width = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = message.find(L'\n', start);
        const std::wstring line =
            message.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start) +
            L"  ";
        SIZE size{};
        ::GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
        width = std::max(width, size.cx);
        if (end == std::wstring::npos) break;
        start = end + 1;
    }
    RECT rect{0, 0, width, 0};
    ::DrawTextW(dc, message.c_str(), static_cast<int>(message.size()), &rect,
                TextFormat | DT_CALCRECT);
    ::SelectObject(dc, old);
    ::ReleaseDC(nullptr, dc);
    rect.right += MarginLeft + MarginRight + ShadowWidth;
    rect.bottom += MarginTop + MarginBottom + ShadowWidth;
    return rect;
}

RECT TipWnd::PlaceTipRect(POINT anchor, RECT measured) const {
    const LONG width = measured.right - measured.left, height = measured.bottom - measured.top;
    RECT placed{anchor.x, anchor.y - height, anchor.x + width, anchor.y};
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    if (placed.right > screenWidth) ::OffsetRect(&placed, screenWidth - placed.right, 0);
    if (placed.left < 0) ::OffsetRect(&placed, -placed.left, 0);
    if (placed.top < 0) ::OffsetRect(&placed, 0, -placed.top);
    return placed;
}

void TipWnd::Show(POINT anchor, const std::wstring& message) {
    if (window == nullptr || message.empty()) return;
    text = message;
    anchor.x += AnchorOffsetX;
    anchor.y += AnchorOffsetY;
    ::ClientToScreen(parent, &anchor);
    InstallHooks();
    const RECT placed = PlaceTipRect(anchor, CalcTipRect(text));
    if (!IsVisible()) GrabBeneath(placed);
    ::SetWindowPos(window, nullptr, placed.left, placed.top, placed.right - placed.left,
                   placed.bottom - placed.top, SWP_NOACTIVATE | SWP_NOZORDER | SWP_SHOWWINDOW);
    ::InvalidateRect(window, nullptr, FALSE);
    elapsed = 0;
    ::SetTimer(window, TimerId, TimerInterval, nullptr);
}

void TipWnd::Hide() {
    if (window != nullptr) {
        ::KillTimer(window, TimerId);
        ::ShowWindow(window, SW_HIDE);
    }
    RemoveHooks();
}

void TipWnd::InstallHooks() {
    hookTarget = window;
    const DWORD thread = ::GetCurrentThreadId();
    if (keyboardHook == nullptr)
        keyboardHook = ::SetWindowsHookExW(WH_KEYBOARD, &KeyboardHook, nullptr, thread);
    if (mouseHook == nullptr)
        mouseHook = ::SetWindowsHookExW(WH_MOUSE, &MouseHook, nullptr, thread);
}

void TipWnd::RemoveHooks() {
    if (keyboardHook != nullptr) ::UnhookWindowsHookEx(keyboardHook);
    if (mouseHook != nullptr) ::UnhookWindowsHookEx(mouseHook);
    keyboardHook = mouseHook = nullptr;
}

LRESULT CALLBACK TipWnd::KeyboardHook(int code, WPARAM wParam, LPARAM lParam) {
    // A key press (not its release), Enter excepted, closes the tip.
    const bool pressed = (lParam & (1 << 31)) == 0;
    if (code == HC_ACTION && pressed && wParam != VK_RETURN && hookTarget != nullptr)
        ::PostMessageW(hookTarget, CloseRequest, 0, 0);
    return ::CallNextHookEx(keyboardHook, code, wParam, lParam);
}

LRESULT CALLBACK TipWnd::MouseHook(int code, WPARAM wParam, LPARAM lParam) {
    switch (wParam) {
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_NCLBUTTONDOWN:
        case WM_NCRBUTTONDOWN:
        case WM_NCMBUTTONDOWN:
            if (code == HC_ACTION && hookTarget != nullptr)
                ::PostMessageW(hookTarget, CloseRequest, 0, 0);
            break;
        default:
            break;
    }
    return ::CallNextHookEx(mouseHook, code, wParam, lParam);
}

void TipWnd::OnTimer() {
    // The user went to another application.
    if (::GetActiveWindow() == nullptr) {
        Hide();
        return;
    }
    elapsed += static_cast<int>(TimerInterval);
    RECT body{};
    ::GetWindowRect(window, &body);
    body.right -= ShadowWidth;
    body.bottom -= ShadowWidth;
    POINT cursor{};
    ::GetCursorPos(&cursor);
    if (::PtInRect(&body, cursor)) return;
    if (elapsed >= DisplayTime) Hide();
}

void TipWnd::GrabBeneath(const RECT& area) {
    if (beneath != nullptr) ::DeleteObject(beneath);
    beneath = nullptr;
    const int width = area.right - area.left, height = area.bottom - area.top;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = ::GetDC(nullptr);
    beneath = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (beneath == nullptr) {
        ::ReleaseDC(nullptr, screen);
        return;
    }
    HDC memory = ::CreateCompatibleDC(screen);
    const HGDIOBJ old = ::SelectObject(memory, beneath);
    ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    ::GdiFlush();
    // Darken the band right of and below the body: 50 per cent next to the body, fading out in
    // steps of 8 points, and fading in at the band's far ends from 98 per cent.
    auto* pixels = static_cast<std::uint32_t*>(bits);
    const int w = width - ShadowWidth, h = height - ShadowWidth;
    const auto darken = [&](int x, int y, int percent) {
        std::uint32_t& pixel = pixels[static_cast<std::size_t>(y) * width + x];
        const auto scale = [percent](std::uint32_t channel) { return channel * percent / 100; };
        pixel = (scale((pixel >> 16) & 0xFF) << 16) | (scale((pixel >> 8) & 0xFF) << 8) |
                scale(pixel & 0xFF);
    };
    for (int x = w; x <= w + 5; ++x)
        for (int y = 5; y <= h + 4; ++y)
            darken(x, y, std::max(50 + 8 * std::max(x - w, y - h + 1), 98 - 8 * (y - 5)));
    for (int x = 6; x <= w - 1; ++x)
        for (int y = h; y <= h + 4; ++y)
            darken(x, y, std::max(50 + 8 * (y - h + 1), 98 - 8 * (x - 6)));
    ::SelectObject(memory, old);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}

void TipWnd::OnPaint() {
    PAINTSTRUCT paint{};
    HDC dc = ::BeginPaint(window, &paint);
    RECT client{};
    ::GetClientRect(window, &client);
    RECT body = client;
    body.right -= ShadowWidth;
    body.bottom -= ShadowWidth;
    if (beneath != nullptr) {
        HDC memory = ::CreateCompatibleDC(dc);
        const HGDIOBJ old = ::SelectObject(memory, beneath);
        ::BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
        ::SelectObject(memory, old);
        ::DeleteDC(memory);
    }
    const HBRUSH fill = ::CreateSolidBrush(background);
    ::FillRect(dc, &body, fill);
    ::DeleteObject(fill);
    ::FrameRect(dc, &body, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    RECT inner{body.left + MarginLeft, body.top + MarginTop, body.right - MarginRight,
               body.bottom - MarginBottom};
    const HGDIOBJ oldFont = ::SelectObject(dc, font);
    ::SetTextColor(dc, foreground);
    ::SetBkMode(dc, TRANSPARENT);
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &inner, TextFormat);
    ::SelectObject(dc, oldFont);
    ::EndPaint(window, &paint);
}

LRESULT CALLBACK TipWnd::WindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        ::SetWindowLongPtrW(handle, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<TipWnd*>(::GetWindowLongPtrW(handle, GWLP_USERDATA));
    switch (message) {
        case WM_MOUSEACTIVATE:
            return MA_NOACTIVATE;  // a click on the tip does not take the focus
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            if (self != nullptr) {
                self->OnPaint();
                return 0;
            }
            break;
        case WM_TIMER:
            if (self != nullptr && wParam == TimerId) self->OnTimer();
            return 0;
        case CloseRequest:
            if (self != nullptr) self->Hide();
            return 0;
        case WM_NCDESTROY:
            if (self != nullptr) self->window = nullptr;
            break;
        default:
            break;
    }
    return ::DefWindowProcW(handle, message, wParam, lParam);
}

}  // namespace quillon::win32
