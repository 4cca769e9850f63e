#include "platform/settings_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/posix/unique_fd.h"
#include "platform/registry_tree.h"

namespace orvane::platform {

namespace {

constexpr char kStoreDirName[] = "orvane-sdk";
constexpr char kStoreFileName[] = "registry.reg";
constexpr char kLockSuffix[] = ".lock";
constexpr char kDamagedSuffix[] = ".bad";

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

// The user's configuration directory as the XDG base directory rules define it; empty if none.
std::string ConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (IsAbsolute(xdg)) return xdg;
  const char* home = std::getenv("HOME");
  if (IsAbsolute(home)) return std::string(home) + "/.config";
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      IsAbsolute(found->pw_dir)) {
    return std::string(found->pw_dir) + "/.config";
  }
  return {};
}

// mkdir -p with owner-only permissions for the directories it creates.
bool MakeDirectories(const std::string& path) {
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    std::string prefix = path.substr(0, end);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (end == std::string::npos) break;
  }
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Whole file into `text`; false when it cannot be read or is larger than a store can be.
bool ReadAll(int fd, std::string& text) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || info.st_size < 0 ||
      static_cast<uint64_t>(info.st_size) > RegistryTree::kMaxTextBytes) {
    return false;
  }
  text.clear();
  char chunk[8192];
  while (true) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(chunk, static_cast<size_t>(n));
    if (text.size() > RegistryTree::kMaxTextBytes) return false;
  }
}

}  // namespace

// The contents of one locked read-modify-write, shared by the nested sessions of a thread.
struct StoreTransaction {
  std::string directory;  // empty: no usable location, in memory only
  std::string filePath;
  UniqueFd lock;          // holds the exclusive flock for the transaction's life
  RegistryTree tree;
  bool modified = false;  // tree differs from the file
  bool damaged = false;   // the file on disk could not be parsed; keep it aside before replacing

  StoreTransaction() {
    std::string home = ConfigHome();
    if (!home.empty()) {
      directory = home + "/" + kStoreDirName;
      filePath = directory + "/" + kStoreFileName;
    }
    if (!directory.empty() && MakeDirectories(directory)) {
      std::string lockPath = filePath + kLockSuffix;
      lock = UniqueFd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
      while (lock.Valid() && ::flock(lock.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) lock.Reset();
      }
    }
    if (!filePath.empty()) Load();
  }

  ~StoreTransaction() { Save(); }

  void Load() {
    UniqueFd file(::open(filePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) {
      damaged = errno != ENOENT;
      return;
    }
    std::string text;
    std::optional<RegistryTree> parsed;
    if (ReadAll(file.Get(), text)) parsed = RegistryTree::Parse(text);
    if (parsed) {
      tree = std::move(*parsed);
    } else {
      damaged = true;
    }
  }

  // Replaces the file with the tree: temporary file in the same directory, fsync, rename, fsync
  // of the directory so the rename itself survives a power cut. Only under the lock.
  bool Save() {
    if (!modified) return true;
    if (!lock.Valid()) return false;
    std::string tempPath = filePath + ".XXXXXX";
    UniqueFd temp(::mkostemp(tempPath.data(), O_CLOEXEC));
    if (!temp.Valid()) return false;
    bool ok = ::fchmod(temp.Get(), 0600) == 0 && WriteAll(temp.Get(), tree.Serialize()) &&
              ::fsync(temp.Get()) == 0;
    ok = temp.Reset() && ok;
    if (ok && damaged) {
      std::string keptPath = filePath + kDamagedSuffix;
      (void)::rename(filePath.c_str(), keptPath.c_str());
    }
    if (!ok || ::rename(tempPath.c_str(), filePath.c_str()) != 0) {
      ::unlink(tempPath.c_str());
      return false;
    }
    UniqueFd dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) (void)::fsync(dir.Get());
    modified = false;
    damaged = false;
    return true;
  }
};

namespace {
// The transaction of the sessions alive on this thread, if any.
thread_local std::weak_ptr<StoreTransaction> tlsTransaction;
}  // namespace

struct SettingsSession::State {
  std::shared_ptr<StoreTransaction> transaction;
};

SettingsSession::SettingsSession() : state_(std::make_unique<State>()) {
  state_->transaction = tlsTransaction.lock();
  if (!state_->transaction) {
    state_->transaction = std::make_shared<StoreTransaction>();
    tlsTransaction = state_->transaction;
  }
}

// The last session of a transaction to go destroys it, which writes the file back and unlocks it.
SettingsSession::~SettingsSession() = default;

bool SettingsSession::KeyExists(std::string_view path) const {
  return state_->transaction->tree.KeyExists(path);
}

bool SettingsSession::CreateKey(std::string_view path) {
  StoreTransaction& t = *state_->transaction;
  if (t.tree.KeyExists(path)) return true;
  bool created = t.tree.CreateKey(path);
  t.modified = t.modified || created;
  return created;
}

std::optional<int32_t> SettingsSession::ReadDword(std::string_view path,
                                                  std::string_view name) const {
  return state_->transaction->tree.ReadDword(path, name);
}

std::optional<std::vector<uint8_t>> SettingsSession::ReadBinary(std::string_view path,
                                                                std::string_view name) const {
  std::optional<std::vector<uint8_t>> bytes = state_->transaction->tree.ReadBinary(path, name);
  if (bytes && bytes->size() > kMaxBinaryBytes) return std::nullopt;
  return bytes;
}

bool SettingsSession::WriteDword(std::string_view path, std::string_view name, int32_t value) {
  StoreTransaction& t = *state_->transaction;
  if (t.tree.ReadDword(path, name) == value) return true;
  bool written = t.tree.WriteDword(path, name, value);
  t.modified = t.modified || written;
  return written;
}

bool SettingsSession::WriteBinary(std::string_view path, std::string_view name,
                                  std::span<const uint8_t> bytes) {
  StoreTransaction& t = *state_->transaction;
  if (bytes.size() > kMaxBinaryBytes) return false;
  std::optional<std::vector<uint8_t>> old = t.tree.ReadBinary(path, name);
  if (old && std::equal(old->begin(), old->end(), bytes.begin(), bytes.end())) return true;
  bool written = t.tree.WriteBinary(path, name, bytes);
  t.modified = t.modified || written;
  return written;
}

bool SettingsSession::Flush() { return state_->transaction->Save(); }

}  // namespace orvane::platform
