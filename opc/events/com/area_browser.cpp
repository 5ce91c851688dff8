#include "opc/events/com/area_browser.h"

#include "opc/com/boundary.h"
#include "opc/events/com/event_engine.h"
#include "opc/events/model/wildcard.h"
#include "opc/server/enumerators.h"
#include "win/task_memory.h"

namespace porvex::opc::events {

win::ComPtr<TAreaBrowser> TAreaBrowser::Create(TEventEngine& engine) {
    return win::ComPtr<TAreaBrowser>(new TAreaBrowser(engine));
}

TEventEngine* TAreaBrowser::Engine() const noexcept {
    return TEventEngine::Instance() == engine_ ? engine_ : nullptr;
}

HRESULT TAreaBrowser::ChangeBrowsePosition(OPCAEBROWSEDIRECTION dwBrowseDirection,
                                           LPCWSTR szString) noexcept {
    return OpcBoundary("IOPCEventAreaBrowser::ChangeBrowsePosition", [&]() -> HRESULT {
        TEventEngine* engine = Engine();
        if (!engine) {
            return E_FAIL;
        }
        const TEventCatalog& catalog = engine->Hub().Catalog();
        const std::wstring text = szString ? szString : L"";
        switch (dwBrowseDirection) {
            case OPCAE_BROWSE_UP: {
                if (position_.empty()) {
                    return E_FAIL;  // already at the root
                }
                const std::size_t dot = position_.rfind(kAreaDelimiter);
                position_ = dot == std::wstring::npos ? std::wstring() : position_.substr(0, dot);
                return S_OK;
            }
            case OPCAE_BROWSE_DOWN: {
                const std::wstring target = JoinArea(position_, text);
                if (text.empty() || !catalog.IsArea(target)) {
                    return OPC_E_INVALIDBRANCHNAME;
                }
                position_ = target;
                return S_OK;
            }
            case OPCAE_BROWSE_TO:
                if (!catalog.IsArea(text)) {
                    return OPC_E_INVALIDBRANCHNAME;
                }
                position_ = text;
                return S_OK;
        }
        return E_INVALIDARG;
    });
}

HRESULT TAreaBrowser::BrowseOPCAreas(OPCAEBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                     LPENUMSTRING* ppIEnumString) noexcept {
    if (!ppIEnumString) {
        return E_POINTER;
    }
    *ppIEnumString = nullptr;
    return OpcBoundary("IOPCEventAreaBrowser::BrowseOPCAreas", [&]() -> HRESULT {
        TEventEngine* engine = Engine();
        if (!engine) {
            return E_FAIL;
        }
        const TEventCatalog& catalog = engine->Hub().Catalog();
        std::vector<std::wstring> candidates;
        if (dwBrowseFilterType == OPC_AREA) {
            candidates = catalog.ChildAreas(position_);
        } else if (dwBrowseFilterType == OPC_SOURCE) {
            for (const TSourceInfo* source : catalog.SourcesIn(position_)) {
                candidates.push_back(TEventCatalog::ShortSourceName(*source));
            }
        } else {
            return E_INVALIDARG;
        }
        const std::wstring filter = szFilterCriteria ? szFilterCriteria : L"";
        std::vector<std::wstring> names;
        for (std::wstring& name : candidates) {
            if (filter.empty() || MatchesWildcard(filter, name)) {
                names.push_back(std::move(name));
            }
        }
        const bool none = names.empty();
        *ppIEnumString = TStringsEnumerator::Create(std::move(names)).detach();
        return none ? S_FALSE : S_OK;
    });
}

HRESULT TAreaBrowser::GetQualifiedAreaName(LPCWSTR szAreaName,
                                           LPWSTR* pszQualifiedAreaName) noexcept {
    if (!pszQualifiedAreaName) {
        return E_POINTER;
    }
    *pszQualifiedAreaName = nullptr;
    return OpcBoundary("IOPCEventAreaBrowser::GetQualifiedAreaName", [&]() -> HRESULT {
        TEventEngine* engine = Engine();
        if (!engine) {
            return E_FAIL;
        }
        if (!szAreaName || !*szAreaName) {
            return E_INVALIDARG;
        }
        const std::wstring qualified = JoinArea(position_, szAreaName);
        if (!engine->Hub().Catalog().IsArea(qualified)) {
            return E_INVALIDARG;
        }
        *pszQualifiedAreaName = win::task_string(qualified).release();
        return S_OK;
    });
}

HRESULT TAreaBrowser::GetQualifiedSourceName(LPCWSTR szSourceName,
                                             LPWSTR* pszQualifiedSourceName) noexcept {
    if (!pszQualifiedSourceName) {
        return E_POINTER;
    }
    *pszQualifiedSourceName = nullptr;
    return OpcBoundary("IOPCEventAreaBrowser::GetQualifiedSourceName", [&]() -> HRESULT {
        TEventEngine* engine = Engine();
        if (!engine) {
            return E_FAIL;
        }
        if (!szSourceName || !*szSourceName) {
            return E_INVALIDARG;
        }
        for (const TSourceInfo* source : engine->Hub().Catalog().SourcesIn(position_)) {
            if (TEventCatalog::ShortSourceName(*source) == szSourceName) {
                *pszQualifiedSourceName = win::task_string(source->name).release();
                return S_OK;
            }
        }
        return E_INVALIDARG;
    });
}

void TAreaBrowser::final_release() noexcept {
    // The last reference may go on any thread: the object leaves the engine under its lock,
    // unless a call holding the lock took a new reference meanwhile.
    const TEngineGuard engine;
    if (references() == 0) {
        delete this;
    }
}

}  // namespace porvex::opc::events
