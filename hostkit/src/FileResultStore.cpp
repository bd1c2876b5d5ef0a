// Results on disk: one checked entry file per result, written whole and renamed into place.
#include <orvex/hostkit/FileResultStore.h>

#include <lz4.h>
#include <xxhash.h>
#include <zstd.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string_view>
#include <vector>

namespace orvex {
namespace hostkit {

namespace {

constexpr char kMagic[8] = {'O', 'S', 'C', 'E', 'N', 'T', 'R', 'Y'};
constexpr uint32_t kFormatVersion = 1;
constexpr int kFans = 16;
// A stored payload larger than this is taken for damage: no result is that large.
constexpr uint64_t kLargestPayload = uint64_t(1) << 31;
// Temporary files older than this were left by a process that died while writing.
constexpr int64_t kTemporaryAgeSeconds = 3600;
constexpr char kEntrySuffix[] = ".entry";
constexpr char kRecordSuffix[] = ".record";

void PutU32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}
void PutU64(std::string& out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// Reads fixed-size fields from the front of a byte string.
class Fields {
 public:
  Fields(const char* bytes, std::size_t size) : m_bytes(bytes), m_size(size) {}
  explicit Fields(const std::string& bytes) : Fields(bytes.data(), bytes.size()) {}
  bool Take(std::size_t size, const char** at) {
    if (size > m_size - m_used) return false;
    *at = m_bytes + m_used;
    m_used += size;
    return true;
  }
  bool U32(uint32_t* value) {
    const char* at = nullptr;
    if (!Take(4, &at)) return false;
    *value = 0;
    for (int i = 0; i < 4; ++i) *value |= static_cast<uint32_t>(static_cast<unsigned char>(at[i])) << (8 * i);
    return true;
  }
  bool U64(uint64_t* value) {
    const char* at = nullptr;
    if (!Take(8, &at)) return false;
    *value = 0;
    for (int i = 0; i < 8; ++i) *value |= static_cast<uint64_t>(static_cast<unsigned char>(at[i])) << (8 * i);
    return true;
  }
  std::size_t Left() const { return m_size - m_used; }

 private:
  const char* m_bytes;
  std::size_t m_size;
  std::size_t m_used = 0;
};

std::string Hex128(const std::string& text) {
  const XXH128_hash_t hash = XXH3_128bits(text.data(), text.size());
  char hex[33];
  std::snprintf(hex, sizeof hex, "%016llx%016llx", static_cast<unsigned long long>(hash.high64),
                static_cast<unsigned long long>(hash.low64));
  return hex;
}

// Reads `size` bytes from the descriptor's position; false when the file ends first.
bool ReadFully(int descriptor, void* into, std::size_t size) {
  auto* at = static_cast<char*>(into);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = read(descriptor, at + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

// A regular file no larger than any entry, open for reading; closed when it goes, also
// when a buffer for its bytes cannot be allocated.
class ReadableFile {
 public:
  explicit ReadableFile(const std::string& path) : m_descriptor(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
    struct stat info;
    if (m_descriptor >= 0 && fstat(m_descriptor, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<uint64_t>(info.st_size) <= kLargestPayload) {
      m_size = static_cast<uint64_t>(info.st_size);
    } else if (m_descriptor >= 0) {
      close(m_descriptor);
      m_descriptor = -1;
    }
  }
  ~ReadableFile() {
    if (m_descriptor >= 0) close(m_descriptor);
  }
  ReadableFile(const ReadableFile&) = delete;
  ReadableFile& operator=(const ReadableFile&) = delete;

  bool IsOpen() const { return m_descriptor >= 0; }
  int Descriptor() const { return m_descriptor; }
  uint64_t Size() const { return m_size; }

 private:
  int m_descriptor;
  uint64_t m_size = 0;
};

// The whole file, or false.
bool ReadFile(const std::string& path, std::string* bytes) {
  const ReadableFile file(path);
  if (!file.IsOpen()) return false;
  bytes->resize(static_cast<std::size_t>(file.Size()));
  if (!ReadFully(file.Descriptor(), &(*bytes)[0], bytes->size())) bytes->clear();  // cut short while read: fails its checks
  return true;
}

// The stored bytes of a payload: the payload itself when raw, else encoded into `stored`
// (a buffer the caller keeps between calls).
std::string_view Compress(StoreEncoding encoding, const unsigned char* payload, std::size_t size, std::string& stored) {
  switch (encoding) {
    case StoreEncoding::kLz4: {
      stored.resize(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(size))));
      const int written = LZ4_compress_default(reinterpret_cast<const char*>(payload), &stored[0], static_cast<int>(size),
                                               static_cast<int>(stored.size()));
      stored.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
      break;
    }
    case StoreEncoding::kZstd: {
      stored.resize(ZSTD_compressBound(size));
      const std::size_t written = ZSTD_compress(&stored[0], stored.size(), payload, size, 1);
      stored.resize(ZSTD_isError(written) ? 0 : written);
      break;
    }
    case StoreEncoding::kRaw:
      return std::string_view(reinterpret_cast<const char*>(payload), size);
  }
  return stored;
}

// The header of an entry whose stored bytes are `stored`.
std::string EntryHeader(const std::string& key, int stage, int codeVersion, StoreEncoding encoding, std::size_t size,
                        std::string_view stored) {
  std::string header(kMagic, sizeof kMagic);
  PutU32(header, kFormatVersion);
  PutU32(header, static_cast<uint32_t>(key.size()));
  header += key;
  PutU32(header, static_cast<uint32_t>(stage));
  PutU32(header, static_cast<uint32_t>(codeVersion));
  PutU32(header, static_cast<uint32_t>(encoding));
  PutU64(header, size);
  PutU64(header, stored.size());
  PutU64(header, XXH3_64bits(stored.data(), stored.size()));
  return header;
}

// The fields of an entry's header after its key.
struct Header {
  uint32_t encoding = 0;
  uint64_t payloadSize = 0, storedSize = 0, checksum = 0;
};

// The length of the header of an entry whose key is `key`.
std::size_t HeaderLength(const std::string& key) { return sizeof kMagic + 4 + 4 + key.size() + 4 + 4 + 4 + 8 + 8 + 8; }

// Checks the first HeaderLength(key) bytes of an entry against the key, stage and code
// version it must hold, and reads the rest of the header.
bool ParseHeader(const char* bytes, const std::string& key, int stage, int codeVersion, Header* header) {
  Fields fields(bytes, HeaderLength(key));
  const char* magic = nullptr;
  const char* keyBytes = nullptr;
  uint32_t version = 0, keyLength = 0, storedStage = 0, storedCode = 0;
  if (!fields.Take(sizeof kMagic, &magic) || std::memcmp(magic, kMagic, sizeof kMagic) != 0) return false;
  if (!fields.U32(&version) || version != kFormatVersion) return false;
  if (!fields.U32(&keyLength) || keyLength != key.size() || !fields.Take(keyLength, &keyBytes) ||
      std::memcmp(keyBytes, key.data(), keyLength) != 0) {
    return false;  // a file copied or renamed under another key
  }
  if (!fields.U32(&storedStage) || !fields.U32(&storedCode) || static_cast<int>(storedStage) != stage ||
      static_cast<int>(storedCode) != codeVersion) {
    return false;
  }
  if (!fields.U32(&header->encoding) || header->encoding > static_cast<uint32_t>(StoreEncoding::kZstd)) return false;
  return fields.U64(&header->payloadSize) && fields.U64(&header->storedSize) && fields.U64(&header->checksum) &&
         header->payloadSize <= kLargestPayload;
}

// Whether `size` stored bytes are the ones the header describes.
bool StoredBytesMatch(const Header& header, const void* stored, std::size_t size) {
  return size == header.storedSize && XXH3_64bits(stored, size) == header.checksum;
}

bool Decompress(uint32_t encoding, const char* stored, std::size_t storedSize, std::vector<unsigned char>* payload) {
  switch (static_cast<StoreEncoding>(encoding)) {
    case StoreEncoding::kRaw:
      if (storedSize != payload->size()) return false;
      std::copy(stored, stored + storedSize, payload->begin());
      return true;
    case StoreEncoding::kLz4:
      return payload->size() <= uint64_t(INT32_MAX) && storedSize <= uint64_t(INT32_MAX) &&
             LZ4_decompress_safe(stored, reinterpret_cast<char*>(payload->data()), static_cast<int>(storedSize),
                                 static_cast<int>(payload->size())) == static_cast<int>(payload->size());
    case StoreEncoding::kZstd: {
      const std::size_t got = ZSTD_decompress(payload->data(), payload->size(), stored, storedSize);
      return !ZSTD_isError(got) && got == payload->size();
    }
  }
  return false;
}

int64_t NowSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

// The files of a folder whose names end in `suffix`, or contain it when `anywhere`.
std::vector<std::string> FilesOf(const std::string& folder, const char* suffix, bool anywhere = false) {
  std::vector<std::string> files;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return files;
  const std::size_t suffixLength = std::strlen(suffix);
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    const bool matches = anywhere ? name.find(suffix) != std::string::npos
                                  : name.size() > suffixLength && name.compare(name.size() - suffixLength, suffixLength, suffix) == 0;
    if (matches) files.push_back(name);
  }
  closedir(dir);
  return files;
}

// Holds an exclusive flock on a fan-out folder's lock file: orders the size bookkeeping
// and cleaning of one folder between processes.
class FanLock {
 public:
  explicit FanLock(const std::string& folder) : m_descriptor(open((folder + "/lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (m_descriptor >= 0) flock(m_descriptor, LOCK_EX);
  }
  ~FanLock() {
    if (m_descriptor >= 0) close(m_descriptor);  // closing releases the flock
  }
  FanLock(const FanLock&) = delete;
  FanLock& operator=(const FanLock&) = delete;
  bool Held() const { return m_descriptor >= 0; }

 private:
  int m_descriptor;
};

int64_t ReadSizeFile(const std::string& path) {
  std::string text;
  if (!ReadFile(path, &text)) return 0;
  return std::max<int64_t>(0, std::atoll(text.c_str()));
}

void WriteSizeFile(const std::string& path, int64_t size) {
  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  FILE* file = std::fopen(temporary.c_str(), "w");
  if (file == nullptr) return;
  std::fprintf(file, "%lld\n", static_cast<long long>(size));
  const bool written = std::fclose(file) == 0;
  if (!written || rename(temporary.c_str(), path.c_str()) != 0) unlink(temporary.c_str());
}

// The payload of the entry open as `descriptor` (`size` bytes), checked against its key:
// false for an entry that fails a check.
bool ReadEntryBytes(int descriptor, uint64_t size, const std::string& keyText, int stage, int codeVersion,
                    std::vector<unsigned char>* payload) {
  // The header first, then the stored bytes straight where they are decoded from: raw
  // bytes into the payload itself, encoded ones into a buffer kept from one hit to the next.
  const std::size_t headerLength = HeaderLength(keyText);
  thread_local std::string head;
  thread_local std::vector<char> stored;
  head.resize(headerLength);
  Header header;
  bool valid = size >= headerLength && ReadFully(descriptor, &head[0], headerLength) &&
               ParseHeader(head.data(), keyText, stage, codeVersion, &header) && header.storedSize == size - headerLength;
  if (valid && header.encoding == static_cast<uint32_t>(StoreEncoding::kRaw)) {
    payload->resize(static_cast<std::size_t>(header.storedSize));
    valid = header.payloadSize == header.storedSize && ReadFully(descriptor, payload->data(), payload->size()) &&
            StoredBytesMatch(header, payload->data(), payload->size());
  } else if (valid) {
    stored.resize(static_cast<std::size_t>(header.storedSize));
    valid = ReadFully(descriptor, stored.data(), stored.size()) && StoredBytesMatch(header, stored.data(), stored.size());
    if (valid) payload->resize(static_cast<std::size_t>(header.payloadSize));  // sized only once the bytes are checked
    valid = valid && Decompress(header.encoding, stored.data(), stored.size(), payload);
  }
  return valid;
}

}  // namespace

bool ParseStoreEncoding(const std::string& name, StoreEncoding* encoding) {
  for (const auto& [known, value] : {std::pair<const char*, StoreEncoding>{"raw", StoreEncoding::kRaw},
                                     {"lz4", StoreEncoding::kLz4},
                                     {"zstd", StoreEncoding::kZstd}}) {
    if (name == known) {
      *encoding = value;
      return true;
    }
  }
  return false;
}

std::string FileResultStore::KeyText(const StoreKey& key) {
  return key.dataHashId + "|" + std::to_string(key.stage) + "|" + std::to_string(key.codeVersion);
}

std::string FileResultStore::EncodeEntry(const std::string& key, int stage, int codeVersion, StoreEncoding encoding,
                                         const unsigned char* payload, std::size_t size) {
  std::string buffer;
  const std::string_view stored = Compress(encoding, payload, size, buffer);
  return EntryHeader(key, stage, codeVersion, encoding, size, stored).append(stored);
}

bool FileResultStore::DecodeEntry(const std::string& bytes, const std::string& key, int stage, int codeVersion,
                                  std::vector<unsigned char>* payload) {
  const std::size_t headerLength = HeaderLength(key);
  Header header;
  if (bytes.size() < headerLength || !ParseHeader(bytes.data(), key, stage, codeVersion, &header)) return false;
  const char* stored = bytes.data() + headerLength;
  const std::size_t storedSize = bytes.size() - headerLength;
  if (!StoredBytesMatch(header, stored, storedSize)) return false;
  payload->resize(static_cast<std::size_t>(header.payloadSize));
  return Decompress(header.encoding, stored, storedSize, payload);
}

FileResultStore::FileResultStore(const std::string& folder, StoreOptions options)
    : m_folder(folder), m_options(std::move(options)) {
  if (!m_options.warn) m_options.warn = [](const std::string& text) { std::cerr << text << "\n"; };
  if (mkdir(m_folder.c_str(), 0755) != 0 && errno != EEXIST) {
    WritesFail(std::string("cannot create the store folder: ") + std::strerror(errno));
    return;
  }
  struct stat info;
  if (stat(m_folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    WritesFail("the store path is not a folder");
    return;
  }
  for (int fan = 0; fan < kFans; ++fan) {
    char name[4];
    std::snprintf(name, sizeof name, "%x", fan);
    mkdir((m_folder + "/" + name).c_str(), 0755);
  }
  SweepTemporaryFiles();
}

FileResultStore::~FileResultStore() {
  // What is still pending goes to the size files, and a folder over its share is cleaned.
  int64_t pending[kFans];
  {
    MutexLock lock(m_pendingMutex);
    std::copy(m_pendingBytes, m_pendingBytes + kFans, pending);
  }
  for (int fan = 0; fan < kFans; ++fan) {
    if (pending[fan] > 0 && static_cast<uint64_t>(AddToFanSize(fan, pending[fan])) > m_options.limitBytes / kFans) {
      CleanFan(fan);
    }
  }
}

int FileResultStore::FanOf(const std::string& keyText) {
  return static_cast<int>(XXH3_128bits(keyText.data(), keyText.size()).high64 >> 60);
}

std::string FileResultStore::EntryPath(const StoreKey& key) const { return PathOf(KeyText(key), kEntrySuffix); }

std::string FileResultStore::PathOf(const std::string& keyText, const char* suffix) const {
  const std::string hash = Hex128(keyText);
  return m_folder + "/" + hash.substr(0, 1) + "/" + hash + suffix;
}

void FileResultStore::WritesFail(const std::string& why) {
  m_writeFailures.fetch_add(1, std::memory_order_relaxed);
  m_writesOff.store(true, std::memory_order_relaxed);
  if (!m_warned.exchange(true)) {
    m_options.warn("result store " + m_folder + ": " + why + "; going on without writing to it");
  }
}

bool FileResultStore::ReadEntry(const std::string& path, const std::string& keyText, int stage, int codeVersion,
                                std::vector<unsigned char>* payload, bool* corrupt) {
  *corrupt = false;
  bool valid = false;
  uint64_t size = 0;
  {
    const ReadableFile file(path);
    if (!file.IsOpen()) return false;
    size = file.Size();
    valid = ReadEntryBytes(file.Descriptor(), size, keyText, stage, codeVersion, payload);
    if (valid) futimens(file.Descriptor(), nullptr);  // a hit keeps the entry young
  }
  if (!valid) {
    *corrupt = true;
    // Taken out of the way: the result is computed again and replaces it.
    unlink(path.c_str());
    return false;
  }
  m_bytesRead.fetch_add(size, std::memory_order_relaxed);
  return true;
}

bool FileResultStore::Load(const StoreKey& key, std::vector<unsigned char>* payload) {
  const std::string keyText = KeyText(key);
  bool corrupt = false;
  const bool hit = ReadEntry(PathOf(keyText, kEntrySuffix), keyText, key.stage, key.codeVersion, payload, &corrupt);
  if (corrupt) m_corrupt.fetch_add(1, std::memory_order_relaxed);
  (hit ? m_hits : m_misses).fetch_add(1, std::memory_order_relaxed);
  return hit;
}

bool FileResultStore::WriteEntry(const std::string& path, const std::string& header, std::string_view stored) {
  if (m_writesOff.load(std::memory_order_relaxed)) return false;
  static std::atomic<uint64_t> serial{0};
  static const std::string process = std::to_string(getpid());
  const std::string temporary = path + ".tmp." + process + "." + std::to_string(serial.fetch_add(1));
  const int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (descriptor < 0) {
    WritesFail(std::string("cannot write an entry: ") + std::strerror(errno));
    return false;
  }
  int error = 0;
  std::size_t done = 0;
  const std::size_t total = header.size() + stored.size();
  while (done < total) {
    // The header and the stored bytes in one call, from wherever the last one stopped.
    iovec parts[2];
    int count = 0;
    if (done < header.size()) parts[count++] = {const_cast<char*>(header.data()) + done, header.size() - done};
    const std::size_t storedDone = done > header.size() ? done - header.size() : 0;
    parts[count++] = {const_cast<char*>(stored.data()) + storedDone, stored.size() - storedDone};
    const ssize_t put = writev(descriptor, parts, count);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      error = put < 0 ? errno : ENOSPC;
      break;
    }
    done += static_cast<std::size_t>(put);
  }
  if (close(descriptor) != 0 && error == 0) error = errno;
  // Renamed into place only whole: a reader sees the old entry or this one.
  if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temporary.c_str());
    WritesFail(std::string("cannot write an entry: ") + std::strerror(error));
    return false;
  }
  return true;
}

void FileResultStore::Save(const StoreKey& key, const unsigned char* payload, std::size_t size) {
  if (m_writesOff.load(std::memory_order_relaxed)) return;
  // A result that cannot be saved (no memory for its encoding, say) is only not kept.
  try {
    SaveEntry(key, payload, size);
  } catch (const std::exception& failure) {
    m_writeFailures.fetch_add(1, std::memory_order_relaxed);
    if (!m_warned.exchange(true)) m_options.warn("result store " + m_folder + ": a result was not saved: " + failure.what());
  }
}

void FileResultStore::SaveEntry(const StoreKey& key, const unsigned char* payload, std::size_t size) {
  const std::string keyText = KeyText(key);
  const std::string path = PathOf(keyText, kEntrySuffix);
  thread_local std::string buffer;  // kept from one entry to the next: no fresh pages per entry
  const std::string_view stored = Compress(m_options.encoding, payload, size, buffer);
  const std::string header = EntryHeader(keyText, key.stage, key.codeVersion, m_options.encoding, size, stored);
  if (!WriteEntry(path, header, stored)) return;
  const std::size_t bytes = header.size() + stored.size();
  m_writes.fetch_add(1, std::memory_order_relaxed);
  m_bytesWritten.fetch_add(bytes, std::memory_order_relaxed);
  Account(FanOf(keyText), static_cast<int64_t>(bytes));
}

bool FileResultStore::LoadRecord(const std::string& key, std::string* value) {
  const std::string keyText = "record|" + key;
  std::vector<unsigned char> payload;
  bool corrupt = false;
  if (!ReadEntry(PathOf(keyText, kRecordSuffix), keyText, 0, 0, &payload, &corrupt)) {
    if (corrupt) m_corrupt.fetch_add(1, std::memory_order_relaxed);
    return false;
  }
  value->assign(payload.begin(), payload.end());
  return true;
}

void FileResultStore::SaveRecord(const std::string& key, const std::string& value) {
  if (m_writesOff.load(std::memory_order_relaxed)) return;
  const std::string keyText = "record|" + key;
  const std::string path = PathOf(keyText, kRecordSuffix);
  const std::string header = EntryHeader(keyText, 0, 0, StoreEncoding::kRaw, value.size(), value);
  if (WriteEntry(path, header, value)) Account(FanOf(keyText), static_cast<int64_t>(header.size() + value.size()));
}

void FileResultStore::Account(int fan, int64_t bytes) {
  // Added to the folder's size file a batch at a time: a hundredth of its share of the
  // limit, or 64 writes, whichever comes first.
  const int64_t batch = static_cast<int64_t>(m_options.limitBytes / kFans / 100);
  int64_t pending = 0;
  {
    MutexLock lock(m_pendingMutex);
    m_pendingBytes[fan] += bytes;
    if (m_pendingBytes[fan] < batch && ++m_pendingWrites[fan] < 64) return;
    pending = m_pendingBytes[fan];
    m_pendingBytes[fan] = 0;
    m_pendingWrites[fan] = 0;
  }
  if (static_cast<uint64_t>(AddToFanSize(fan, pending)) > m_options.limitBytes / kFans) CleanFan(fan);
}

int64_t FileResultStore::AddToFanSize(int fan, int64_t bytes) {
  char name[4];
  std::snprintf(name, sizeof name, "%x", fan);
  const std::string folder = m_folder + "/" + name;
  FanLock lock(folder);
  if (!lock.Held()) return 0;
  const int64_t size = ReadSizeFile(folder + "/size") + bytes;
  WriteSizeFile(folder + "/size", size);
  return size;
}

void FileResultStore::CleanFan(int fan) {
  char name[4];
  std::snprintf(name, sizeof name, "%x", fan);
  const std::string folder = m_folder + "/" + name;
  FanLock lock(folder);
  if (!lock.Held()) return;
  struct Found {
    std::string path;
    int64_t modified;
    int64_t size;
  };
  std::vector<Found> found;
  int64_t total = 0;
  for (const char* suffix : {kEntrySuffix, kRecordSuffix}) {
    for (const std::string& file : FilesOf(folder, suffix)) {
      struct stat info;
      const std::string path = folder + "/" + file;
      if (stat(path.c_str(), &info) != 0) continue;
      found.push_back({path, static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec, info.st_size});
      total += info.st_size;
    }
  }
  // Oldest first, down to 90 % of the folder's share of the limit.
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.modified < b.modified; });
  const int64_t target = static_cast<int64_t>(m_options.limitBytes / kFans * 9 / 10);
  for (const Found& entry : found) {
    if (total <= target) break;
    if (unlink(entry.path.c_str()) == 0) {
      total -= entry.size;
      m_evictions.fetch_add(1, std::memory_order_relaxed);
    }
  }
  WriteSizeFile(folder + "/size", total);
}

