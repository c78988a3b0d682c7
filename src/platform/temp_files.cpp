#include "platform/temp_files.h"

#include <mutex>
#include <string_view>

#include "error.h"
#include "platform/system.h"

namespace tlq {

namespace {

constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

// xoroshiro128+ (Blackman and Vigna, 2018 parameters).
struct Xoroshiro128Plus {
  uint64_t s0 = 0, s1 = 0;

  static uint64_t rotl(uint64_t x, int k) { return x << k | x >> (64 - k); }

  uint64_t next() {
    uint64_t result = s0 + s1;
    uint64_t t = s1 ^ s0;
    s0 = rotl(s0, 24) ^ t ^ (t << 16);
    s1 = rotl(t, 37);
    return result;
  }
};

Xoroshiro128Plus generator;
std::mutex seeding, drawing;

}  // namespace

bool seedRandom() {
  std::lock_guard<std::mutex> lock(seeding);
  for (int draw = 0; draw < 8; ++draw) {
    uint64_t seed[2] = {0, 0};
    if (systemRandom(seed, sizeof seed) && (seed[0] | seed[1]) != 0) {
      generator.s0 = seed[0];
      generator.s1 = seed[1];
      return true;
    }
  }
  return false;
}

char randomLetter() {
  // Rejection keeps every letter equally likely.
  constexpr uint64_t n = kAlphabet.size();
  constexpr uint64_t limit = UINT64_MAX - UINT64_MAX % n;
  std::lock_guard<std::mutex> lock(drawing);
  uint64_t v;
  do v = generator.next();
  while (v >= limit);
  return kAlphabet[v % n];
}

std::string getTempDir() {
  TLQ_OP("getTempDir");
  struct Candidate {
    const char* variable;
    const char* below;
  };
  static constexpr Candidate kCandidates[] = {
      {"TMP", nullptr},
      {"TEMP", nullptr},
      {"LOCALAPPDATA", "Temp"},
      {"USERPROFILE", "Temp"},
#ifndef _WIN32
      {"TMPDIR", nullptr},
#endif
  };
  for (const Candidate& c : kCandidates) {
    std::optional<std::string> value = getEnv(c.variable);
    if (!value || value->empty()) continue;
    std::string dir = c.below ? joinPath(*value, c.below) : *value;
    if (dirExists(dir)) return dir;
  }
#ifndef _WIN32
  if (dirExists("/tmp")) return "/tmp";
#endif
  throw IoError("unable to find temp directory");
}

std::string randomName(const std::string& prefix, int len, const std::string& suffix) {
  std::string name = prefix;
  for (int i = 0; i < len; ++i) name += randomLetter();
  return name + suffix;
}

std::string mktempUnsafe(const std::string& prefix, const std::string& suffix, const std::string& dir, int len) {
  TLQ_OP("mktempUnsafe");
  for (int attempt = 0; attempt < 10000; ++attempt) {
    std::string name = randomName(prefix, len, suffix);
    std::string path = joinPath(dir.empty() ? TLQ_AT(getTempDir()) : dir, name);
    if (!fileExists(path)) return path;
  }
  throw IoError("Unable to find an available temporary file");
}

TempFile mkstemp(const std::string& prefix, const std::string& suffix, const std::string& dir) {
  TLQ_OP("mkstemp");
  for (int attempt = 0; attempt < 10000; ++attempt) {
    std::string path = TLQ_AT(mktempUnsafe(prefix, suffix, dir, 8));
    try {
      return {TLQ_AT(std::make_unique<OutputFile>(path, OutputFile::Create::exclusive)), path};
    } catch (const IoError&) {
      // Taken meanwhile, or not a place for a file: the next name. An
      // exclusive create leaves nothing behind to delete.
      TraceFrame::forgetUnwound();
    }
  }
  throw IoError("Unable to create temporary file");
}

}  // namespace tlq
