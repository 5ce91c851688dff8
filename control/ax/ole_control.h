// The ActiveX control framework: everything a control needs so that form hosts, script
// hosts and automation clients can use it, without MFC or ATL.
//
//   IDispatch                 its default dispinterface, through the type information
//   IConnectionPointContainer one connection point, its default source interface
//   IProvideClassInfo2        the coclass's type information and the source's IID
//   ISpecifyPropertyPages     its property page class
//   IPersistStreamInit        persistence in a stream (IPersistStream too)
//   IPersistPropertyBag       persistence as named properties (scripts, HTML)
//   IOleObject                embedding: client site, verbs (with the properties verb),
//                             extent, misc status, advise sinks
//   IOleInPlaceObject,        in-place activation in a child window of the site's
//   IOleInPlaceActiveObject   window, and UI activation
//   IOleControl               control info, ambient changes, frozen events
//   IViewObject2              drawing into any device context (site-less hosts too)
//
// A derived control draws, keeps its properties and answers its dispatch members; the
// in-place window's messages go to it first.
#pragma once

#include <windows.h>

#include <ocidl.h>
#include <oleidl.h>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <span>

#include "connection_point.h"
#include "module.h"
#include "type_dispatch.h"
#include "type_library.h"
#include "win/com_object.h"
#include "win/com_ptr.h"

namespace tarnet::ax {

namespace win = porvex::win;

struct ControlClass {
    const CLSID& clsid;
    const IID& dispatch;  // the default dispinterface
    const IID& events;    // the default source interface
    TypeLibraryId library;
    DWORD misc_status;
    const CLSID& property_page;
    const wchar_t* window_class;  // of the in-place window
};

// IUnknown is the IDispatch; IPersistStream is answered by IPersistStreamInit (its
// methods are the start of IPersistStreamInit's), IOleWindow by IOleInPlaceObject.
using OleControlBase =
    win::ComObject<IDispatch, IConnectionPointContainer,
                   win::Interface<IProvideClassInfo2, IProvideClassInfo>, ISpecifyPropertyPages,
                   win::Interface<IPersistStreamInit, IPersist, IPersistStream>,
                   IPersistPropertyBag, IOleObject, win::Interface<IOleInPlaceObject, IOleWindow>,
                   IOleInPlaceActiveObject, IOleControl, win::Interface<IViewObject2, IViewObject>>;

class OleControl : public OleControlBase, protected DispatchTarget {
  public:
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** out) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* arg_error) override;

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

    // IProvideClassInfo2
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

    // ISpecifyPropertyPages
    HRESULT STDMETHODCALLTYPE GetPages(CAUUID* pages) override;

    // IPersist, IPersistStreamInit, IPersistPropertyBag
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(IStream* stream) override;
    HRESULT STDMETHODCALLTYPE Save(IStream* stream, BOOL clear_dirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clear_dirty, BOOL save_all) override;

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
    HRESULT STDMETHODCALLTYPE Close(DWORD save_option) override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD which, IMoniker* moniker) override;
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* data, BOOL creation,
                                           DWORD reserved) override;
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD reserved, IDataObject** data) override;
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index,
                                     HWND parent, LPCRECT position) override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
    HRESULT STDMETHODCALLTYPE Update() override;
    HRESULT STDMETHODCALLTYPE IsUpToDate() override;
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* clsid) override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* type) override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override;
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advise) override;
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE* palette) override;

    // IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter) override;
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() override;
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG msg) override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL activate) override;
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) override;
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window,
                                           BOOL frame) override;
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL enable) override;

    // IOleControl
    HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* msg) override;
    HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID id) override;
    HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;

    // IViewObject, IViewObject2
    HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG index, void* aspect_info,
                                   DVTARGETDEVICE* device, HDC target_dc, HDC dc, LPCRECTL bounds,
                                   LPCRECTL window_bounds,
                                   BOOL(STDMETHODCALLTYPE* keep_going)(ULONG_PTR),
                                   ULONG_PTR argument) override;
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD aspect, LONG index, void* aspect_info,
                                          DVTARGETDEVICE* device, HDC target_dc,
                                          LOGPALETTE** colors) override;
    HRESULT STDMETHODCALLTYPE Freeze(DWORD aspect, LONG index, void* aspect_info,
                                     DWORD* freeze) override;
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD freeze) override;
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device,
                                        LPSIZEL size) override;

    HWND window() const { return window_; }
    bool in_place_active() const { return window_ != nullptr; }
    bool modified() const { return modified_; }
    std::size_t event_sinks() const { return events_.sink_count(); }

  protected:
    explicit OleControl(const ControlClass& control_class);
    ~OleControl() override;

    // Drawing: the control's whole appearance within bounds.
    virtual void draw(HDC dc, const RECT& bounds) = 0;
    // Properties: their defaults, and their stream and property-bag forms.
    virtual void reset_properties() = 0;
    virtual HRESULT save_properties(IStream* stream) = 0;
    virtual HRESULT load_properties(IStream* stream) = 0;
    virtual HRESULT save_properties(IPropertyBag* bag) = 0;
    virtual HRESULT load_properties(IPropertyBag* bag, IErrorLog* log) = 0;
    // The in-place window: after creation and before destruction.
    virtual void window_created(HWND) {}
    virtual void window_destroying(HWND) {}
    // The in-place window's messages, before the framework's handling.
    virtual bool window_message(HWND, UINT, WPARAM, LPARAM, LRESULT&) { return false; }
    // Runs when the last reference is released, before the object is deleted (holding a
    // reference of its own, so whatever it calls may take and drop references).
    virtual void on_final_release() {}

    void set_modified(bool modified = true) { modified_ = modified; }
    // Fires an event to every sink (arguments in declaration order). While the host has
    // frozen events, they wait and fire in order when it thaws them.
    void fire_event(DISPID id, std::span<const win::Variant> arguments);
    // The window to own dialogs: the site's window, or none.
    HWND dialog_owner() const;
    const ControlClass& control_class() const { return class_; }

  private:
    HRESULT in_place_activate(LONG verb, const RECT* position);
    HRESULT show_properties(HWND parent);
    bool create_window(HWND parent, const RECT& position);
    void destroy_window();
    static LRESULT CALLBACK window_procedure(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    LRESULT handle_window_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
    const TypeDispatch& dispatcher();
    // The default dispinterface's IID is known at run time only.
    void* query_extra(REFIID iid) noexcept override;
    void final_release() noexcept override;

    const ControlClass& class_;
    ConnectionPoint events_;
    std::unique_ptr<TypeDispatch> dispatch_;

    win::ComPtr<IOleClientSite> site_;
    win::ComPtr<IOleInPlaceSite> in_place_site_;
    win::ComPtr<IOleInPlaceFrame> frame_;
    win::ComPtr<IOleInPlaceUIWindow> document_;
    win::ComPtr<IOleAdviseHolder> advise_holder_;
    win::ComPtr<IAdviseSink> view_sink_;
    DWORD view_aspects_ = 0;
    DWORD view_flags_ = 0;
    HWND window_ = nullptr;
    bool ui_active_ = false;
    SIZEL extent_{};
    bool modified_ = false;
    int frozen_ = 0;
    struct HeldEvent {
        DISPID id;
        std::vector<win::Variant> arguments;
    };
    std::list<HeldEvent> held_events_;  // a list: allocates nothing until an event is held
};

}  // namespace tarnet::ax