void FileResultStore::SweepTemporaryFiles() {
  const int64_t now = NowSeconds();
  for (int fan = 0; fan < kFans; ++fan) {
    char name[4];
    std::snprintf(name, sizeof name, "%x", fan);
    const std::string folder = m_folder + "/" + name;
    for (const std::string& file : FilesOf(folder, ".tmp.", true)) {
      struct stat info;
      const std::string path = folder + "/" + file;
      if (stat(path.c_str(), &info) == 0 && now - static_cast<int64_t>(info.st_mtime) > kTemporaryAgeSeconds) {
        unlink(path.c_str());
      }
    }
  }
}

StoreStatistics FileResultStore::Statistics() const {
  StoreStatistics statistics;
  statistics.hits = m_hits.load(std::memory_order_relaxed);
  statistics.misses = m_misses.load(std::memory_order_relaxed);
  statistics.writes = m_writes.load(std::memory_order_relaxed);
  statistics.bytesRead = m_bytesRead.load(std::memory_order_relaxed);
  statistics.bytesWritten = m_bytesWritten.load(std::memory_order_relaxed);
  statistics.corrupt = m_corrupt.load(std::memory_order_relaxed);
  statistics.evictions = m_evictions.load(std::memory_order_relaxed);
  statistics.writeFailures = m_writeFailures.load(std::memory_order_relaxed);
  return statistics;
}

