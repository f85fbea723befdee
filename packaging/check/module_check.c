/* An installed module used from C: built with `pkg-config --cflags --libs
 * zeqwucha`.  It includes the public headers, calls an exported routine of
 * the linked module (MurmurHash3 x86_32 against SMHasher's published
 * verification value), and loads the module by the file name a host uses,
 * finding its entry points.  Exit status 0 when all of that holds. */
#include <dlfcn.h>
#include <stdio.h>
#include <string.h>

#include <zeq/abi.h>
#include <zeq/host.h>
#include <zeq/rng.h>

uint32_t zmurmur32(const void *data, int64_t length, uint32_t seed);

/* SMHasher's check: hash keys {}, {0}, {0,1}, ... with seed 256 - length,
 * then the 256 hashes with seed 0; the first four bytes, little-endian. */
static uint32_t verification(void) {
  uint8_t key[256], hashes[256 * 4];
  for (int i = 0; i < 256; i++) {
    key[i] = (uint8_t)i;
    uint32_t h = zmurmur32(key, i, (uint32_t)(256 - i));
    memcpy(hashes + 4 * i, &h, 4);
  }
  return zmurmur32(hashes, sizeof hashes, 0);
}

int main(int argc, char **argv) {
  int failed = 0;
  uint32_t v = verification();
  if (v != 0xB0F57EE3u) {
    fprintf(stderr, "zmurmur32 verification 0x%08X, expected 0xB0F57EE3\n", v);
    failed = 1;
  }
  const char *path = argc > 1 ? argv[1] : "libzeqwucha.so";
  void *module = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
    return 1;
  }
  const char *entries[] = {"mcn_main", "pcn_ZEQWUCHA", "zeqwucha"};
  for (size_t i = 0; i < sizeof entries / sizeof *entries; i++)
    if (!dlsym(module, entries[i])) {
      fprintf(stderr, "%s: no %s\n", path, entries[i]);
      failed = 1;
    }
  printf("module %s: %s\n", path, failed ? "FAILED" : "ok");
  return failed;
}
