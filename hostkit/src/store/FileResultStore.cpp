// The store: loads, saves and records over the entry format, atomic files and the
// fan-out folders with their size and lock.
#include <orvex/hostkit/FileResultStore.h>

#include "AtomicFile.h"
#include "EntryFormat.h"
#include "EntryTag.h"
#include "FanFolder.h"
#include "StoreFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace orvex {
namespace hostkit {

namespace {

// Temporary files older than this were left by a process that died while writing.
constexpr int64_t kTemporaryAgeSeconds = 3600;
constexpr char kRecordPrefix[] = "record|";

// Whether a write failed for its own entry alone (something else squats its name), so
// that the other entries can still be written; every other failure is the folder's.
bool EntryAlone(int error) {
  return error == EISDIR || error == ENOTEMPTY || error == EEXIST || error == ENOTDIR || error == ELOOP ||
         error == ENAMETOOLONG || error == EBUSY || error == EAGAIN;
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

bool ReadStoreKey(const std::string& path, std::string* key, std::string* reason) {
  struct stat info;
  const store::Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!file.IsOpen() || fstat(file.Get(), &info) != 0) {
    *reason = "cannot read the key file " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *reason = "the key file " + path + " is not a regular file";
    return false;
  }
  if (info.st_size <= 0 || static_cast<uint64_t>(info.st_size) > kLargestStoreKey) {
    *reason = "the key file " + path + " has " + std::to_string(info.st_size) + " bytes; a key has 1 to " +
              std::to_string(kLargestStoreKey);
    return false;
  }
  key->resize(static_cast<std::size_t>(info.st_size));
  if (!store::ReadFully(file.Get(), &(*key)[0], key->size())) {
    *reason = "cannot read the key file " + path;
    return false;
  }
  return true;
}

std::string FileResultStore::KeyText(const StoreKey& key) {
  return key.dataHashId + "|" + std::to_string(key.stage) + "|" + std::to_string(key.codeVersion);
}

FileResultStore::FileResultStore(const std::string& folder, StoreOptions options)
    : m_folder(folder), m_options(std::move(options)) {
  if (!m_options.warn) m_options.warn = [](const std::string& text) { std::cerr << text << "\n"; };
  if (!m_options.key.empty()) m_key.reset(new store::EntryKey(m_options.key));
  m_store.reset(new store::StoreFolder(m_folder, m_options.create, m_options.limitBytes));
  if (!m_store->IsStore()) {
    m_writesOff.store(true, std::memory_order_relaxed);
    WarnOnce(Warning::kWrites, "result store: " + m_store->Problem() + "; going on without it");
    return;
  }
  if (!m_store->FanProblems().empty()) {
    WarnOnce(Warning::kFolders, "result store " + m_folder + ": " + m_store->FanProblems()[0] +
                                    (m_store->FanProblems().size() > 1 ? " (and others)" : ""));
  }
  for (int fan = 0; fan < store::kFans; ++fan) {
    if (store::FanFolder* folder = m_store->Fan(fan)) folder->SweepTemporaryFiles(kTemporaryAgeSeconds);
  }
}

FileResultStore::~FileResultStore() { Flush(); }

bool FileResultStore::IsStore() const { return m_store->IsStore(); }
std::string FileResultStore::NotAStore() const { return m_store->IsStore() ? std::string() : m_store->Problem(); }

std::string FileResultStore::EntryPath(const StoreKey& key) const {
  const std::string name = store::EntryFileName(KeyText(key));
  return m_folder + "/" + store::FanName(store::FanOfFileName(name)) + "/" + name;
}

void FileResultStore::WarnOnce(Warning kind, const std::string& text) {
  if (!m_warned[static_cast<int>(kind)].exchange(true)) m_options.warn(text);
}

void FileResultStore::WritesFail(const std::string& why) {
  m_writeFailures.fetch_add(1, std::memory_order_relaxed);
  m_writesOff.store(true, std::memory_order_relaxed);
  WarnOnce(Warning::kWrites, "result store " + m_folder + ": " + why + "; going on without writing to it");
}

bool FileResultStore::ReadEntry(const std::string& keyText, int stage, int codeVersion,
                                std::vector<unsigned char>* payload) {
  const std::string name = store::EntryFileName(keyText);
  store::FanFolder* fan = m_store->IsStore() ? m_store->Fan(store::FanOfFileName(name)) : nullptr;
  if (fan == nullptr) return false;
  struct stat info;
  const store::Descriptor file = store::OpenRegularAt(fan->Get(), name.c_str(), &info);
  if (!file.IsOpen()) return false;  // no entry, or something that is no file squats its name
  const store::EntryName expected{keyText, stage, codeVersion};
  const store::EntryVerdict verdict = store::ReadEntry(file.Get(), static_cast<uint64_t>(info.st_size), &expected,
                                                       m_key.get(), payload);
  if (verdict == store::EntryVerdict::kValid) {
    // A hit keeps the entry young. A store read-only for this process cannot.
    if (futimens(file.Get(), nullptr) != 0 && !m_writesOff.load(std::memory_order_relaxed)) {
      if (errno == EROFS) {
        WritesFail("its file system is read-only");
      } else {
        WarnOnce(Warning::kRefresh, "result store " + m_folder + ": cannot keep other users' entries young (" +
                                        std::strerror(errno) +
                                        "): their files are not writable for this user; every user of a shared "
                                        "store needs a umask of 002 (docs/store.md)");
      }
    }
    m_bytesRead.fetch_add(static_cast<uint64_t>(info.st_size), std::memory_order_relaxed);
    return true;
  }
  if (verdict == store::EntryVerdict::kOtherVersion) return false;  // left for its own version
  m_corrupt.fetch_add(1, std::memory_order_relaxed);
  // Taken out of the way, unless another writer replaced it meanwhile: the result is
  // computed again and replaces it.
  struct stat now;
  if (fstatat(fan->Get(), name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_ino == info.st_ino &&
      now.st_dev == info.st_dev) {
    unlinkat(fan->Get(), name.c_str(), 0);
  }
  return false;
}

bool FileResultStore::Load(const StoreKey& key, std::vector<unsigned char>* payload) {
  const bool hit = ReadEntry(KeyText(key), key.stage, key.codeVersion, payload);
  (hit ? m_hits : m_misses).fetch_add(1, std::memory_order_relaxed);
  return hit;
}

void FileResultStore::Refused(const StoreKey& key) {
  // The hit was no result: a damaged entry after all.
  uint64_t hits = m_hits.load(std::memory_order_relaxed);
  while (hits > 0 && !m_hits.compare_exchange_weak(hits, hits - 1, std::memory_order_relaxed)) {
  }
  m_misses.fetch_add(1, std::memory_order_relaxed);
  m_corrupt.fetch_add(1, std::memory_order_relaxed);
  RemoveEntry(KeyText(key));
}

void FileResultStore::RemoveEntry(const std::string& keyText) {
  const std::string name = store::EntryFileName(keyText);
  if (store::FanFolder* fan = m_store->IsStore() ? m_store->Fan(store::FanOfFileName(name)) : nullptr) {
    unlinkat(fan->Get(), name.c_str(), 0);
  }
}

bool FileResultStore::WriteEntry(const std::string& keyText, int stage, int codeVersion, StoreEncoding encoding,
                                 const unsigned char* payload, std::size_t size) {
  if (m_writesOff.load(std::memory_order_relaxed)) return false;
  const std::string name = store::EntryFileName(keyText);
  store::FanFolder* fan = m_store->Fan(store::FanOfFileName(name));
  if (fan == nullptr) return false;  // a folder that is not entered (said when the store was opened)
  thread_local std::string buffer;  // kept from one entry to the next: no fresh pages per entry
  const std::string_view stored = store::EncodePayload(encoding, payload, size, buffer);
  std::string header;
  if ((stored.empty() && size > 0) ||
      !store::WriteHeader(store::EntryName{keyText, stage, codeVersion}, encoding, size, stored, m_key.get(), &header)) {
    m_writeFailures.fetch_add(1, std::memory_order_relaxed);
    WarnOnce(Warning::kEntry, "result store " + m_folder + ": a result could not be encoded; it is not kept");
    return false;
  }
  iovec parts[2] = {{const_cast<char*>(header.data()), header.size()}, {const_cast<char*>(stored.data()), stored.size()}};
  uint64_t diskBytes = 0;
  int error = store::WriteWholeAt(fan->Get(), name, parts, 2, &diskBytes);
  // Something squatting the entry's name (an empty folder) is taken away once.
  if ((error == EISDIR || error == ENOTEMPTY) && store::RemoveAt(fan->Get(), name.c_str()) == 0) {
    error = store::WriteWholeAt(fan->Get(), name, parts, 2, &diskBytes);
  }
  if (buffer.capacity() > (std::size_t(1) << 20) && buffer.capacity() / 4 > buffer.size()) std::string().swap(buffer);
  if (error != 0 && EntryAlone(error)) {
    m_writeFailures.fetch_add(1, std::memory_order_relaxed);
    WarnOnce(Warning::kEntry, "result store " + m_folder + ": cannot write the entry " + fan->Path() + "/" + name + ": " +
                                  (error == EAGAIN ? std::string("its temporary file was removed (a clear at work?)")
                                                   : std::string(std::strerror(error))) +
                                  "; the other entries are still written");
    return false;
  }
  if (error != 0) {
    WritesFail(std::string("cannot write an entry: ") + std::strerror(error));
    return false;
  }
  m_writes.fetch_add(1, std::memory_order_relaxed);
  m_bytesWritten.fetch_add(header.size() + stored.size(), std::memory_order_relaxed);
  const store::FanReport report = fan->Added(diskBytes);
  m_evictions.fetch_add(report.evictions, std::memory_order_relaxed);
  if (!report.problem.empty()) WarnOnce(Warning::kCounting, "result store " + m_folder + ": " + report.problem);
  return true;
}

void FileResultStore::Save(const StoreKey& key, const unsigned char* payload, std::size_t size) {
  // A result that cannot be saved (no memory for its encoding, say) is only not kept.
  try {
    WriteEntry(KeyText(key), key.stage, key.codeVersion, m_options.encoding, payload, size);
  } catch (const std::exception& failure) {
    m_writeFailures.fetch_add(1, std::memory_order_relaxed);
    WarnOnce(Warning::kEntry, "result store " + m_folder + ": a result was not saved: " + failure.what());
  }
}

bool FileResultStore::LoadRecord(const std::string& key, std::string* value) {
  std::vector<unsigned char> payload;
  if (!ReadEntry(kRecordPrefix + key, 0, 0, &payload)) return false;
  value->assign(payload.begin(), payload.end());
  return true;
}

void FileResultStore::SaveRecord(const std::string& key, const std::string& value) {
  try {
    WriteEntry(kRecordPrefix + key, 0, 0, StoreEncoding::kRaw, reinterpret_cast<const unsigned char*>(value.data()),
               value.size());
  } catch (const std::exception& failure) {
    m_writeFailures.fetch_add(1, std::memory_order_relaxed);
    WarnOnce(Warning::kEntry, "result store " + m_folder + ": a record was not saved: " + failure.what());
  }
}

void FileResultStore::ReplaceRecord(const std::string& key, const std::string& file, const std::string& recorded,
                                    const std::string& real) {
  SaveRecord(key, real);
  m_options.warn("result store " + m_folder + ": " + file + " was recorded as image " + recorded +
                 " but decodes to image " + real + "; the record is replaced");
}

void FileResultStore::Flush() {
  if (m_writesOff.load(std::memory_order_relaxed)) return;  // what was written is counted by the next count
  for (int index = 0; index < store::kFans; ++index) {
    store::FanFolder* fan = m_store->Fan(index);
    if (fan == nullptr) continue;
    const store::FanReport report = fan->Flush();
    m_evictions.fetch_add(report.evictions, std::memory_order_relaxed);
    if (!report.problem.empty()) WarnOnce(Warning::kCounting, "result store " + m_folder + ": " + report.problem);
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

}  // namespace hostkit
}  // namespace orvex
