// ordana-cli's entry on Windows: the arguments arrive in UTF-16 and go on in UTF-8, as on Linux, to
// main.cpp's main (compiled here under the name below); the console shows the UTF-8 it is given.

#include <string>
#include <vector>
#include <windows.h>

int ordanaCliMain(int argc, char* argv[]);

namespace {

std::string utf8(const wchar_t* w) {
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string s(std::size_t(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    s.resize(std::size_t(n - 1));
    return s;
}

} // namespace

int wmain(int argc, wchar_t* argv[]) {
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCP(CP_UTF8);
    std::vector<std::string> args;
    for (int k = 0; k < argc; ++k)
        args.push_back(utf8(argv[k]));
    std::vector<char*> pointers;
    for (auto& a : args)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    return ordanaCliMain(argc, pointers.data());
}
