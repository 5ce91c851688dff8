#include "tarnet_prop_page.h"

#include <new>

#include "resource.h"

namespace tarnet {

CTarnetPropPage::CTarnetPropPage()
    : DialogPropertyPage(IDD_PROPPAGE_TARNET, IDS_TARNET_PPG_CAPTION) {}

HRESULT CTarnetPropPage::create_instance(REFIID iid, void** out) {
    auto* page = new (std::nothrow) CTarnetPropPage();
    if (page == nullptr) {
        return E_OUTOFMEMORY;
    }
    const ax::win::ComPtr<CTarnetPropPage> held(page);
    return page->QueryInterface(iid, out);
}

}  // namespace tarnet
