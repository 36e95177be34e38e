#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace pizzacore::testing {

// Sets (or, with a null value, removes) an environment variable for one scope and puts the old
// value back afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value)
        : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ScopedVariable(const char* name, const std::string& value)
        : ScopedVariable(name, value.c_str()) {}
    ~ScopedVariable() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace pizzacore::testing
