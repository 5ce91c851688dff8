// CTarnetPropPage: the control's one property page, "General". It binds no property;
// it shows one line of text.
#pragma once

#include "property_page.h"

namespace tarnet {

class CTarnetPropPage final : public ax::DialogPropertyPage {
  public:
    static HRESULT create_instance(REFIID iid, void** out);

  private:
    CTarnetPropPage();
    ~CTarnetPropPage() override = default;
};

}  // namespace tarnet
