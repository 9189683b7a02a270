#include "FileIo.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ToolTestSupport.h"

namespace quarry::pack::test {
namespace {

TEST(TempFile, DisappearsUnlessCommitted) {
    ScratchFolder dir;
    std::string path;
    {
        TempFile temp;
        ASSERT_TRUE(temp.Create(dir / "out.exe").Ok());
        path = temp.Path();
        ASSERT_TRUE(WriteAll(temp.Fd(), "abc", 3, path).Ok());
        EXPECT_TRUE(std::filesystem::exists(path));
    }
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(test::ListFolder(dir.Path()).empty());

    TempFile temp;
    ASSERT_TRUE(temp.Create(dir / "out.exe").Ok());
    ASSERT_TRUE(WriteAll(temp.Fd(), "abc", 3, temp.Path()).Ok());
    ASSERT_TRUE(temp.CommitAs(dir / "out.exe", 0644).Ok());
    temp.Discard();
    EXPECT_EQ(std::vector<std::string>{"out.exe"}, test::ListFolder(dir.Path()));
    EXPECT_EQ(test::ToBytes("abc"), ReadFile(dir / "out.exe"));
}

}  // namespace
}  // namespace quarry::pack::test
