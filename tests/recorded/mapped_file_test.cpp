// A data file mapped into memory: what it refuses, a file that grows, shrinks
// or is replaced while it is open, and pages handed back.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "mapped_file.h"
#include "temp_dir.h"

using namespace tarvo::recorded;

namespace {

std::string mapped(const MappedFile& f) { return f.data() ? std::string(f.data(), f.size()) : ""; }

TEST(MappedFileTest, RefusesWhatIsNoRegularFile)
{
    Folder dir;
    MappedFile f;
    std::string why;
    EXPECT_FALSE(f.open(dir.file("none.txt"), why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(f.open(dir.path(), why));
    ASSERT_TRUE(f.open(dir.write("empty.txt", ""), why)) << why;
    EXPECT_EQ(f.size(), 0u);
    EXPECT_EQ(f.data(), nullptr);
    // Pages handed back read the same when touched again.
    const std::string text(3 << 20, 'x');
    ASSERT_TRUE(f.open(dir.write("big.txt", text + "y"), why)) << why;
    f.release(0, f.size());
    EXPECT_EQ(f.data()[f.size() - 1], 'y');
    EXPECT_EQ(std::string(f.data(), 1 << 20), text.substr(0, 1 << 20));
    // A refused open leaves nothing of the file open before it.
    EXPECT_FALSE(f.open(dir.file("none.txt"), why));
    EXPECT_EQ(f.size(), 0u);
    EXPECT_EQ(f.data(), nullptr);
    EXPECT_FALSE(f.isAt(dir.file("big.txt")));
}

#ifndef _WIN32
TEST(MappedFileTest, SaysWhatItIsInsteadOfADataFile)
{
    Folder dir;
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* why;
    } cases[] = {
        {dir.path(), "a directory, not a data file"},
        {dir.file("fifo"), "not a regular file"},
    };
    for (const auto& c : cases) {
        MappedFile f;
        std::string why;
        EXPECT_FALSE(f.open(c.path, why)) << c.path;
        EXPECT_EQ(why, c.why);
        EXPECT_EQ(f.size(), 0u);
    }
}
#endif

TEST(MappedFileTest, RemapTakesInWhatWasAddedAndNothingElse)
{
    Folder dir;
    MappedFile f;
    std::string why;
    bool shrunk = true;
    EXPECT_FALSE(f.remap(why, &shrunk));
    EXPECT_EQ(why, "not open");
    EXPECT_FALSE(shrunk);

    // An empty file maps to nothing, then to what is written into it.
    const std::string path = dir.write("data.txt", "");
    ASSERT_TRUE(f.open(path, why)) << why;
    ASSERT_TRUE(f.remap(why, &shrunk)) << why;
    EXPECT_EQ(f.data(), nullptr);
    dir.write("data.txt", "1,2\n", true);
    ASSERT_TRUE(f.remap(why, &shrunk)) << why;
    EXPECT_FALSE(shrunk);
    EXPECT_EQ(mapped(f), "1,2\n");
    dir.write("data.txt", "3,4\n", true);
    ASSERT_TRUE(f.remap(why)) << why;
    EXPECT_EQ(mapped(f), "1,2\n3,4\n");
    ASSERT_TRUE(f.remap(why, &shrunk)) << why;  // nothing new
    EXPECT_FALSE(shrunk);
    EXPECT_EQ(f.size(), 8u);
    EXPECT_EQ(f.path(), path);

    // Handing back pages outside the file, or more than it holds, is harmless.
    f.release(f.size(), 100);
    f.release(2, uint64_t(1) << 40);
    EXPECT_EQ(mapped(f), "1,2\n3,4\n");

#ifndef _WIN32  // Windows refuses to cut a file that is mapped
    // A file cut short stays mapped at the size it had (its bytes past the
    // cut are not read again).
    std::filesystem::resize_file(path, 3);
    ASSERT_TRUE(f.remap(why, &shrunk)) << why;
    EXPECT_TRUE(shrunk);
    EXPECT_EQ(f.size(), 8u);
#endif

    f.close();
    EXPECT_EQ(f.size(), 0u);
    EXPECT_EQ(f.data(), nullptr);
    EXPECT_FALSE(f.remap(why));
    EXPECT_EQ(why, "not open");
}

TEST(MappedFileTest, KnowsWhetherItsPathStillNamesIt)
{
    Folder dir;
    MappedFile f;
    std::string why;
    const std::string path = dir.write("data.txt", "1\n");
    ASSERT_TRUE(f.open(path, why)) << why;
    EXPECT_TRUE(f.isAt(path));
    EXPECT_FALSE(f.isAt(dir.write("other.txt", "1\n")));
    EXPECT_FALSE(f.isAt(dir.file("none.txt")));
    // Kept under a dated name, another file in its place: still read as it is.
    const std::string kept = dir.file("data-20261207-180233.txt");
    std::filesystem::rename(path, kept);
    dir.write("data.txt", "2\n");
    EXPECT_FALSE(f.isAt(path));
    EXPECT_TRUE(f.isAt(kept));
    EXPECT_EQ(f.path(), path);
    EXPECT_EQ(mapped(f), "1\n");
    f.close();
    EXPECT_FALSE(f.isAt(kept));
}

}  // namespace
