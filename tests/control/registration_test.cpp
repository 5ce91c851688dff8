// Self-registration of Tarnet.ocx in the test prefix: regsvr32 writes every key a form
// host and a script host need, DllUnregisterServer removes them, and the class objects
// and unloading behave as COM expects.
#include <gtest/gtest.h>

#include <olectl.h>

#include "child_process.h"
#include "com_support.h"
#include "identifiers.h"
#include "win/registry.h"

namespace tarnet::testing {
namespace {

using porvex::win::guid_text;

std::string system_program(const char* name) {
    char dir[MAX_PATH] = {};
    ::GetSystemDirectoryA(dir, MAX_PATH);
    return std::string(dir) + "\\" + name;
}

std::wstring value_of(const std::wstring& path, const std::wstring& name = L"") {
    return porvex::win::read_key_text(HKEY_CLASSES_ROOT, path, name).value_or(L"<missing>");
}

bool exists(const std::wstring& path) { return porvex::win::key_exists(HKEY_CLASSES_ROOT, path); }

// Tarnet.ocx loaded into the test, for its exports.
class Library {
  public:
    Library() : module_(::LoadLibraryW(build_file("Tarnet.ocx").c_str())) {}
    ~Library() {
        if (module_ != nullptr) {
            ::FreeLibrary(module_);
        }
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    template <class F>
    F entry(const char* name) const {
        return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
    }
    HRESULT call(const char* name) const {
        auto f = entry<HRESULT(STDAPICALLTYPE*)()>(name);
        return f != nullptr ? f() : E_NOINTERFACE;
    }

  private:
    HMODULE module_;
};

const std::wstring kControlKey = L"CLSID\\" + guid_text(CLSID_Tarnet);
const std::wstring kPageKey = L"CLSID\\" + guid_text(CLSID_TarnetPropPage);

void expect_registered() {
    const std::wstring ocx = build_file("Tarnet.ocx");
    EXPECT_EQ(value_of(kControlKey), L"Tarnet Control");
    EXPECT_EQ(value_of(kControlKey + L"\\InprocServer32"), ocx);
    EXPECT_EQ(value_of(kControlKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(value_of(kControlKey + L"\\ProgID"), L"TARNET.TarnetCtrl.1");
    EXPECT_TRUE(exists(kControlKey + L"\\Control"));
    EXPECT_EQ(value_of(kControlKey + L"\\ToolboxBitmap32"), ocx + L", 1");
    EXPECT_EQ(value_of(kControlKey + L"\\MiscStatus\\1"), L"131473") << "0x20191";
    EXPECT_EQ(value_of(kControlKey + L"\\TypeLib"), guid_text(LIBID_TARNETLib));
    EXPECT_EQ(value_of(kControlKey + L"\\Version"), L"1.0");
    EXPECT_EQ(value_of(L"TARNET.TarnetCtrl.1"), L"Tarnet Control");
    EXPECT_EQ(value_of(L"TARNET.TarnetCtrl.1\\CLSID"), guid_text(CLSID_Tarnet));

    EXPECT_EQ(value_of(kPageKey), L"Tarnet Property Page");
    EXPECT_EQ(value_of(kPageKey + L"\\InprocServer32"), ocx);
    EXPECT_EQ(value_of(kPageKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(value_of(L"TARNET.TarnetPropPage.1\\CLSID"), guid_text(CLSID_TarnetPropPage));

    const std::wstring library = L"TypeLib\\" + guid_text(LIBID_TARNETLib) + L"\\1.0";
    EXPECT_EQ(value_of(library), L"Tarnet ActiveX Control module");
    EXPECT_NE(value_of(library + L"\\409\\win32").find(L"Tarnet.ocx"), std::wstring::npos);
    // The dispinterfaces are marshalled by the standard dispatch marshaller.
    for (const GUID& iid : {DIID__DTarnet, DIID__DTarnetEvents}) {
        EXPECT_EQ(value_of(L"Interface\\" + guid_text(iid) + L"\\ProxyStubClsid32"),
                  L"{00020420-0000-0000-C000-000000000046}");
    }
}

TEST(Registration, Regsvr32RegistersEveryKey) {
    {
        Library library;  // start from a prefix without the control
        library.call("DllUnregisterServer");
    }
    ASSERT_FALSE(exists(kControlKey));
    ASSERT_FALSE(exists(L"TARNET.TarnetCtrl.1"));
    ctlsim::testing::ChildProcess regsvr(system_program("regsvr32.exe"),
                                         {"/s", build_file_narrow("Tarnet.ocx")});
    EXPECT_EQ(regsvr.wait(std::chrono::seconds(60)), 0);
    expect_registered();
}

TEST(Registration, UnregisterRemovesTheKeysAndRegisterRestoresThem) {
    Library library;
    ASSERT_EQ(library.call("DllRegisterServer"), S_OK);
    ASSERT_EQ(library.call("DllUnregisterServer"), S_OK);
    EXPECT_FALSE(exists(kControlKey));
    EXPECT_FALSE(exists(kPageKey));
    EXPECT_FALSE(exists(L"TARNET.TarnetCtrl.1"));
    EXPECT_FALSE(exists(L"TARNET.TarnetPropPage.1"));
    EXPECT_FALSE(exists(L"TypeLib\\" + guid_text(LIBID_TARNETLib) + L"\\1.0"));
    EXPECT_EQ(library.call("DllUnregisterServer"), SELFREG_E_TYPELIB)
        << "the type library was not registered any more";
    ASSERT_EQ(library.call("DllRegisterServer"), S_OK);
    expect_registered();
}

TEST(Registration, ClassObjectsAndUnloading) {
    ComApartment apartment;
    Library library;
    ASSERT_EQ(library.call("DllRegisterServer"), S_OK);
    auto get_class_object =
        library.entry<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    ASSERT_NE(get_class_object, nullptr);

    win::ComPtr<IClassFactory> factory;
    EXPECT_EQ(get_class_object(IID_IDispatch, IID_IClassFactory, factory.put_void()),
              CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(get_class_object(CLSID_Tarnet, IID_IClassFactory, factory.put_void()), S_OK);
    EXPECT_EQ(library.call("DllCanUnloadNow"), S_FALSE) << "a factory is alive";

    win::ComPtr<IUnknown> aggregated;
    IUnknown* outer = factory.get();
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, aggregated.put_void()),
              CLASS_E_NOAGGREGATION);
    win::ComPtr<IDispatch> control;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, control.put_void()), S_OK);
    factory.reset();
    EXPECT_EQ(library.call("DllCanUnloadNow"), S_FALSE) << "a control is alive";
    control.reset();
    EXPECT_EQ(library.call("DllCanUnloadNow"), S_OK);

    ASSERT_EQ(get_class_object(CLSID_TarnetPropPage, IID_IClassFactory, factory.put_void()), S_OK);
    win::ComPtr<IPropertyPage> page;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPropertyPage, page.put_void()), S_OK);
}

}  // namespace
}  // namespace tarnet::testing