StoreContents FileResultStore::Contents(bool check) {
  StoreContents contents;
  for (int fan = 0; fan < kFans; ++fan) {
    char name[4];
    std::snprintf(name, sizeof name, "%x", fan);
    const std::string folder = m_folder + "/" + name;
    contents.temporary += FilesOf(folder, ".tmp.", true).size();
    for (const char* suffix : {kEntrySuffix, kRecordSuffix}) {
      for (const std::string& file : FilesOf(folder, suffix)) {
        const std::string path = folder + "/" + file;
        struct stat info;
        if (stat(path.c_str(), &info) != 0) continue;
        if (check) {
          // An entry names its own key; the file's name must be that key's hash.
          std::string bytes;
          bool valid = ReadFile(path, &bytes) && bytes.size() >= sizeof kMagic + 8;
          if (valid) {
            Fields fields(bytes);
            const char* magic = nullptr;
            const char* keyBytes = nullptr;
            uint32_t version = 0, keyLength = 0, stage = 0, code = 0;
            valid = fields.Take(sizeof kMagic, &magic) && fields.U32(&version) && fields.U32(&keyLength) &&
                    fields.Take(keyLength, &keyBytes) && fields.U32(&stage) && fields.U32(&code);
            std::vector<unsigned char> payload;
            valid = valid && PathOf(std::string(keyBytes, keyLength), suffix) == path &&
                    DecodeEntry(bytes, std::string(keyBytes, keyLength), static_cast<int>(stage), static_cast<int>(code), &payload);
          }
          if (!valid) {
            unlink(path.c_str());
            ++contents.corrupt;
            continue;
          }
        }
        ++contents.entries;
        contents.bytes += static_cast<uint64_t>(info.st_size);
      }
    }
  }
  return contents;
}

void FileResultStore::Clear() {
  for (int fan = 0; fan < kFans; ++fan) {
    char name[4];
    std::snprintf(name, sizeof name, "%x", fan);
    const std::string folder = m_folder + "/" + name;
    FanLock lock(folder);
    for (const char* pattern : {kEntrySuffix, kRecordSuffix}) {
      for (const std::string& file : FilesOf(folder, pattern)) unlink((folder + "/" + file).c_str());
    }
    for (const std::string& file : FilesOf(folder, ".tmp.", true)) unlink((folder + "/" + file).c_str());
    WriteSizeFile(folder + "/size", 0);
  }
}

}  // namespace hostkit
}  // namespace orvex
