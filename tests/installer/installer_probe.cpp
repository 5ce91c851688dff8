// installer_probe: what the installer tests ask of Windows in the test's prefix.
//
//   installer_probe control          creates the Tarnet control by its ProgID in this
//                                    process (as a host program does), prints the path of
//                                    the module that was loaded and the control's default
//                                    port; exit code 0 when it loaded and answered
//   installer_probe window SECONDS   waits for Porvex398's main window; 0 when it appeared
//   installer_probe shortpath PATH   prints the short (8.3) form of an existing path
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "com_support.h"
#include "ui/monitor_window.h"

namespace {

int LoadControl() {
    tarnet::testing::ComApartment apartment;
    try {
        tarnet::testing::Control control = tarnet::testing::Control::create();
        const short port = control.get_port();
        wchar_t path[MAX_PATH] = {};
        HMODULE module = GetModuleHandleW(L"Tarnet.ocx");
        if (module == nullptr || GetModuleFileNameW(module, path, MAX_PATH) == 0) {
            std::fprintf(stderr, "the control was created but Tarnet.ocx is not loaded\n");
            return 1;
        }
        char narrow[MAX_PATH * 3] = {};
        WideCharToMultiByte(CP_UTF8, 0, path, -1, narrow, sizeof narrow, nullptr, nullptr);
        std::printf("module %s\nport %d\n", narrow, port);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "the control could not be created: %s\n", e.what());
        return 1;
    }
}

int WaitForWindow(int seconds) {
    for (int waited = 0; waited < seconds * 10; ++waited) {
        if (FindWindowW(porvex::ui::kMainClassName, porvex::ui::kMainCaption) != nullptr) {
            return 0;
        }
        Sleep(100);
    }
    std::fprintf(stderr, "no Porvex398 window after %d s\n", seconds);
    return 1;
}

int PrintShortPath(const char* path) {
    wchar_t wide[MAX_PATH] = {};
    wchar_t short_path[MAX_PATH] = {};
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, MAX_PATH) == 0 ||
        GetShortPathNameW(wide, short_path, MAX_PATH) == 0) {
        std::fprintf(stderr, "no short form of %s\n", path);
        return 1;
    }
    char narrow[MAX_PATH * 3] = {};
    WideCharToMultiByte(CP_UTF8, 0, short_path, -1, narrow, sizeof narrow, nullptr, nullptr);
    std::printf("%s\n", narrow);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "control") {
        return LoadControl();
    }
    if (command == "window" && argc > 2) {
        return WaitForWindow(std::atoi(argv[2]));
    }
    if (command == "shortpath" && argc > 2) {
        return PrintShortPath(argv[2]);
    }
    std::fprintf(stderr, "usage: installer_probe control | window SECONDS | shortpath PATH\n");
    return 2;
}
