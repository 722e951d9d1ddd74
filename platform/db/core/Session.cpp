#include "platform/db/core/Session.h"

#include <algorithm>

namespace kdb {

Session& Session::instance()
{
    static Session session;
    return session;
}

void Session::setPrivateDir(const std::string& dir)
{
    privateDir_ = dir;
}
const std::string& Session::privateDir() const
{
    return privateDir_;
}
void Session::setNetDir(const std::string& dir)
{
    netDir_ = dir;
}
const std::string& Session::netDir() const
{
    return netDir_;
}

void Session::addPassword(const std::string& password)
{
    if (!hasPassword(password))
        passwords_.push_back(password);
}
void Session::removeAllPasswords()
{
    passwords_.clear();
}
bool Session::hasPassword(const std::string& password) const
{
    return std::find(passwords_.begin(), passwords_.end(), password) != passwords_.end();
}
const std::vector<std::string>& Session::passwords() const
{
    return passwords_;
}
void Session::setPasswordHandler(PasswordHandler handler)
{
    handler_ = std::move(handler);
}
const Session::PasswordHandler& Session::passwordHandler() const
{
    return handler_;
}
void Session::setIdleOpenRelease(std::function<bool()> release)
{
    idleRelease_ = std::move(release);
}
bool Session::releaseIdleOpens() const
{
    return idleRelease_ && idleRelease_();
}

}  // namespace kdb
