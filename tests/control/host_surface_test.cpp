// The control's automation and embedding surface as hosts read it: the type library,
// dispatch by the type information, persistence, class information, property pages,
// misc status, verbs and drawing.
#include <gtest/gtest.h>

#include <olectl.h>

#include <cwchar>
#include <map>

#include "com_support.h"
#include "identifiers.h"

namespace tarnet::testing {
namespace {

class SurfaceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(register_tarnet(), S_OK); }
    ComApartment apartment;
    Control control = Control::create();
};

struct MemberShape {
    const wchar_t* name;
    DISPID id;
    VARTYPE result;
    std::vector<VARTYPE> parameters;
    std::vector<std::wstring> parameter_names;
};

const std::vector<MemberShape> kMethods = {
    {L"ConnectToServer", 2, VT_I2, {VT_BSTR, VT_I2}, {L"Server", L"Port"}},
    {L"ConnectToServerH", 3, VT_I2, {VT_BSTR}, {L"Server"}},
    {L"EnableUpload", 4, VT_I2, {VT_BSTR, VT_I2, VT_I2}, {L"Server", L"Port", L"Enabled"}},
    {L"EnabledUploadH", 5, VT_I2, {VT_BSTR, VT_I2}, {L"Server", L"Enabled"}},
    {L"SendData",
     6,
     VT_I2,
     {VT_BSTR, VT_I2, VT_I2, VT_I4, VT_I4, VT_BSTR, VT_I4},
     {L"Server", L"Port", L"Cmd", L"ApCode", L"Psw", L"Data", L"DataLen"}},
    {L"SendDataH",
     7,
     VT_I2,
     {VT_BSTR, VT_I2, VT_I4, VT_I4, VT_BSTR, VT_I4},
     {L"Server", L"Cmd", L"ApCode", L"Psw", L"Data", L"DataLen"}},
    {L"Disconnect", 8, VT_VOID, {VT_BSTR, VT_I2}, {L"Server", L"Port"}},
    {L"DisconnectH", 9, VT_VOID, {VT_BSTR}, {L"Server"}},
    {L"DisconnectAll", 10, VT_VOID, {}, {}},
    {L"AboutBox", -552, VT_VOID, {}, {}},
};

const std::vector<MemberShape> kEvents = {
    {L"DataReceive",
     1,
     VT_VOID,
     {VT_BSTR, VT_I2, VT_I4, VT_I4, VT_I2, VT_BSTR, VT_I4},
     {L"Server", L"Port", L"ApCode", L"Psw", L"RetCode", L"Data", L"DataLen"}},
    {L"ReConnect", 2, VT_VOID, {VT_BSTR, VT_I2}, {L"Server", L"Port"}},
    {L"FailedConnect", 3, VT_VOID, {VT_BSTR, VT_I2}, {L"Server", L"Port"}},
};

std::wstring doc_string(ITypeInfo* info, MEMBERID id = MEMBERID_NIL) {
    BSTR name = nullptr;
    BSTR doc = nullptr;
    info->GetDocumentation(id, &name, &doc, nullptr, nullptr);
    std::wstring out = doc != nullptr ? doc : L"";
    ::SysFreeString(name);
    ::SysFreeString(doc);
    return out;
}

