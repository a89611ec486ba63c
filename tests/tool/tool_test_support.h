#pragma once

// What the tool tests share: a fresh folder per test, and a test fixture
// around one with the streams a command writes to.

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

namespace vela::testing {

// A fresh folder under the system temporary folder, named after the process
// and the running test, removed with everything in it.
class TempFolder {
public:
  TempFolder()
      : path(std::filesystem::temp_directory_path() /
             ("vela-test-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name() + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    std::filesystem::remove_all(path);  // left over by a run that crashed
    std::filesystem::create_directories(path);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  std::string File(const std::string& name) const { return (path / name).string(); }
  // Writes text to the named file and gives its path.
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(File(name)) << text;
    return File(name);
  }
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) names.insert(entry.path().filename());
    return names;
  }
  int Count() const {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator(path),
                                          std::filesystem::directory_iterator()));
  }

  const std::filesystem::path path;
};

inline std::string ReadText(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// A test of a command: its folder and the streams it writes to.
class CommandTest : public ::testing::Test {
protected:
  std::string Write(const std::string& name, const std::string& text) { return folder_.Write(name, text); }
  std::string Path(const std::string& name) const { return folder_.File(name); }
  int FileCount() const { return folder_.Count(); }

  TempFolder folder_;
  const std::filesystem::path& dir_ = folder_.path;
  std::ostringstream out_, err_;
};

}  // namespace vela::testing
