// The two creatable classes of the module.
#pragma once

#include <windows.h>

namespace tarvion::com {

// A new CTarvionCtrl answering riid (IUnknown, IDispatch, _DTarvion,
// IProvideClassInfo2, ISpecifyPropertyPages and the embedding interfaces).
HRESULT createControl(REFIID riid, void** out);
// A new CTarvionPropPage answering riid (IUnknown, IPropertyPage).
HRESULT createPropertyPage(REFIID riid, void** out);

}  // namespace tarvion::com
