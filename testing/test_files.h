// Test helper: whole files as bytes, and paths from and to UTF-8, for tests
// that compare what a program wrote with what they expect. Test code only.
#ifndef LARKSPUR_TESTING_TEST_FILES_H_
#define LARKSPUR_TESTING_TEST_FILES_H_

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace larkspur::testing {

// Paths from and to UTF-8 on every system (the tar names and the expected
// names of the tests are UTF-8; Windows would read a plain string as ANSI).
std::filesystem::path Utf8Path(std::string_view utf8);
std::string GenericUtf8(const std::filesystem::path& path);

// The whole file; throws std::runtime_error when it cannot be opened.
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);
// `path` holds `bytes`, replacing what it held; throws std::runtime_error
// when it cannot be written.
void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_TEST_FILES_H_