void expect_methods(ITypeInfo* info, const std::vector<MemberShape>& shapes) {
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cFuncs, shapes.size());
    info->ReleaseTypeAttr(attr);
    for (const auto& shape : shapes) {
        SCOPED_TRACE(std::string(shape.name, shape.name + std::wcslen(shape.name)));
        MEMBERID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(shape.name)};
        ASSERT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK);
        EXPECT_EQ(id, shape.id);
        ITypeComp* comp = nullptr;
        ASSERT_EQ(info->GetTypeComp(&comp), S_OK);
        DESCKIND kind;
        BINDPTR bound;
        ITypeInfo* found = nullptr;
        ASSERT_EQ(comp->Bind(const_cast<LPOLESTR>(shape.name),
                             ::LHashValOfName(LOCALE_USER_DEFAULT, shape.name), INVOKE_FUNC, &found,
                             &kind, &bound),
                  S_OK);
        comp->Release();
        ASSERT_EQ(kind, DESCKIND_FUNCDESC);
        FUNCDESC* f = bound.lpfuncdesc;
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, shape.result);
        ASSERT_EQ(static_cast<std::size_t>(f->cParams), shape.parameters.size());
        for (SHORT p = 0; p < f->cParams; ++p) {
            EXPECT_EQ(f->lprgelemdescParam[p].tdesc.vt, shape.parameters[p]) << p;
        }
        BSTR param_names[8] = {};
        UINT count = 0;
        found->GetNames(f->memid, param_names, 8, &count);
        ASSERT_EQ(count, shape.parameters.size() + 1);
        for (UINT p = 1; p < count; ++p) {
            EXPECT_EQ(std::wstring(param_names[p]), shape.parameter_names[p - 1]);
        }
        for (UINT p = 0; p < count; ++p) {
            ::SysFreeString(param_names[p]);
        }
        found->ReleaseFuncDesc(f);
        found->Release();
    }
}

TEST_F(SurfaceTest, TypeLibraryDeclaresTheControlsIdentifiers) {
    win::ComPtr<ITypeLib> library;
    ASSERT_EQ(::LoadRegTypeLib(LIBID_TARNETLib, 1, 0, 0x409, library.put()), S_OK);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, LIBID_TARNETLib);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->lcid, 0x409u);
    EXPECT_NE(attr->wLibFlags & LIBFLAG_FCONTROL, 0);
    library->ReleaseTLibAttr(attr);
    BSTR name = nullptr;
    BSTR doc = nullptr;
    BSTR help = nullptr;
    ASSERT_EQ(library->GetDocumentation(-1, &name, &doc, nullptr, &help), S_OK);
    EXPECT_EQ(std::wstring(name), L"TARNETLib");
    EXPECT_EQ(std::wstring(doc), L"Tarnet ActiveX Control module");
    EXPECT_TRUE(std::wstring(help).ends_with(L"Tarnet.hlp"));
    ::SysFreeString(name);
    ::SysFreeString(doc);
    ::SysFreeString(help);

    win::ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(library->GetTypeInfoOfGuid(DIID__DTarnet, dispatch.put()), S_OK);
    TYPEATTR* type = nullptr;
    ASSERT_EQ(dispatch->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, TKIND_DISPATCH);
    EXPECT_NE(type->wTypeFlags & TYPEFLAG_FHIDDEN, 0);
    EXPECT_NE(type->wTypeFlags & TYPEFLAG_FDISPATCHABLE, 0);
    EXPECT_EQ(type->cVars, 2) << "DefaultPort, DroppedReports";
    dispatch->ReleaseTypeAttr(type);
    EXPECT_EQ(doc_string(dispatch.get()), L"Dispatch interface for Tarnet Control");
    expect_methods(dispatch.get(), kMethods);
    VARDESC* port = nullptr;
    ASSERT_EQ(dispatch->GetVarDesc(0, &port), S_OK);
    EXPECT_EQ(port->memid, 1);
    EXPECT_EQ(port->elemdescVar.tdesc.vt, VT_I2);
    dispatch->ReleaseVarDesc(port);
    VARDESC* dropped = nullptr;
    ASSERT_EQ(dispatch->GetVarDesc(1, &dropped), S_OK);
    EXPECT_EQ(dropped->memid, 11);
    EXPECT_EQ(dropped->elemdescVar.tdesc.vt, VT_I4);
    EXPECT_NE(dropped->wVarFlags & VARFLAG_FREADONLY, 0) << "the host reads it only";
    dispatch->ReleaseVarDesc(dropped);

    win::ComPtr<ITypeInfo> events;
    ASSERT_EQ(library->GetTypeInfoOfGuid(DIID__DTarnetEvents, events.put()), S_OK);
    EXPECT_EQ(doc_string(events.get()), L"Event interface for Tarnet Control");
    expect_methods(events.get(), kEvents);

    win::ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_Tarnet, coclass.put()), S_OK);
    ASSERT_EQ(coclass->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, TKIND_COCLASS);
    EXPECT_NE(type->wTypeFlags & TYPEFLAG_FCANCREATE, 0);
    EXPECT_NE(type->wTypeFlags & TYPEFLAG_FCONTROL, 0);
    EXPECT_EQ(type->cImplTypes, 2);
    coclass->ReleaseTypeAttr(type);
    EXPECT_EQ(doc_string(coclass.get()), L"Tarnet Control");
    for (UINT i = 0; i < 2; ++i) {
        INT flags = 0;
        coclass->GetImplTypeFlags(i, &flags);
        HREFTYPE ref = 0;
        coclass->GetRefTypeOfImplType(i, &ref);
        win::ComPtr<ITypeInfo> implemented;
        coclass->GetRefTypeInfo(ref, implemented.put());
        TYPEATTR* impl = nullptr;
        implemented->GetTypeAttr(&impl);
        if (impl->guid == DIID__DTarnet) {
            EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
        } else {
            EXPECT_EQ(impl->guid, DIID__DTarnetEvents);
            EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
        }
        implemented->ReleaseTypeAttr(impl);
    }
}

