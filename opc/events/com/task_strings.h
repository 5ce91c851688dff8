// Texts handed to a client as a task-allocated array of task-allocated strings.
#pragma once

#include <string>
#include <vector>

#include "win/task_memory.h"

namespace porvex::opc::events {

inline win::TaskArray<LPWSTR> TaskStrings(const std::vector<std::wstring>& texts) {
    win::TaskArray<LPWSTR> array(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        array[i] = win::task_string(texts[i]).release();
    }
    return array;
}

}  // namespace porvex::opc::events
