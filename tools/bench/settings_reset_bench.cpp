// Benchmark: the BootOption reset of a settings file whose every line matches
// (16,000 lines by default), on a real folder; prints the median of a few
// rounds. For contrast, a file rewritten once per replacement, the way the
// reset used to write, at a few smaller sizes.
//   nvk_settings_reset_bench [lines] [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/settings_file.h"
#include "engine/staging.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void WriteLines(const fs::path& path, std::size_t lines) {
  std::ofstream out(path, std::ios::binary);
  for (std::size_t i = 0; i < lines; ++i) out << "BootOption=" << (i % 9) + 1 << "\r\n";
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The reset as it is: one read, one write with every replacement.
double TimedReset(const fs::path& folder, std::size_t lines) {
  WriteLines(folder / "s.ini", lines);
  const Clock::time_point start = Clock::now();
  if (engine::ResetBootOption(folder.u16string(), u"s.ini") != engine::ResetOutcome::Done) {
    std::fprintf(stderr, "the reset failed\n");
  }
  return Seconds(start);
}

// A file written whole after each replacement.
double TimedWriteEachReplacement(const fs::path& folder, std::size_t lines) {
  WriteLines(folder / "s.ini", lines);
  const Clock::time_point start = Clock::now();
  std::ifstream in(folder / "s.ini", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::u16string> all = engine::SplitSettingsLines(engine::DecodeSettingsText(bytes));
  for (std::u16string& line : all) {
    if (!engine::ResetBootOptionLine(line)) continue;
    std::ofstream(folder / "s.ini", std::ios::binary | std::ios::trunc) << engine::EncodeSettingsLines(all);
  }
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t lines = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16000;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const fs::path folder = fs::temp_directory_path() / ("nvk-settings-bench-" + std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directories(folder);

  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) times.push_back(TimedReset(folder, lines));
  std::printf("reset of %zu matching lines: median %.4f s (min %.4f, max %.4f, %d rounds)\n", lines, Median(times),
              *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()), rounds);

  for (const std::size_t smaller : {1000u, 2000u, 4000u}) {
    std::printf("one write per replacement, %zu lines: %.3f s (the reset: %.4f s)\n", smaller,
                TimedWriteEachReplacement(folder, smaller), TimedReset(folder, smaller));
  }
  fs::remove_all(folder);
  return 0;
}
