#pragma once
// The engine session: its private and network directories, the passwords
// it holds for protected tables and the handler asked for more when none
// of them opens a table.
#include <functional>
#include <string>
#include <vector>

namespace kdb {

class Session {
public:
    static Session& instance();

    void setPrivateDir(const std::string& dir);
    const std::string& privateDir() const;
    void setNetDir(const std::string& dir);
    const std::string& netDir() const;

    void addPassword(const std::string& password);
    void removeAllPasswords();
    bool hasPassword(const std::string& password) const;
    const std::vector<std::string>& passwords() const;

    // Called when a protected table is opened and no password of the session
    // opens it; the handler may add passwords and set retry to true.
    using PasswordHandler = std::function<void(bool& retry)>;
    void setPasswordHandler(PasswordHandler handler);
    const PasswordHandler& passwordHandler() const;

    // Gives back the shared opens that tables kept idle by this program
    // still hold (see Table::park), so that an exclusive open made here is
    // not refused because of them; answers whether one was given back. The
    // layer that keeps the tables sets the routine.
    void setIdleOpenRelease(std::function<bool()> release);
    bool releaseIdleOpens() const;

private:
    Session() = default;
    std::string privateDir_, netDir_;
    std::vector<std::string> passwords_;
    PasswordHandler handler_;
    std::function<bool()> idleRelease_;
};

}  // namespace kdb
