#include "output.h"

#include <cstdio>

#include "opc/com/text.h"

namespace porvex::opcclient {
namespace {

void Write(std::FILE* stream, const std::wstring& line) {
    const std::string text = opc::Utf8FromWide(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

void PrintLine(const std::wstring& line) { Write(stdout, line); }

void PrintError(const std::wstring& line) { Write(stderr, L"opcclient: " + line); }

}  // namespace porvex::opcclient
