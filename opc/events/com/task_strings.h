// Texts handed to a client as a task-allocated array of task-allocated strings.
#pragma once

#include <string>
#include <vector>

#include "opc/com/task_mem.h"

namespace porvex::opc::events {

inline TTaskArray<LPWSTR> TaskStrings(const std::vector<std::wstring>& texts) {
    TTaskArray<LPWSTR> array(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        array[i] = TTaskString(texts[i]).Detach();
    }
    return array;
}

}  // namespace porvex::opc::events