TEST_F(SurfaceTest, NamesMapToTheirDispatchIds) {
    EXPECT_EQ(control.id_of(L"DefaultPort"), 1);
    EXPECT_EQ(control.id_of(L"DroppedReports"), 11);
    for (const auto& m : kMethods) {
        EXPECT_EQ(control.id_of(m.name), m.id);
    }
    EXPECT_EQ(control.id_of(L"defaultport"), 1) << "names are not case-sensitive";
}

TEST_F(SurfaceTest, DispatchConvertsAndChecksArgumentsByTheTypeInformation) {
    const DISPID send = control.id_of(L"SendData");
    const WORD call = DISPATCH_METHOD;
    Value result;
    // Arguments in other automation types are converted ("5" to a short).
    EXPECT_EQ(control.invoke(send, call, {L"127.0.0.9", L"5", 32, 1, 0, L"01", short{2}}, &result),
              S_OK);
    EXPECT_EQ(result.type(), VT_I2);
    EXPECT_EQ(result.as_short(), 1) << "no such link";

    UINT bad = 99;
    EXPECT_EQ(control.invoke(send, call, {L"h", L"abc", 32, 1, 0, L"01", 2}, nullptr, {}, &bad),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(bad, 5u) << "rgvarg index of Port (arguments come last first)";
    EXPECT_EQ(control.invoke(send, call, {L"h", 70000, 32, 1, 0, L"01", 2}), DISP_E_OVERFLOW);
    EXPECT_EQ(control.invoke(send, call, {L"h", short{5}}), DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(control.invoke(send, call, {L"h", 5, 32, 1, 0, L"01", 2, 9}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(control.invoke(77, call, {}), DISP_E_MEMBERNOTFOUND);

    // Named arguments take their places: Data and DataLen by name, in the other order
    // (rgvarg[0] is Data, rgvarg[1] DataLen; the rest are positional, last first).
    std::vector<DISPID> named{5, 6};
    EXPECT_EQ(control.invoke(send, call, {L"127.0.0.9", short{5}, short{32}, 1, 0, 2, L"01"},
                             &result, named),
              S_OK);
    EXPECT_EQ(result.as_short(), 1);
    EXPECT_EQ(control.invoke(send, call, {L"127.0.0.9", short{5}, short{32}, 1, 0, 2, L"01"},
                             &result, {5, 5}),
              DISP_E_PARAMNOTFOUND)
        << "one parameter named twice";

    // A large DataLen is refused with a result, never with an exception.
    EXPECT_EQ(control.invoke(send, call, {L"h", 5, 32, 1, 0, L"01", 100000}, &result), S_OK);
    EXPECT_EQ(result.as_short(), 4);
}

TEST_F(SurfaceTest, DefaultPortPropertyMarksTheControlModified) {
    auto persist = control.as<IPersistStreamInit>(IID_IPersistStreamInit);
    ASSERT_TRUE(persist);
    ASSERT_EQ(persist->InitNew(), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    control.set_port(1234);
    EXPECT_EQ(control.get_port(), 1234);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    // A put needs the named DISPID_PROPERTYPUT argument.
    EXPECT_NE(control.invoke(1, DISPATCH_PROPERTYPUT, {short{1}}), S_OK);
    EXPECT_EQ(control.get_port(), 1234);
}

TEST_F(SurfaceTest, StreamPersistenceRoundTrip) {
    auto persist = control.as<IPersistStreamInit>(IID_IPersistStreamInit);
    control.set_port(1234);
    win::ComPtr<IStream> stream;
    ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, stream.put()), S_OK);
    ASSERT_EQ(persist->Save(stream.get(), TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);

    Control other = Control::create();
    auto loaded = other.as<IPersistStreamInit>(IID_IPersistStreamInit);
    const LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(loaded->Load(stream.get()), S_OK);
    EXPECT_EQ(other.get_port(), 1234);
    EXPECT_EQ(loaded->IsDirty(), S_FALSE);
    CLSID clsid{};
    EXPECT_EQ(loaded->GetClassID(&clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_Tarnet);
    ASSERT_EQ(loaded->InitNew(), S_OK);
    EXPECT_EQ(other.get_port(), kDefaultPort);

    // IPersistStream is served as well, and a stream of another format is refused.
    EXPECT_TRUE(other.as<IPersistStream>(IID_IPersistStream));
    win::ComPtr<IStream> foreign;
    ASSERT_EQ(::CreateStreamOnHGlobal(nullptr, TRUE, foreign.put()), S_OK);
    const DWORD wrong = 0x00020000;
    foreign->Write(&wrong, sizeof wrong, nullptr);
    foreign->Seek(start, STREAM_SEEK_SET, nullptr);
    EXPECT_TRUE(FAILED(loaded->Load(foreign.get())));
    EXPECT_EQ(other.get_port(), kDefaultPort);
}

// A property bag as HTML and script hosts keep one.
class Bag final : public IPropertyBag {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IPropertyBag) {
            *out = static_cast<IPropertyBag*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        auto it = values.find(name);
        if (it == values.end()) {
            return E_INVALIDARG;
        }
        return ::VariantCopy(value, const_cast<VARIANT*>(&it->second.raw()));
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
        values[name] = Value(*value);
        return S_OK;
    }
    std::map<std::wstring, Value> values;
};

TEST_F(SurfaceTest, PropertyBagPersistenceRoundTrip) {
    auto persist = control.as<IPersistPropertyBag>(IID_IPersistPropertyBag);
    ASSERT_TRUE(persist);
    control.set_port(4321);
    Bag bag;
    ASSERT_EQ(persist->Save(&bag, TRUE, TRUE), S_OK);
    ASSERT_EQ(bag.values.count(L"DefaultPort"), 1u);
    EXPECT_EQ(bag.values[L"DefaultPort"].type(), VT_I2);
    EXPECT_EQ(bag.values[L"DefaultPort"].as_short(), 4321);
    EXPECT_EQ(bag.values.count(L"_ExtentX"), 1u);

    Control other = Control::create();
    auto loaded = other.as<IPersistPropertyBag>(IID_IPersistPropertyBag);
    ASSERT_EQ(loaded->Load(&bag, nullptr), S_OK);
    EXPECT_EQ(other.get_port(), 4321);

    Bag text_bag;  // HTML gives every value as text
    text_bag.values[L"DefaultPort"] = Value(L"6000");
    ASSERT_EQ(loaded->Load(&text_bag, nullptr), S_OK);
    EXPECT_EQ(other.get_port(), 6000);
    Bag empty;
    ASSERT_EQ(loaded->Load(&empty, nullptr), S_OK);
    EXPECT_EQ(other.get_port(), kDefaultPort) << "a bag without it gives the default";
}

TEST_F(SurfaceTest, ClassInformationPagesMiscStatusAndVerbs) {
    auto info = control.as<IProvideClassInfo2>(IID_IProvideClassInfo2);
    ASSERT_TRUE(info);
    GUID source{};
    ASSERT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
    EXPECT_EQ(source, DIID__DTarnetEvents);
    win::ComPtr<ITypeInfo> coclass;
    ASSERT_EQ(info->GetClassInfo(coclass.put()), S_OK);
    TYPEATTR* attr = nullptr;
    coclass->GetTypeAttr(&attr);
    EXPECT_EQ(attr->guid, CLSID_Tarnet);
    coclass->ReleaseTypeAttr(attr);

    auto pages = control.as<ISpecifyPropertyPages>(IID_ISpecifyPropertyPages);
    CAUUID list{};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_EQ(list.pElems[0], CLSID_TarnetPropPage);
    ::CoTaskMemFree(list.pElems);

    auto object = control.as<IOleObject>(IID_IOleObject);
    DWORD status = 0;
    ASSERT_EQ(object->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 0x20191u);
    LPOLESTR type = nullptr;
    ASSERT_EQ(object->GetUserType(USERCLASSTYPE_FULL, &type), S_OK);
    EXPECT_EQ(std::wstring(type), L"Tarnet Control");
    ::CoTaskMemFree(type);
    win::ComPtr<IEnumOLEVERB> verbs;
    ASSERT_EQ(object->EnumVerbs(verbs.put()), S_OK);
    OLEVERB verb{};
    ASSERT_EQ(verbs->Next(1, &verb, nullptr), S_OK);
    EXPECT_EQ(verb.lVerb, OLEIVERB_PROPERTIES);
    ::CoTaskMemFree(verb.lpszVerbName);
    EXPECT_EQ(verbs->Next(1, &verb, nullptr), S_FALSE);

    // Without a site there is nothing to activate in.
    EXPECT_TRUE(
        FAILED(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr)));
}

TEST_F(SurfaceTest, DrawsAWhiteRectangleWithAnInscribedEllipse) {
    auto view = control.as<IViewObject2>(IID_IViewObject2);
    ASSERT_TRUE(view);
    HDC screen = ::GetDC(nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 100, -60, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(bitmap, nullptr);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    RECT all{0, 0, 100, 60};
    ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    const RECTL bounds{0, 0, 100, 60};
    ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr,
                         nullptr, 0),
              S_OK);
    ::GdiFlush();
    auto pixel = [&](int x, int y) {
        return static_cast<const DWORD*>(bits)[y * 100 + x] & 0xFFFFFF;
    };
    EXPECT_EQ(pixel(1, 1), 0xFFFFFFu) << "corner: the white fill";
    EXPECT_EQ(pixel(98, 58), 0xFFFFFFu);
    EXPECT_EQ(pixel(50, 30), 0xFFFFFFu) << "inside: the white brush";
    EXPECT_EQ(pixel(0, 30), 0x000000u) << "the ellipse's edge meets the left side";
    EXPECT_EQ(pixel(50, 0), 0x000000u) << "and the top";
    EXPECT_EQ(
        view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
        DV_E_DVASPECT);
    ::SelectObject(dc, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
    ::ReleaseDC(nullptr, screen);
}

TEST_F(SurfaceTest, PropertyPageGeneral) {
    win::ComPtr<IPropertyPage> page;
    ASSERT_EQ(::CoCreateInstance(CLSID_TarnetPropPage, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IPropertyPage, page.put_void()),
              S_OK);
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    EXPECT_EQ(std::wstring(info.pszTitle), L"General");
    EXPECT_GT(info.size.cx, 250) << "250 dialog units";
    EXPECT_GT(info.size.cy, 62);
    EXPECT_GT(info.size.cx, info.size.cy * 2);
    ::CoTaskMemFree(info.pszTitle);
    IUnknown* objects[] = {control.get()};
    EXPECT_EQ(page->SetObjects(1, objects), S_OK);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(control.get_port(), kDefaultPort) << "the page binds no property";
    EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
}

TEST_F(SurfaceTest, AboutBoxWithoutADisplayReturns) {
    // Headless there is no screen for a modal dialog: the call returns at once.
    EXPECT_NO_THROW(control.call(L"AboutBox"));
}

}  // namespace
}  // namespace tarnet::testing
