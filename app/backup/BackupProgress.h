#pragma once
// The progress rule of the backup screens, on the zip component's progress
// event: the bar runs from 1 to 10001 over the bytes to process.
#include "zip/ZipArch.h"

#include <QCoreApplication>
#include <QProgressBar>

namespace backup {

class Progress {
public:
    explicit Progress(QProgressBar* bar) : bar_(bar) { }
    void Event(ProgressType type, qint64 size)
    {
        QCoreApplication::processEvents();
        switch (type) {
        case TotalSize2Process:
            bar_->setMaximum(10001);
            bar_->setValue(1);
            total_ = size;
            done_ = 0;
            break;
        case ProgressUpdate:
            done_ += size;
            bar_->setValue(total_ == 0 ? 10001 : int(qMin<qint64>(done_ * 10000 / total_ + 1, 10001)));
            break;
        case EndOfBatch:
            bar_->setValue(1);
            break;
        default:
            break;
        }
        QCoreApplication::processEvents();
    }

private:
    QProgressBar* bar_;
    qint64 total_ = 0, done_ = 0;
};

}  // namespace backup
