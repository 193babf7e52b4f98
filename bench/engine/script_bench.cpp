// Throughput of the script path the download walks for every line: cleaning, the
// hexadecimal check and conversion, and reading the file whole and walking its lines,
// with the process's peak memory beside it.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "engine/script.h"

namespace {

constexpr int kLines = 100000;

// A realistic script: two AddressLines, an AddressCheckLine, then DataLines of 133
// bytes (F0 D1 header, address, 128 data bytes) written with blanks between the bytes
// and a trailing comment, with a comment line every 64 lines.
std::vector<std::string> MakeScript() {
  static const char kDigits[] = "0123456789ABCDEF";
  std::vector<std::string> lines;
  lines.reserve(kLines);
  lines.push_back("F05D010009000020000000FFFF00");
  lines.push_back("F05D010009000120000001FFFF00");
  lines.push_back("F0D4000008000020000000FFFF");
  uint32_t address = 0x2000;
  while (static_cast<int>(lines.size()) < kLines) {
    if (lines.size() % 64 == 0) {
      lines.push_back("; ---- block group " + std::to_string(lines.size() / 64) + " ----");
      continue;
    }
    std::string line = "F0 D1 00 00 84";
    for (int shift = 24; shift >= 0; shift -= 8) {
      const uint8_t b = static_cast<uint8_t>(address >> shift);
      line += ' ';
      line += kDigits[b >> 4];
      line += kDigits[b & 0x0F];
    }
    for (int i = 0; i < 128; ++i) {
      const uint8_t b = static_cast<uint8_t>(address + static_cast<uint32_t>(i) * 7);
      line += ' ';
      line += kDigits[b >> 4];
      line += kDigits[b & 0x0F];
    }
    line += "  ; data (App1)";
    lines.push_back(std::move(line));
    address += 128;
  }
  return lines;
}

int64_t TotalBytes(const std::vector<std::string>& lines) {
  int64_t total = 0;
  for (const std::string& line : lines)
    total += static_cast<int64_t>(line.size()) + 2;  // with its CR LF
  return total;
}

void BM_CleanAndConvert(benchmark::State& state) {
  const std::vector<std::string> lines = MakeScript();
  uint8_t command[300];
  for (auto _ : state) {
    size_t converted = 0;
    for (const std::string& line : lines) {
      const std::optional<std::string> text = pelliton::CleanScriptLine(line);
      if (!text || !pelliton::IsAllHex(*text, text->size()))
        continue;
      converted += pelliton::HexToBytes(*text, text->size(), command);
    }
    benchmark::DoNotOptimize(converted);
    benchmark::DoNotOptimize(command);
  }
  state.SetBytesProcessed(state.iterations() * TotalBytes(lines));
}
BENCHMARK(BM_CleanAndConvert)->Unit(benchmark::kMillisecond);

std::filesystem::path WriteScratch(const char* name, const std::string& bytes) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() / name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  return path;
}

// Reads the file whole and walks its lines, as every check and the load do.
void ReadAndWalk(benchmark::State& state, const std::filesystem::path& path) {
  for (auto _ : state) {
    pelliton::ScriptText script;
    if (pelliton::ReadScriptText(path.string(), &script) != pelliton::ScriptReadError::kNone) {
      state.SkipWithError("cannot read the generated script");
      break;
    }
    benchmark::DoNotOptimize(pelliton::CountScriptLines(script.Body()));
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(std::filesystem::file_size(path)));
#ifndef _WIN32
  // The process's peak so far: what holding the script costs, against the file's size.
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MiB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
#endif
  std::filesystem::remove(path);
}

void BM_ReadScriptText(benchmark::State& state) {
  std::string text;
  for (const std::string& line : MakeScript())
    text += line + "\r\n";
  ReadAndWalk(state, WriteScratch("pelliton-bench-script.bin", text));
}
BENCHMARK(BM_ReadScriptText)->Unit(benchmark::kMillisecond);

// The largest script taken, all of it empty lines: one buffer, no cost per line.
void BM_ReadLineFeedsAtTheLimit(benchmark::State& state) {
  ReadAndWalk(state, WriteScratch("pelliton-bench-lf.bin",
                                  std::string(pelliton::kMaxScriptFileBytes, '\n')));
}
BENCHMARK(BM_ReadLineFeedsAtTheLimit)->Unit(benchmark::kMillisecond);

}  // namespace
