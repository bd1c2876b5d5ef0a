// The entry format: the header writer, the reader, the payload encodings and their bounds.
#include "EntryFormat.h"

#include "AtomicFile.h"
#include "EntryTag.h"

#include <lz4.h>
#include <xxhash.h>
#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvex {
namespace hostkit {
namespace store {

namespace {

constexpr char kMagic[8] = {'O', 'S', 'C', 'E', 'N', 'T', 'R', 'Y'};
constexpr uint32_t kFlagTagged = 1;
// A payload larger than this is taken for damage: no result is that large.
constexpr uint64_t kLargestPayload = uint64_t(1) << 31;
// An lz4 block gives at most 255 bytes for each of its bytes (a match length is extended
// by 255 per byte); a zstd block of at least 4 bytes gives at most 128 KiB.
constexpr uint64_t kLz4LargestRatio = 255;
constexpr uint64_t kZstdLargestRatio = (uint64_t(128) << 10) / 4;
// Magic, version, flags and key length: what comes before the key.
constexpr std::size_t kPrefixLength = 8 + 4 + 4 + 4;
constexpr char kRecordPrefix[] = "record|";

// The length of the header of an entry whose key text has `keyLength` bytes.
constexpr std::size_t HeaderLength(std::size_t keyLength, bool tagged) {
  return kPrefixLength + keyLength + 4 + 4 + 4 + 8 + 8 + 8 + (tagged ? kTagBytes : 0) + 8;
}

void PutU32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}
void PutU64(std::string& out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}
uint32_t GetU32(const char* at) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(static_cast<unsigned char>(at[i])) << (8 * i);
  return value;
}
uint64_t GetU64(const char* at) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= static_cast<uint64_t>(static_cast<unsigned char>(at[i])) << (8 * i);
  return value;
}

// Whether `payloadSize` bytes can come out of `stored` in `encoding`: nothing sized from
// the header may exceed what the file's bytes can decode to.
bool PayloadFits(uint32_t encoding, uint64_t payloadSize, const char* stored, uint64_t storedSize) {
  if (payloadSize > kLargestPayload) return false;
  switch (static_cast<StoreEncoding>(encoding)) {
    case StoreEncoding::kRaw:
      return payloadSize == storedSize;
    case StoreEncoding::kLz4:
      return storedSize <= uint64_t(INT32_MAX) && payloadSize <= storedSize * kLz4LargestRatio;
    case StoreEncoding::kZstd:
      return payloadSize <= storedSize * kZstdLargestRatio &&
             ZSTD_getFrameContentSize(stored, static_cast<std::size_t>(storedSize)) == payloadSize;
  }
  return false;
}

bool Decode(uint32_t encoding, const char* stored, std::size_t storedSize, std::vector<unsigned char>* payload) {
  switch (static_cast<StoreEncoding>(encoding)) {
    case StoreEncoding::kRaw:
      return storedSize == payload->size();  // read in place
    case StoreEncoding::kLz4:
      return LZ4_decompress_safe(stored, reinterpret_cast<char*>(payload->data()), static_cast<int>(storedSize),
                                 static_cast<int>(payload->size())) == static_cast<int>(payload->size());
    case StoreEncoding::kZstd: {
      const std::size_t got = ZSTD_decompress(payload->data(), payload->size(), stored, storedSize);
      return !ZSTD_isError(got) && got == payload->size();
    }
  }
  return false;
}

}  // namespace

void KeepNearItsUse(std::vector<char>& buffer) noexcept {
  constexpr std::size_t kAlwaysKept = std::size_t(1) << 20;
  if (buffer.capacity() > kAlwaysKept && buffer.capacity() / 4 > buffer.size()) std::vector<char>().swap(buffer);
}

std::string_view EncodePayload(StoreEncoding encoding, const unsigned char* payload, std::size_t size,
                               std::string& buffer) {
  switch (encoding) {
    case StoreEncoding::kLz4: {
      if (size > static_cast<std::size_t>(LZ4_MAX_INPUT_SIZE)) return std::string_view();
      buffer.resize(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(size))));
      const int written = LZ4_compress_default(reinterpret_cast<const char*>(payload), &buffer[0], static_cast<int>(size),
                                               static_cast<int>(buffer.size()));
      buffer.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
      return buffer;
    }
    case StoreEncoding::kZstd: {
      buffer.resize(ZSTD_compressBound(size));
      const std::size_t written = ZSTD_compress(&buffer[0], buffer.size(), payload, size, 1);
      buffer.resize(ZSTD_isError(written) ? 0 : written);
      return buffer;
    }
    case StoreEncoding::kRaw:
      break;
  }
  return std::string_view(reinterpret_cast<const char*>(payload), size);
}

