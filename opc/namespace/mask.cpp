#include "opc/namespace/mask.h"

#include <string>

#include "opc/com/errors.h"
#include "opc/com/text.h"
#include "opc/idl/opc_interfaces.h"

namespace porvex::opc {
namespace {

// Index just past the set starting at mask[open] == '['; EOpcError when it never closes.
std::size_t SetEnd(std::wstring_view mask, std::size_t open) {
    std::size_t i = open + 1;
    if (i < mask.size() && mask[i] == L'!') {
        ++i;
    }
    if (i < mask.size()) {
        ++i;  // the first member is literal, even ']'
    }
    while (i < mask.size() && mask[i] != L']') {
        ++i;
    }
    if (i >= mask.size()) {
        throw EOpcError(OPC_E_INVALIDFILTER);
    }
    return i + 1;
}

bool InSet(std::wstring_view mask, std::size_t open, std::size_t end, wchar_t c) {
    std::size_t i = open + 1;
    const bool negated = mask[i] == L'!';
    if (negated) {
        ++i;
    }
    const std::size_t close = end - 1;
    bool found = false;
    while (i < close) {
        if (i + 2 < close && mask[i + 1] == L'-') {
            found = found || (mask[i] <= c && c <= mask[i + 2]);
            i += 3;
        } else {
            found = found || mask[i] == c;
            ++i;
        }
    }
    return found != negated;
}

}  // namespace

bool MatchesMask(std::wstring_view maskText, std::wstring_view nameText) {
    const std::wstring mask = FoldCase(maskText);
    const std::wstring name = FoldCase(nameText);
    // A malformed mask fails whatever the name.
    for (std::size_t i = 0; i < mask.size();) {
        i = mask[i] == L'[' ? SetEnd(mask, i) : i + 1;
    }

    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::wstring::npos;
    std::size_t star_name = 0;
    while (n < name.size()) {
        if (p < mask.size() && mask[p] == L'*') {
            star = p++;
            star_name = n;
            continue;
        }
        if (p < mask.size()) {
            if (mask[p] == L'?') {
                ++p;
                ++n;
                continue;
            }
            if (mask[p] == L'[') {
                const std::size_t end = SetEnd(mask, p);
                if (InSet(mask, p, end, name[n])) {
                    p = end;
                    ++n;
                    continue;
                }
            } else if (mask[p] == name[n]) {
                ++p;
                ++n;
                continue;
            }
        }
        if (star == std::wstring::npos) {
            return false;
        }
        p = star + 1;
        n = ++star_name;
    }
    while (p < mask.size() && mask[p] == L'*') {
        ++p;
    }
    return p == mask.size();
}

}  // namespace porvex::opc
