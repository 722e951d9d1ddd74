#pragma once
// Sets (or, with a null value, removes) an environment variable for the
// life of the object, then puts the old value back.
#include <QString>

#include <cstdlib>
#include <optional>
#include <string>

class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value.isNull())
            ::unsetenv(name);
        else
            ::setenv(name, value.toLocal8Bit().constData(), 1);
    }
    ~ScopedEnv()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};