bool WriteHeader(const EntryName& name, StoreEncoding encoding, uint64_t payloadSize, std::string_view stored,
                 const EntryKey* key, std::string* header) {
  header->assign(kMagic, sizeof kMagic);
  PutU32(*header, kFormatVersion);
  PutU32(*header, key != nullptr ? kFlagTagged : 0);
  PutU32(*header, static_cast<uint32_t>(name.keyText.size()));
  *header += name.keyText;
  PutU32(*header, static_cast<uint32_t>(name.stage));
  PutU32(*header, static_cast<uint32_t>(name.codeVersion));
  PutU32(*header, static_cast<uint32_t>(encoding));
  PutU64(*header, payloadSize);
  PutU64(*header, stored.size());
  PutU64(*header, XXH3_64bits(stored.data(), stored.size()));
  if (key != nullptr) {
    unsigned char tag[kTagBytes];
    if (!key->Tag(*header, stored, tag)) return false;
    header->append(reinterpret_cast<const char*>(tag), kTagBytes);
  }
  PutU64(*header, XXH3_64bits(header->data(), header->size()));
  return true;
}

EntryVerdict ReadEntry(int descriptor, uint64_t size, const EntryName* expected, const EntryKey* key,
                       std::vector<unsigned char>* payload, EntryName* found) {
  // The header in one read when its length is known (a load knows its key), else the
  // fixed part first; bytes read beyond the header are the first stored bytes.
  thread_local std::string head;
  if (size > kLargestPayload + HeaderLength(kLargestKeyText, true)) return EntryVerdict::kDamaged;
  if (expected != nullptr && expected->keyText.size() > kLargestKeyText) return EntryVerdict::kDamaged;
  const std::size_t guess =
      expected != nullptr ? HeaderLength(expected->keyText.size(), key != nullptr) : kPrefixLength;
  head.resize(static_cast<std::size_t>(std::min<uint64_t>(size, guess)));
  if (size < 12 || !ReadFully(descriptor, &head[0], head.size())) return EntryVerdict::kDamaged;
  if (std::memcmp(head.data(), kMagic, sizeof kMagic) != 0) return EntryVerdict::kDamaged;
  if (GetU32(head.data() + 8) != kFormatVersion) return EntryVerdict::kOtherVersion;
  if (head.size() < kPrefixLength) return EntryVerdict::kDamaged;
  const uint32_t flags = GetU32(head.data() + 12);
  const uint32_t keyLength = GetU32(head.data() + 16);
  if ((flags & ~kFlagTagged) != 0 || keyLength > kLargestKeyText) return EntryVerdict::kDamaged;
  if (expected != nullptr && keyLength != expected->keyText.size()) return EntryVerdict::kDamaged;
  const bool tagged = (flags & kFlagTagged) != 0;
  const std::size_t headerLength = HeaderLength(keyLength, tagged);
  if (headerLength > size) return EntryVerdict::kDamaged;
  if (head.size() < headerLength) {
    const std::size_t had = head.size();
    head.resize(headerLength);
    if (!ReadFully(descriptor, &head[had], headerLength - had)) return EntryVerdict::kDamaged;
  }
  // Nothing in the header is believed before its checksum holds.
  const std::size_t checksumAt = headerLength - 8;
  if (XXH3_64bits(head.data(), checksumAt) != GetU64(head.data() + checksumAt)) return EntryVerdict::kDamaged;
  const char* at = head.data() + kPrefixLength;
  const std::string_view keyText(at, keyLength);
  at += keyLength;
  const int stage = static_cast<int>(GetU32(at));
  const int codeVersion = static_cast<int>(GetU32(at + 4));
  const uint32_t encoding = GetU32(at + 8);
  const uint64_t payloadSize = GetU64(at + 12);
  const uint64_t storedSize = GetU64(at + 20);
  const uint64_t storedChecksum = GetU64(at + 28);
  const std::size_t fieldsLength = static_cast<std::size_t>(at + 36 - head.data());
  if (expected != nullptr &&
      (keyText != expected->keyText || stage != expected->stage || codeVersion != expected->codeVersion)) {
    return EntryVerdict::kDamaged;  // a file copied or renamed under another key
  }
  if (encoding > static_cast<uint32_t>(StoreEncoding::kZstd) || storedSize != size - headerLength) {
    return EntryVerdict::kDamaged;
  }
  if (key != nullptr && !tagged) return EntryVerdict::kUnverified;

  // The stored bytes: raw ones straight into the payload (sized by the file's length),
  // encoded ones into a buffer this thread keeps from one read to the next.
  thread_local std::vector<char> encoded;
  const bool raw = encoding == static_cast<uint32_t>(StoreEncoding::kRaw);
  std::vector<unsigned char> rawBytes;
  char* stored = nullptr;
  if (raw) {
    rawBytes.swap(*payload);
    rawBytes.resize(static_cast<std::size_t>(storedSize));
    stored = reinterpret_cast<char*>(rawBytes.data());
  } else {
    encoded.resize(static_cast<std::size_t>(storedSize));
    stored = encoded.data();
  }
  const std::size_t early = head.size() - headerLength;
  if (early > 0) std::memcpy(stored, head.data() + headerLength, early);
  bool valid = ReadFully(descriptor, stored + early, static_cast<std::size_t>(storedSize) - early) &&
               XXH3_64bits(stored, static_cast<std::size_t>(storedSize)) == storedChecksum &&
               PayloadFits(encoding, payloadSize, stored, storedSize);
  EntryVerdict verdict = valid ? EntryVerdict::kValid : EntryVerdict::kDamaged;
  if (valid && key != nullptr &&
      !key->Verify(std::string_view(head.data(), fieldsLength), std::string_view(stored, storedSize),
                   reinterpret_cast<const unsigned char*>(head.data() + fieldsLength))) {
    verdict = EntryVerdict::kUnverified;
  }
  if (verdict == EntryVerdict::kValid && raw) {
    payload->swap(rawBytes);
  } else if (verdict == EntryVerdict::kValid) {
    payload->resize(static_cast<std::size_t>(payloadSize));  // sized only once the bytes are checked and fit
    if (!Decode(encoding, stored, static_cast<std::size_t>(storedSize), payload)) verdict = EntryVerdict::kDamaged;
  } else if (raw) {
    payload->swap(rawBytes);  // the caller's buffer back, to be reused
  }
  if (!raw) {
    encoded.resize(static_cast<std::size_t>(storedSize));
    KeepNearItsUse(encoded);
  }
  if (verdict == EntryVerdict::kValid && found != nullptr) {
    found->keyText.assign(keyText.data(), keyText.size());
    found->stage = stage;
    found->codeVersion = codeVersion;
  }
  return verdict;
}

std::string EntryFileName(const std::string& keyText) {
  const std::string named = std::to_string(kFormatVersion) + "|" + keyText;
  const XXH128_hash_t hash = XXH3_128bits(named.data(), named.size());
  char hex[40];
  std::snprintf(hex, sizeof hex, "%016llx%016llx", static_cast<unsigned long long>(hash.high64),
                static_cast<unsigned long long>(hash.low64));
  return std::string(hex) + (IsRecordKeyText(keyText) ? ".record" : ".entry");
}

int FanOfFileName(const std::string& fileName) {
  const char digit = fileName.empty() ? '0' : fileName[0];
  return digit <= '9' ? digit - '0' : digit - 'a' + 10;
}

bool IsEntryFileName(std::string_view name) {
  std::string_view suffix;
  if (name.size() == 32 + 6 && name.substr(32) == ".entry") suffix = ".entry";
  else if (name.size() == 32 + 7 && name.substr(32) == ".record") suffix = ".record";
  else return false;
  return std::all_of(name.begin(), name.begin() + 32, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

bool IsRecordKeyText(std::string_view keyText) { return keyText.substr(0, sizeof kRecordPrefix - 1) == kRecordPrefix; }

}  // namespace store
}  // namespace hostkit
}  // namespace orvex
