#include "rofs/image_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "rofs/rofs_errors.h"

namespace larkspur::rofs {
namespace {

namespace fs = std::filesystem;

TEST(ImageFileTest, LoadsWholeFilesAndNamesTheFileItCannotLoad) {
  // Other runs of the tests may share the temporary folder.
  const fs::path folder = fs::temp_directory_path() / ("larkspur-image-file-" + std::to_string(std::random_device()()));
  fs::create_directories(folder / "sub");
  std::ofstream(folder / "a.img", std::ios::binary) << std::string("R\0F", 3);
  std::ofstream(folder / "empty.img", std::ios::binary);

  EXPECT_EQ(ReadImageFile(folder / "a.img", "a.img"), (std::vector<std::uint8_t>{'R', 0, 'F'}));
  EXPECT_EQ(ReadTextFile(folder / "a.img", "a.img"), std::string("R\0F", 3));
  EXPECT_TRUE(ReadImageFile(folder / "empty.img", "empty.img").empty());
  struct Case {
    const char* name;
    const char* message;
  };
  const Case cases[] = {
      {"none.img", "Cannot open file \"none.img\": no such file"},
      {"sub", "Cannot open file \"sub\": not a regular file"},
  };
  for (const Case& c : cases) {
    try {
      ReadImageFile(folder / c.name, c.name);
      ADD_FAILURE() << "no error for " << c.name;
    } catch (const HostFileError& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
    EXPECT_THROW(ReadTextFile(folder / c.name, c.name), HostFileError);
  }
  fs::remove_all(folder);
}

}  // namespace
}  // namespace larkspur::rofs
