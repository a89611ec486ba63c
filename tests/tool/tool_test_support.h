#pragma once

// What the tool tests share: a fresh folder per test, a test fixture around
// one with the streams a command writes to, and the message of a refusal.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

namespace vela::testing {

// The names in a folder.
inline std::set<std::string> Entries(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

// A fresh folder under the system temporary folder, named after the process
// and the running test, removed with everything in it.
class TempFolder {
public:
  TempFolder() : path(std::filesystem::temp_directory_path() / Name()) {
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
  // Writes text to the named file, making its folder, and gives its path.
  std::string Write(const std::string& name, const std::string& text) const {
    std::filesystem::create_directories(std::filesystem::path(File(name)).parent_path());
    std::ofstream(File(name)) << text;
    return File(name);
  }
  std::set<std::string> Entries() const { return testing::Entries(path); }
  int Count() const { return static_cast<int>(Entries().size()); }

  const std::filesystem::path path;

private:
  // One level: the "/" of a parametrized test's name would leave the folders above it behind.
  static std::string Name() {
    const ::testing::TestInfo& test = *::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = "vela-test-" + std::to_string(::getpid()) + "-" + test.test_suite_name() + "-" + test.name();
    std::replace(name.begin(), name.end(), '/', '-');
    return name;
  }
};

inline std::string ReadText(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

// The exit status of a shell command; -1 when a signal ended it.
inline int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool HasMeshio() { return Shell("/usr/bin/python3 -c 'import meshio, numpy' >/dev/null 2>&1") == 0; }

// The message of the Error that call throws; "(accepted)" when it throws nothing.
template <typename Error, typename Call>
std::string MessageOf(Call call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  }
  return "(accepted)";
}

// text with its first `from` replaced by `to`; a failure when text holds no `from`.
inline std::string Edited(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  if (at == std::string::npos) ADD_FAILURE() << "no " << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// A test of a command: its folder and the streams it writes to.
class CommandTest : public ::testing::Test {
protected:
  std::string Write(const std::string& name, const std::string& text) { return folder_.Write(name, text); }
  std::string Path(const std::string& name) const { return folder_.File(name); }
  int FileCount() const { return folder_.Count(); }

  TempFolder folder_;
  std::ostringstream out_, err_;
};

}  // namespace vela::testing
