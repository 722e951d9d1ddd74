#pragma once
#include <exception>

// The silent abort: ends the current action without any message.
// The application object swallows it; nothing is shown to the user.
class EAbort : public std::exception {
public:
    const char* what() const noexcept override { return "Opération abandonnée"; }
};

// Raise the silent abort.
[[noreturn]] inline void Abort()
{
    throw EAbort();
}
