#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/foundation/string_comparison.h"

namespace {

// File-manager-like names: words with some accents and mixed case, numbered
// copies and extensions.
std::vector<std::string> makeNames(size_t count) {
  const std::vector<std::string> words = {"Report",  "notes", "Résumé",   "invoice", "Photo",  "ÉTÉ",  "draft",
                                          "Meeting", "zebra", "Ångström", "café",    "Budget", "scan", "Straße"};
  const std::vector<std::string> extensions = {".txt", ".pdf", ".md", ".jpeg", ""};
  std::mt19937 random(42);
  std::vector<std::string> names;
  names.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    std::string name = words[random() % words.size()];
    if (random() % 2) name += " " + words[random() % words.size()];
    if (random() % 3) name += " " + std::to_string(random() % 500);
    name += extensions[random() % extensions.size()];
    names.push_back(std::move(name));
  }
  return names;
}

template <typename Compare>
void sortNames(benchmark::State& state, Compare compare) {
  const std::vector<std::string> names = makeNames(static_cast<size_t>(state.range(0)));
  int64_t comparisons = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<std::string> sorted = names;
    state.ResumeTiming();
    std::sort(sorted.begin(), sorted.end(), [&](const std::string& a, const std::string& b) {
      ++comparisons;
      return compare(a, b) < 0;
    });
    benchmark::DoNotOptimize(sorted.data());
  }
  state.counters["per_comparison"] =
      benchmark::Counter(static_cast<double>(comparisons), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["comparisons"] = static_cast<double>(comparisons) / static_cast<double>(state.iterations());
}

void BM_SortLocalizedStandard(benchmark::State& state) {
  sortNames(state, [](const std::string& a, const std::string& b) { return qlt::localizedStandardCompare(a, b); });
}

void BM_SortCaseInsensitive(benchmark::State& state) {
  sortNames(state,
            [](const std::string& a, const std::string& b) { return qlt::compareStrings(a, b, qlt::CaseInsensitive); });
}

void BM_SortBytes(benchmark::State& state) {
  sortNames(state, [](const std::string& a, const std::string& b) { return a.compare(b); });
}

void BM_FoldIgnoringCaseAndDiacritics(benchmark::State& state) {
  const std::vector<std::string> names = makeNames(1000);
  for (auto _ : state) {
    for (const std::string& name : names) {
      benchmark::DoNotOptimize(qlt::foldString(name, qlt::CaseInsensitive | qlt::DiacriticInsensitive));
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
}

}  // namespace

BENCHMARK(BM_SortLocalizedStandard)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortCaseInsensitive)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortBytes)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FoldIgnoringCaseAndDiacritics);
