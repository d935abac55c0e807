#pragma once

// Setting and removing an environment variable of the test's own process, on either system.

#include <cstdlib>
#include <string>

namespace quillon::testing {

inline void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    ::_putenv_s(name, value.c_str());
#else
    ::setenv(name, value.c_str(), 1);
#endif
}

inline void UnsetEnv(const char* name) {
#ifdef _WIN32
    ::_putenv_s(name, "");  // an empty value removes it
#else
    ::unsetenv(name);
#endif
}

}  // namespace quillon::testing
