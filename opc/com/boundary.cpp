#include "opc/com/boundary.h"

#include "opc/com/errors.h"
#include "opc/com/log.h"
#include "opc/com/text.h"
#include "win/com_error.h"

namespace porvex::opc {

HRESULT BoundaryResult(const std::exception_ptr& error, const char* method) noexcept {
    const HRESULT result = ResultOfException(error);
    try {
        std::rethrow_exception(error);
    } catch (const EOpcError&) {
        // The client gets the code; nothing else to tell.
    } catch (const win::ComError&) {
        // Likewise: a failed system call whose code the client gets.
    } catch (...) {
        try {
            LogLine(WideFromUtf8(method) + L" failed: " + DescribeException(error));
        } catch (...) {
        }
    }
    return result;
}

}  // namespace porvex::opc
