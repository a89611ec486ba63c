// A stand-in for libFuzzer's driver where there is none (gcc): runs the
// target once over every file named on the command line and every file in a
// folder named there, so the checked-in corpus replays as a regression test in
// every build. Flags that libFuzzer would take (-runs=0 ...) are ignored, so
// that one command line serves both drivers.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

bool RunFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return false;
  }
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
  std::fprintf(stderr, "Running: %s\n", path.string().c_str());
  // A copy of exactly the file's size, as libFuzzer hands it over, so that
  // AddressSanitizer sees a read past the end of the input.
  std::vector<uint8_t> data(bytes.begin(), bytes.end());
  static const uint8_t kEmpty = 0;
  LLVMFuzzerTestOneInput(data.empty() ? &kEmpty : data.data(), data.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 0;
  bool readable = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!arg.empty() && arg[0] == '-') continue;
    std::error_code error;
    if (fs::is_directory(arg, error)) {
      std::vector<fs::path> files;
      for (const fs::directory_entry& entry : fs::directory_iterator(arg))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files) {
        readable = RunFile(file) && readable;
        ++runs;
      }
    } else {
      readable = RunFile(arg) && readable;
      ++runs;
    }
  }
  std::fprintf(stderr, "replayed %d inputs\n", runs);
  if (runs == 0) {
    std::fprintf(stderr, "usage: %s FILE_OR_FOLDER...\n", argv[0]);
    return 2;
  }
  return readable ? 0 : 1;
}
