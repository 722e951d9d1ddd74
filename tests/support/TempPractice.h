#pragma once
// A practice in a temporary directory, for tests that build a screen:
//
//     TempPractice practice;
//     TfrmCalendar frm(practice.context());
//
// The practice home ($KORVALE_HOME), the configuration home
// ($XDG_CONFIG_HOME) and the system temporary directory ($TMPDIR) point
// into the temporary directory for the life of the object, every message
// box is recorded and answered (messages()), and the context's outside
// steps never open a window: the login succeeds, no picture is chosen.
// The table check is the real one.
#include "app/global/AppContext.h"
#include "platform/ui/Messages.h"
#include "tests/support/ScopedEnv.h"

#include <QTemporaryDir>

#include <memory>

class TempPractice {
public:
    enum class Layout {
        Ready,  // the directories exist and the shared variables name them
        Empty  // nothing on disk yet: the start-up sequence makes it
    };
    explicit TempPractice(Layout layout = Layout::Ready);
    ~TempPractice();
    TempPractice(const TempPractice&) = delete;
    TempPractice& operator=(const TempPractice&) = delete;

    AppContext& context() { return context_; }
    kui::RecordingMessageService& messages() { return messages_; }

    // The temporary directory, the practice home and the configuration home
    // (the last two with a trailing "/").
    QString root() const { return root_.path(); }
    QString home() const { return root_.path() + "/home/"; }
    QString config() const { return root_.path() + "/config/"; }

    // Creates the tables of the schema in DataPath through the table check.
    void CreateTables();

private:
    QTemporaryDir root_;
    std::unique_ptr<ScopedEnv> homeEnv_, configEnv_, tmpEnv_;
    kui::ScopedMessageRecorder messages_;
    AppContext context_;
};
