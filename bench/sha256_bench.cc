// Speed of the SHA-256 routine that names a CSV file's bytes: an import hashes whole files of
// 100 MB and more, so its throughput sets a floor under the import of a large file.
#include <benchmark/benchmark.h>

#include <string>

#include "recfiles/sha256.h"

namespace quillmere {
namespace {

// Hashes 1 MiB fed in pieces of `state.range(0)` bytes, as a file is read in buffers.
void BM_Sha256(benchmark::State& state) {
  std::string data(1 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + (i >> 9));
  const size_t piece = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    Sha256 hash;
    for (size_t at = 0; at < data.size(); at += piece) {
      hash.Update(std::string_view(data).substr(at, piece));
    }
    benchmark::DoNotOptimize(hash.HexDigest());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_Sha256)->ArgName("piece")->Arg(100)->Arg(65536);

}  // namespace
}  // namespace quillmere

BENCHMARK_MAIN();
