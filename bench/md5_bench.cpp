// MD5 throughput of the module against OpenSSL's EVP MD5, and the cost of
// one localised key (1 MiB of MD5) against OpenSSL hashing 1 MiB.
//
//   cmake -S . -B build-bench -G Ninja -DUSBINK_BENCH=ON -DUSBINK_TESTS=OFF
//   cmake --build build-bench --target md5_bench
//   build-bench/bench/md5_bench --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true   (one command line)
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <vector>

#include "usbink/md5.h"
#include "usbink/usm.h"

namespace {

constexpr std::int64_t kSizes[] = {64, 1024, 1 << 20};

std::vector<unsigned char> message(std::int64_t size) {
  std::vector<unsigned char> m(static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < m.size(); ++i) m[i] = static_cast<unsigned char>(i * 31 + 7);
  return m;
}

void BM_Md5Module(benchmark::State& state) {
  auto m = message(state.range(0));
  unsigned char digest[16];
  for (auto _ : state) {
    MD5Init();
    MD5Update(m.data(), static_cast<unsigned>(m.size()));
    MD5Final(digest);
    md5FreeBuffer();
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_Md5OpenSsl(benchmark::State& state) {
  auto m = message(state.range(0));
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_MD_CTX* evp = EVP_MD_CTX_new();
  EVP_MD* md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
  for (auto _ : state) {
    EVP_DigestInit_ex(evp, md5, nullptr);
    EVP_DigestUpdate(evp, m.data(), m.size());
    EVP_DigestFinal_ex(evp, digest, &length);
    benchmark::DoNotOptimize(digest);
  }
  EVP_MD_free(md5);
  EVP_MD_CTX_free(evp);
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

// One localised key: 1 MiB of the repeated 20-character pass phrase plus
// the short localisation digest.
void BM_PasswordToKey(benchmark::State& state) {
  const unsigned char phrase[] = "Ink-Auth.7Kq2Zp9Wm4R";
  const unsigned char engine[] = {0x80, 0x00, 0x02, 0xA2, 0x04, 0x31, 0x32, 0x37, 0x2E};
  unsigned char key[kUsmKeySize];
  for (auto _ : state) {
    Password_to_Key_md5(phrase, 20, engine, sizeof engine, key);
    benchmark::DoNotOptimize(key);
  }
  state.SetBytesProcessed(state.iterations() * (std::int64_t{1} << 20));
}

}  // namespace

BENCHMARK(BM_Md5Module)->ArgsProduct({{kSizes[0], kSizes[1], kSizes[2]}});
BENCHMARK(BM_Md5OpenSsl)->ArgsProduct({{kSizes[0], kSizes[1], kSizes[2]}});
BENCHMARK(BM_PasswordToKey);
