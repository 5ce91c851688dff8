// The entry of the Windows test programs that are COM clients or host the OPC engine: they
// run in a single-threaded apartment, as the door server's main thread and OPC clients
// usually do, so callbacks arrive as messages the tests pump.
#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 2;
    }
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
