// A child for the process tests: marks that it started in its working folder,
// then waits to be ended (at most a minute).
#include <windows.h>

#include <cstdio>

int main() {
    if (FILE* marker = _wfopen(L"started.txt", L"wb"))
        std::fclose(marker);
    Sleep(60000);
    return 0;
}
