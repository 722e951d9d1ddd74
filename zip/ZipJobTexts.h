#pragma once
// The texts and arrays a job's block points to, freed with the job.
#include "zip/ZipArch.h"

#include "platform/zipeng/ZipEngAbi.h"

#include <deque>
#include <vector>

struct TZipArchiver::JobTexts {
    std::deque<QByteArray> texts;
    std::vector<const char*> excl;
    std::vector<zipeng::ZipFileSpec> zipSpecs;
    std::vector<zipeng::UnzFileSpec> unzSpecs;
    const char* Text(const QString& s)
    {
        texts.push_back(QFile::encodeName(s));
        return texts.back().constData();
    }
};
