// Files made ahead for a batch's downloads, and the downloads that take them.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "net/LocalFiles.h"

namespace fs = std::filesystem;

namespace {

fs::path makeFolder(const fs::path& under)
{
    std::string pattern = (under / "spares-XXXXXX").string();
    return ::mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
}

dev_t deviceOf(const fs::path& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

}  // namespace

// A spare is unnamed (nothing is left behind, even by a killed program), lies on the file
// system of the folder it was taken for, and has a new file's mode; a download that takes one
// leaves only its file.
TEST(SpareFiles, EachFolderGetsUnnamedFilesOnItsOwnFileSystem)
{
    const struct Umask {
        mode_t old = ::umask(027);
        ~Umask() { ::umask(old); }
    } mask;
    const fs::path first = makeFolder(fs::temp_directory_path());
    ASSERT_FALSE(first.empty());
    std::vector<fs::path> folders{first};
    if (const fs::path shm = "/dev/shm"; fs::is_directory(shm) && deviceOf(shm) != deviceOf(first))
        if (const fs::path other = makeFolder(shm); !other.empty())
            folders.push_back(other);
    folders.push_back(first);  // and back

    net::SpareFiles spares;
    for (const fs::path& folder : folders) {
        SCOPED_TRACE(folder.string());
        if (const net::UniqueFd probe(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600)); probe.get() < 0)
            continue;  // a file system without unnamed files: downloads make theirs as before
        const net::UniqueFd dir(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        net::UniqueFd spare(spares.take(dir.get()));
        for (int i = 0; i < 300 && spare.get() < 0; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
            spare.adopt(spares.take(dir.get()));
        ASSERT_GE(spare.get(), 0);
        struct stat st {};
        ASSERT_EQ(::fstat(spare.get(), &st), 0);
        EXPECT_EQ(st.st_dev, deviceOf(folder));
        EXPECT_EQ(st.st_nlink, 0u);
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);

        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // more are ready by now
        {  // (the bytes and modes of batches through spares: the window's batch tables)
            net::DownloadTarget target;
            ASSERT_TRUE(target.open((folder / "got.bin").string(), false, false, &spares).ok());
            ASSERT_TRUE(target.commit(false, [](int) { return 0; }).ok());
        }
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"got.bin"});
        fs::remove(folder / "got.bin");
    }
    for (const fs::path& folder : folders)
        fs::remove_all(folder);
}
