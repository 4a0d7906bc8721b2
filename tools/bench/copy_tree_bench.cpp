// Benchmark: copying a tree of about 2,000 files and 200 MB with CopyFiles
// against `cp -r`, and removing it with DeleteFolder against `rm -rf`, in the
// same run on the same disk; prints the times and the ratios. Then copies
// 5,000 small files with and without a 120 KB exclusion list.
//   nvk_copy_tree_bench [scratch folder] [rounds]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/copy_files.h"
#include "engine/staging.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFolders = 40;
constexpr int kFilesPerFolder = 50;
constexpr std::size_t kMeanFileSize = 100 * 1024;

// Fills the folder with kFolders subfolders of kFilesPerFolder files of
// varying sizes; returns the total bytes.
std::size_t MakeTree(const fs::path& root) {
  std::mt19937 random(42);
  std::uniform_int_distribution<std::size_t> size(1024, 2 * kMeanFileSize - 1024);
  std::string block(2 * kMeanFileSize, '\0');
  for (char& c : block) c = static_cast<char>(random());
  std::size_t total = 0;
  for (int folder = 0; folder < kFolders; ++folder) {
    const fs::path dir = root / ("folder" + std::to_string(folder));
    fs::create_directories(dir);
    for (int file = 0; file < kFilesPerFolder; ++file) {
      const std::size_t bytes = size(random);
      std::ofstream(dir / ("file" + std::to_string(file) + ".bin"), std::ios::binary).write(block.data(),
                                                                                              static_cast<std::streamsize>(bytes));
      total += bytes;
    }
  }
  return total;
}

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double Timed(const std::string& command) {
  const Clock::time_point start = Clock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  return Seconds(start);
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

constexpr int kSmallFolders = 50;
constexpr int kSmallFilesPerFolder = 100;
constexpr std::size_t kExclusionBytes = 120 * 1024;

// 5,000 files of a few bytes in 50 subfolders.
void MakeSmallTree(const fs::path& root) {
  for (int folder = 0; folder < kSmallFolders; ++folder) {
    const fs::path dir = root / ("folder" + std::to_string(folder));
    fs::create_directories(dir);
    for (int file = 0; file < kSmallFilesPerFolder; ++file) std::ofstream(dir / ("f" + std::to_string(file))) << "x";
  }
}

// A comma text of about 120 KB of full source paths, none of which is in the tree.
std::u16string ExclusionList(const fs::path& source) {
  std::string list;
  for (int item = 0; list.size() < kExclusionBytes; ++item) {
    if (item > 0) list += ',';
    list += (source / ("folder" + std::to_string(item % kSmallFolders)) / ("absent" + std::to_string(item))).string();
  }
  return platform::Utf8ToWide(list);
}

// Copies the small tree with and without the exclusion list; prints the medians.
void BenchExclusions(const fs::path& root, int rounds) {
  const fs::path source = root / "small";
  MakeSmallTree(source);
  const std::u16string from = platform::Utf8ToWide(source.string() + "/");
  const std::u16string exclusions = ExclusionList(source);
  std::vector<double> with, without;
  for (int round = 0; round < rounds; ++round) {
    for (const bool listed : {true, false}) {
      const fs::path target = root / "small-copy";
      const Clock::time_point start = Clock::now();
      const bool ok = engine::CopyFiles(from, platform::Utf8ToWide(target.string()), u"/E", listed ? exclusions : u"");
      (listed ? with : without).push_back(Seconds(start));
      if (!ok) std::fprintf(stderr, "CopyFiles failed\n");
      fs::remove_all(target);
    }
  }
  std::printf("median of %d, %d files: with a %zu-character exclusion list %.3f s, without %.3f s\n", rounds,
              kSmallFolders * kSmallFilesPerFolder, exclusions.size(), Median(with), Median(without));
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const fs::path root = base / ("nvk-copy-bench-" + std::to_string(getpid()));
  const fs::path source = root / "source";
  fs::create_directories(source);
  const std::size_t bytes = MakeTree(source);
  std::printf("tree: %d files, %.1f MB, in %s\n", kFolders * kFilesPerFolder, static_cast<double>(bytes) / 1e6,
              root.c_str());
  std::system("sync");

  std::vector<double> ours, cp, deleteFolder, rm;
  for (int round = 0; round < rounds; ++round) {
    // Alternate which goes first, so that neither always meets a warmer cache.
    const fs::path a = root / "a";
    const fs::path b = root / "b";
    auto copyOurs = [&] {
      const Clock::time_point start = Clock::now();
      const bool ok = engine::CopyFiles(platform::Utf8ToWide(source.string() + "/"),
                                        platform::Utf8ToWide(a.string()), u"/E", u"");
      ours.push_back(Seconds(start));
      if (!ok) std::fprintf(stderr, "CopyFiles failed\n");
    };
    auto copyCp = [&] { cp.push_back(Timed("cp -r " + Quoted(source) + " " + Quoted(b))); };
    if (round % 2 == 0) {
      copyOurs();
      copyCp();
    } else {
      copyCp();
      copyOurs();
    }
    std::system("sync");
    auto deleteOurs = [&] {
      const Clock::time_point start = Clock::now();
      const bool ok = engine::DeleteFolder(platform::Utf8ToWide(a.string()));
      deleteFolder.push_back(Seconds(start));
      if (!ok) std::fprintf(stderr, "DeleteFolder failed\n");
    };
    auto deleteRm = [&] { rm.push_back(Timed("rm -rf " + Quoted(b))); };
    if (round % 2 == 0) {
      deleteOurs();
      deleteRm();
    } else {
      deleteRm();
      deleteOurs();
    }
    std::system("sync");
    std::printf("round %d: CopyFiles %.3f s, cp -r %.3f s; DeleteFolder %.3f s, rm -rf %.3f s\n", round + 1,
                ours.back(), cp.back(), deleteFolder.back(), rm.back());
  }
  std::printf("median of %d: CopyFiles %.3f s, cp -r %.3f s, ratio %.2f (goal at most 1.1)\n", rounds, Median(ours),
              Median(cp), Median(ours) / Median(cp));
  std::printf("median of %d: DeleteFolder %.3f s, rm -rf %.3f s, ratio %.2f (goal at most 1.2)\n", rounds,
              Median(deleteFolder), Median(rm), Median(deleteFolder) / Median(rm));
  BenchExclusions(root, rounds);
  fs::remove_all(root);
  return 0;
}
