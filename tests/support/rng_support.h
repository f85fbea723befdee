// tests/support/rng_support.h - what the generator tests share: the
// MurmurHash3 finalisers their references seed with, and a fixture that
// builds a method's descriptor through its own host over a state blob.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "host/host.h"
#include "zeq/rng.h"

namespace zeqtest {

// MurmurHash3's fmix32 and fmix64, as published.
inline uint32_t fmix32(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85ebca6bu;
  h ^= h >> 13;
  h *= 0xc2b2ae35u;
  h ^= h >> 16;
  return h;
}
inline uint64_t fmix64(uint64_t k) {
  k ^= k >> 33;
  k *= 0xff51afd7ed558ccdull;
  k ^= k >> 33;
  k *= 0xc4ceb9fe1a85ec53ull;
  k ^= k >> 33;
  return k;
}

// A test with a host of its own and a state blob of `BlobBytes`, set to
// `Fill` before every test; build() asks the module for a method's
// descriptor through its builder zrnf<method>.
template <size_t BlobBytes, unsigned char Fill = 0>
class RngTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host.loaded()) << host.load_error();
    std::memset(blob, Fill, sizeof blob);
  }
  zrng_desc build(const char *method) {
    zrng_desc d;
    host.fn<void (*)(zrng_desc *)>((std::string("zrnf") + method).c_str())(&d);
    return d;
  }
  zeqhost::Host host;
  alignas(8) unsigned char blob[BlobBytes];
};

}  // namespace zeqtest
