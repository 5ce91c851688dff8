// A property page shown from a dialog resource (IPropertyPage).
//
// The frame (OleCreatePropertyFrame, or a container's own) asks for the page's title and
// size, hands it the objects to edit, and shows it as a child of its own window. A
// derived page exchanges data between its dialog and the objects in exchange().
#pragma once

#include <windows.h>

#include <ocidl.h>

#include <vector>

#include "module.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace tarnet::ax {

namespace win = porvex::win;

class DialogPropertyPage : public win::ComObject<IPropertyPage> {
  public:
    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite* site) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO* info) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown** objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT show) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR help_dir) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* msg) override;

    HWND dialog() const { return dialog_; }

  protected:
    DialogPropertyPage(UINT dialog_id, UINT title_id)
        : dialog_id_(dialog_id), title_id_(title_id) {}
    ~DialogPropertyPage() override;

    // Moves values between the dialog and the objects (to the objects when saving).
    virtual void exchange(bool /*save*/) {}
    void set_dirty(bool dirty);
    const std::vector<win::ComPtr<IUnknown>>& objects() const { return objects_; }

  private:
    static INT_PTR CALLBACK dialog_procedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    SIZE page_size() const;

    const UINT dialog_id_;
    const UINT title_id_;
    win::ComPtr<IPropertyPageSite> site_;
    std::vector<win::ComPtr<IUnknown>> objects_;
    HWND dialog_ = nullptr;
    bool dirty_ = false;
};

}  // namespace tarnet::ax
