#pragma once
#include "UMain.h"
#include "app/global/global.h"
#include "platform/ui/Messages.h"
#include "tests/ui/TestApplication.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QString& value) : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
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

// A practice home and a configuration home in temporary directories, the
// main window's bindings recorded, every message box recorded.
class MainFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApplication();
        ASSERT_TRUE(root_.isValid());
        home_ = root_.path() + "/home/";
        config_ = root_.path() + "/config/";
        homeEnv_ = std::make_unique<ScopedEnv>("KORVALE_HOME", home_);
        configEnv_ = std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", root_.path() + "/config");
        // A private system temporary directory: test programs running side
        // by side must not empty each other's work directory.
        ASSERT_TRUE(QDir().mkpath(root_.path() + "/tmp"));
        tmpEnv_ = std::make_unique<ScopedEnv>("TMPDIR", root_.path() + "/tmp");
        AppVersion = "Korvale 3.1";
        TfrmMain::Bind() = {};
        TfrmMain::Bind().checkDatabase = [this] { steps_ << "check:" + DataPath; };
        TfrmMain::Bind().sessionDirectories = [this](const QString& priv, const QString& net) {
            steps_ << "session:" + priv + "|" + net;
        };
        TfrmMain::Bind().login = [this] {
            steps_ << "login";
            return loginResult_;
        };
        TfrmMain::Bind().autoBackup = [this] { steps_ << "backup"; };
    }
    void TearDown() override
    {
        TfrmMain::Bind() = {};
        frm_.reset();
    }
    TfrmMain& Create()
    {
        frm_ = std::make_unique<TfrmMain>();
        return *frm_;
    }

    QTemporaryDir root_;
    QString home_, config_;
    std::unique_ptr<ScopedEnv> homeEnv_, configEnv_, tmpEnv_;
    kui::ScopedMessageRecorder messages_;
    QStringList steps_;
    bool loginResult_ = true;
    std::unique_ptr<TfrmMain> frm_;
};
