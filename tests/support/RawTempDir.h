#pragma once
// A temporary folder that goes with everything in it, names of any bytes included:
// QTemporaryDir leaves behind entries whose names are not valid in the locale's encoding.

#include <QFile>
#include <QTemporaryDir>

#include <filesystem>
#include <system_error>

namespace testsupport {

class RawTempDir : public QTemporaryDir {
public:
    ~RawTempDir()
    {
        std::error_code ignored;
        if (isValid())
            std::filesystem::remove_all(QFile::encodeName(path()).toStdString(), ignored);
    }
};

}  // namespace testsupport
