#include "app/huge_pages.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

void restart_with_huge_pages(char** argv) {
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (tunables != nullptr && std::strstr(tunables, "glibc.malloc.hugetlb") != nullptr)
        return;
    const std::string wanted = "glibc.malloc.hugetlb=1";
    const std::string value =
        tunables != nullptr && *tunables != '\0' ? std::string(tunables) + ":" + wanted : wanted;
    if (setenv("GLIBC_TUNABLES", value.c_str(), 1) != 0)
        return;
    execv("/proc/self/exe", argv);
    // Not started again: the tunable stays set, so a child vemlo does not try either.
}
