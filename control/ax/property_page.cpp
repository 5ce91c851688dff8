#include "property_page.h"

#include <cstring>

#include "boundary.h"

namespace tarnet::ax {

namespace {

// Dialog base units of the dialog font (MS Sans Serif, 8 points), as Windows computes
// them: the average width of the 52 letters and the character height.
SIZE dialog_base_units() {
    SIZE units{6, 13};
    HDC dc = ::CreateCompatibleDC(nullptr);
    if (dc == nullptr) {
        return units;
    }
    HFONT font =
        ::CreateFontW(-MulDiv(8, ::GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE,
                      FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                      DEFAULT_QUALITY, DEFAULT_PITCH, L"MS Sans Serif");
    HGDIOBJ old = ::SelectObject(dc, font);
    TEXTMETRICW metrics{};
    SIZE letters{};
    static const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    if (::GetTextMetricsW(dc, &metrics) && ::GetTextExtentPoint32W(dc, kLetters, 52, &letters) &&
        metrics.tmHeight > 0 && letters.cx > 0) {
        units = {(letters.cx / 26 + 1) / 2, metrics.tmHeight};
    }
    ::SelectObject(dc, old);
    ::DeleteObject(font);
    ::DeleteDC(dc);
    return units;
}

wchar_t* task_copy(const std::wstring& text) {
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc(bytes));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), bytes);
    }
    return copy;
}

}  // namespace

DialogPropertyPage::~DialogPropertyPage() {
    if (dialog_ != nullptr) {
        ::DestroyWindow(dialog_);
    }
}

HRESULT DialogPropertyPage::SetPageSite(IPropertyPageSite* site) {
    site_ = win::ComPtr<IPropertyPageSite>(site);
    return S_OK;
}

HRESULT DialogPropertyPage::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (dialog_ != nullptr) {
        return E_UNEXPECTED;
    }
    dialog_ =
        ::CreateDialogParamW(Module::instance().handle(), MAKEINTRESOURCEW(dialog_id_), parent,
                             &DialogPropertyPage::dialog_procedure, reinterpret_cast<LPARAM>(this));
    if (dialog_ == nullptr) {
        return E_FAIL;
    }
    exchange(false);
    if (rect != nullptr) {
        Move(rect);
    }
    return S_OK;
}

HRESULT DialogPropertyPage::Deactivate() {
    if (dialog_ != nullptr) {
        ::DestroyWindow(dialog_);
        dialog_ = nullptr;
    }
    return S_OK;
}

SIZE DialogPropertyPage::page_size() const {
    SIZE size{0, 0};
    HRSRC found = ::FindResourceW(Module::instance().handle(), MAKEINTRESOURCEW(dialog_id_),
                                  reinterpret_cast<LPCWSTR>(RT_DIALOG));
    HGLOBAL loaded =
        found != nullptr ? ::LoadResource(Module::instance().handle(), found) : nullptr;
    const auto* dialog =
        loaded != nullptr ? static_cast<const DLGTEMPLATE*>(::LockResource(loaded)) : nullptr;
    if (dialog == nullptr) {
        return size;
    }
    const SIZE units = dialog_base_units();
    size.cx = MulDiv(dialog->cx, units.cx, 4);
    size.cy = MulDiv(dialog->cy, units.cy, 8);
    return size;
}

HRESULT DialogPropertyPage::GetPageInfo(PROPPAGEINFO* info) {
    if (info == nullptr) {
        return E_POINTER;
    }
    return guarded([&] {
        info->cb = sizeof(PROPPAGEINFO);
        info->pszTitle = task_copy(Module::instance().load_string(title_id_));
        info->size = page_size();
        info->pszDocString = nullptr;
        info->pszHelpFile = nullptr;
        info->dwHelpContext = 0;
        return info->pszTitle != nullptr ? S_OK : E_OUTOFMEMORY;
    });
}

HRESULT DialogPropertyPage::SetObjects(ULONG count, IUnknown** objects) {
    if (count > 0 && objects == nullptr) {
        return E_POINTER;
    }
    return guarded([&] {
        objects_.clear();
        for (ULONG i = 0; i < count; ++i) {
            objects_.emplace_back(objects[i]);
        }
        return S_OK;
    });
}

HRESULT DialogPropertyPage::Show(UINT show) {
    if (dialog_ == nullptr) {
        return E_UNEXPECTED;
    }
    ::ShowWindow(dialog_, static_cast<int>(show));
    return S_OK;
}

HRESULT DialogPropertyPage::Move(LPCRECT rect) {
    if (rect == nullptr) {
        return E_POINTER;
    }
    if (dialog_ == nullptr) {
        return E_UNEXPECTED;
    }
    ::MoveWindow(dialog_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
                 TRUE);
    return S_OK;
}

HRESULT DialogPropertyPage::IsPageDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT DialogPropertyPage::Apply() {
    return guarded([&] {
        exchange(true);
        set_dirty(false);
        return S_OK;
    });
}

HRESULT DialogPropertyPage::Help(LPCOLESTR) { return E_NOTIMPL; }

HRESULT DialogPropertyPage::TranslateAccelerator(MSG*) { return S_FALSE; }

void DialogPropertyPage::set_dirty(bool dirty) {
    if (dirty_ == dirty) {
        return;
    }
    dirty_ = dirty;
    if (site_) {
        site_->OnStatusChange(dirty ? PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE
                                    : PROPPAGESTATUS_CLEAN);
    }
}

INT_PTR CALLBACK DialogPropertyPage::dialog_procedure(HWND hwnd, UINT msg, WPARAM, LPARAM lparam) {
    return tarnet::guarded(
        "control: property page",
        [&]() -> INT_PTR {
            if (msg == WM_INITDIALOG) {
                ::SetWindowLongPtrW(hwnd, DWLP_USER, lparam);
                return TRUE;
            }
            return FALSE;
        },
        [](Failure) { return INT_PTR{FALSE}; });
}

}  // namespace tarnet::ax
