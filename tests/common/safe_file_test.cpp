#include "common/safe_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_database.h"

namespace orba {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

TEST(WriteFileSafely, NeverWritesThroughALinkAndLeavesNothingBehind) {
  TempFolder folder;
  TempFolder outside;
  WriteFile(outside.path() / "passwd", "root:x:0:0\n");
  // A link planted under the name the file is written to.
  fs::create_symlink(outside.path() / "passwd", folder.path() / "STM1.Xml");
  ASSERT_TRUE(WriteFileSafely(folder.path().string(), "STM1.Xml", "<a/>"));
  EXPECT_EQ(ReadFile(outside.path() / "passwd"), "root:x:0:0\n");
  EXPECT_FALSE(fs::is_symlink(folder.path() / "STM1.Xml"));
  EXPECT_EQ(ReadFile(folder.path() / "STM1.Xml"), "<a/>");

  // A name too long for a temporary name beside it still works.
  const std::string long_name = "PEM" + std::string(248, 'x') + ".Xml";
  EXPECT_TRUE(WriteFileSafely(folder.path().string(), long_name, "<b/>"));

  // Keep: an existing file is never replaced.
  std::string error;
  EXPECT_FALSE(WriteFileSafely(folder.path().string(), "STM1.Xml", "<c/>", Existing::Keep, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadFile(folder.path() / "STM1.Xml"), "<a/>");

  // Replace: the old file goes, nothing of it is left; a folder of that name
  // stays as it is.
  EXPECT_TRUE(WriteFileSafely(folder.path().string(), "STM1.Xml", "<e/>"));
  EXPECT_EQ(ReadFile(folder.path() / "STM1.Xml"), "<e/>");
  fs::create_directory(folder.path() / "STM3.Xml");
  EXPECT_FALSE(WriteFileSafely(folder.path().string(), "STM3.Xml", "<f/>"));
  EXPECT_TRUE(fs::is_directory(folder.path() / "STM3.Xml"));
  fs::remove(folder.path() / "STM3.Xml");

  // A folder that is not there: false, and nothing anywhere.
  EXPECT_FALSE(WriteFileSafely((folder.path() / "missing").string(), "x", "y"));
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder.path())) ++files;
  EXPECT_EQ(files, 2u);

  fs::create_directory_symlink(outside.path(), folder.path() / "linked");
  EXPECT_FALSE(WriteFileSafely((folder.path() / "linked").string(), "STM2.Xml", "<d/>"));
  EXPECT_FALSE(fs::exists(outside.path() / "STM2.Xml"));
}

TEST(RemoveUnfinishedWrites, RemovesOnlyItsOwnTemporaryNames) {
  TempFolder folder;
  for (const char* name : {".orbapda-0123456789ab.part", ".orbapda-x.part", ".x.Xml"}) WriteFile(folder.path() / name, "");
  EXPECT_EQ(RemoveUnfinishedWrites(folder.path().string()), 1);
  EXPECT_FALSE(fs::exists(folder.path() / ".orbapda-0123456789ab.part"));
}

}  // namespace
}  // namespace orba
