// Helpers shared by the in-memory filter benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <string_view>

namespace orvane::bench {

// Feeds `captions` to `filter` in blocks of the size a conversion reads,
// draining the output after each block as a conversion does, then finishes.
template <class Filter>
void FeedInReadBlocks(Filter& filter, std::string_view captions) {
  constexpr std::size_t kBlock = 256 * 1024;
  for (std::size_t at = 0; at < captions.size(); at += kBlock) {
    filter.Feed(captions.substr(at, kBlock));
    benchmark::DoNotOptimize(filter.output().data());
    filter.output().clear();
  }
  filter.Finish();
}

}  // namespace orvane::bench
