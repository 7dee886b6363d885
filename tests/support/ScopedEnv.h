// Sets (or removes) one environment variable for the life of a test and restores it after.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

class ScopedEnv {
  public:
    // `value` null removes the variable.
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        Set(name, value);
    }
    ScopedEnv(const char* name, const std::string& value) : ScopedEnv(name, value.c_str()) {}
    ~ScopedEnv() { Set(name_.c_str(), old_ ? old_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    static void Set(const char* name, const char* value) {
#ifdef _WIN32
        // An empty value removes the variable; the process's environment changes with the C
        // runtime's.
        (void)::_putenv_s(name, value ? value : "");
#else
        (void)(value ? ::setenv(name, value, 1) : ::unsetenv(name));
#endif
    }

    std::string name_;
    std::optional<std::string> old_;
};
