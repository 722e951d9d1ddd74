#pragma once
#include "app/main/UMain.h"
#include "app/global/global.h"
#include "tests/support/TempPractice.h"

#include <gtest/gtest.h>

#include <memory>

// The main window over an empty temporary practice: its start-up makes the
// directories. The outside steps are recorded in steps_; the login answers
// loginResult_.
class MainFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        AppContext& ctx = practice_.context();
        ctx.checkDatabase = [this] { steps_ << "check:" + DataPath; };
        ctx.login = [this] {
            steps_ << "login";
            return loginResult_;
        };
        ctx.autoBackup = [this] { steps_ << "backup"; };
    }
    void TearDown() override { frm_.reset(); }
    TfrmMain& Create()
    {
        frm_ = std::make_unique<TfrmMain>(practice_.context());
        return *frm_;
    }

    TempPractice practice_{TempPractice::Layout::Empty};
    const QString home_ = practice_.home();
    const QString config_ = practice_.config();
    kui::RecordingMessageService& messages_ = practice_.messages();
    QStringList steps_;
    bool loginResult_ = true;
    std::unique_ptr<TfrmMain> frm_;
};
