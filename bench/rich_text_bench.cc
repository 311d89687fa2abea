// Reading and writing RTF and note packages of 1 MB and 10 MB: both should
// grow linearly. Each run reports its time and "peak_MB", the most heap it
// held at once above what was allocated when the run started.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "formats/note_file.h"
#include "platform/text/rtf.h"

namespace {

std::atomic<long long> gCurrent{0};
std::atomic<long long> gPeak{0};

void noteAllocation(void* pointer) {
  if (!pointer) return;
  long long now = gCurrent += static_cast<long long>(malloc_usable_size(pointer));
  long long peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
}

}  // namespace

// The replacements below pair malloc with free themselves; GCC cannot see
// that the global operators are the replaced ones.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(size_t size) {
  void* pointer = std::malloc(size ? size : 1);
  if (!pointer) throw std::bad_alloc();
  noteAllocation(pointer);
  return pointer;
}

void operator delete(void* pointer) noexcept {
  if (pointer) gCurrent -= static_cast<long long>(malloc_usable_size(pointer));
  std::free(pointer);
}

void operator delete(void* pointer, size_t) noexcept { operator delete(pointer); }

namespace qlt {
namespace {

// A note-like text whose RTF is about `rtfBytes` long: paragraphs in the
// standard text colour with bold, red and linked words and accented
// characters.
AttributedString sampleText(size_t rtfBytes) {
  Font body = Font::withFamily("Helvetica Neue", 12);
  AttributedString text;
  constexpr size_t kRTFBytesPerCharacter = 3;
  while (text.length() < rtfBytes / kRTFBytesPerCharacter) {
    text.appendText(u"Plain words of a paragraph with caf\u00e9 and na\u00efve text, ",
                    {{kFontAttributeName, body}, {kForegroundColorAttributeName, Color::textColor()}});
    text.appendText(u"bold words", {{kFontAttributeName, body.withTraits(true, false)}});
    text.appendText(u" then ", {{kFontAttributeName, body}, {kForegroundColorAttributeName, Color::textColor()}});
    text.appendText(u"a red link", {{kFontAttributeName, body},
                                   {kForegroundColorAttributeName, Color::rgb(1, 0, 0)},
                                   {kLinkAttributeName, std::string("https://example.com/page")}});
    text.appendText(u".\n", {{kFontAttributeName, body}});
  }
  return text;
}

class PeakMemory {
 public:
  PeakMemory() : base_(gCurrent.load()) { gPeak = base_; }
  double megabytes() const { return static_cast<double>(gPeak.load() - base_) / (1024.0 * 1024.0); }

 private:
  long long base_;
};

// Runs `work` once per iteration and reports the peak memory of the last.
template <class Work>
void measureWithPeakMemory(benchmark::State& state, Work work) {
  double peak = 0;
  for (auto _ : state) {
    PeakMemory memory;
    work();
    peak = memory.megabytes();
  }
  state.counters["peak_MB"] = peak;
}

void BM_ReadRTF(benchmark::State& state) {
  std::string rtf = rtfFromAttributedString(sampleText(static_cast<size_t>(state.range(0)) << 20));
  measureWithPeakMemory(state, [&] {
    auto result = readRTF(rtf);
    benchmark::DoNotOptimize(result);
  });
  state.counters["rtf_MB"] = static_cast<double>(rtf.size()) / (1024.0 * 1024.0);
}

void BM_WriteRTF(benchmark::State& state) {
  AttributedString text = sampleText(static_cast<size_t>(state.range(0)) << 20);
  measureWithPeakMemory(state, [&] {
    std::string rtf = rtfFromAttributedString(text);
    benchmark::DoNotOptimize(rtf);
  });
}

void BM_NotePackageRoundTrip(benchmark::State& state) {
  NoteFile note;
  note.setNoteText(sampleText(static_cast<size_t>(state.range(0)) << 20));
  measureWithPeakMemory(state, [&] {
    auto package = note.fileWrapper();
    auto read = NoteFile::withFileWrapper(*package);
    benchmark::DoNotOptimize(read);
  });
}

void BM_NotePackageWrite(benchmark::State& state) {
  NoteFile note;
  note.setNoteText(sampleText(static_cast<size_t>(state.range(0)) << 20));
  measureWithPeakMemory(state, [&] {
    auto package = note.fileWrapper();
    benchmark::DoNotOptimize(package);
  });
}

void BM_NotePackageRead(benchmark::State& state) {
  NoteFile note;
  note.setNoteText(sampleText(static_cast<size_t>(state.range(0)) << 20));
  auto package = note.fileWrapper();
  measureWithPeakMemory(state, [&] {
    auto read = NoteFile::withFileWrapper(*package);
    benchmark::DoNotOptimize(read);
  });
}

BENCHMARK(BM_ReadRTF)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteRTF)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NotePackageRoundTrip)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NotePackageWrite)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NotePackageRead)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qlt
