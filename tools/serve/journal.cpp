#include "tools/serve/journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/durable_file.h"

namespace tarvion::serve {
namespace {

constexpr std::string_view kMagic = "TJ1 ";
// A header line is short; anything longer is garbage, not a record.
constexpr size_t kMaxHeader = 40;

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void syncFolder(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

uint32_t crc32(std::string_view data) {
  uint32_t c = 0xFFFFFFFFu;
  for (unsigned char b : data) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}

std::string frameRecord(std::string_view payload) {
  char header[kMaxHeader];
  const int n = std::snprintf(header, sizeof header, "TJ1 %zu %08x\n", payload.size(), crc32(payload));
  std::string out(header, static_cast<size_t>(n));
  out.append(payload);
  out += '\n';
  return out;
}

namespace {

// The size of the whole record at the front of data, with its payload; 0 when
// there is none there.
size_t frameAt(std::string_view data, std::string_view& payload) {
  const size_t eol = data.substr(0, kMaxHeader).find('\n');
  if (eol == std::string_view::npos || data.substr(0, kMagic.size()) != kMagic) return 0;
  const std::string_view header = data.substr(kMagic.size(), eol - kMagic.size());
  const size_t space = header.find(' ');
  if (space == std::string_view::npos || header.size() - space - 1 != 8) return 0;
  size_t length = 0;
  uint32_t sum = 0;
  auto a = std::from_chars(header.data(), header.data() + space, length);
  auto b = std::from_chars(header.data() + space + 1, header.data() + header.size(), sum, 16);
  if (a.ec != std::errc() || a.ptr != header.data() + space || b.ec != std::errc() ||
      b.ptr != header.data() + header.size())
    return 0;
  const size_t start = eol + 1;
  if (length > data.size() - start || data.size() - start - length < 1 || data[start + length] != '\n') return 0;
  payload = data.substr(start, length);
  if (crc32(payload) != sum) return 0;
  return start + length + 1;
}

}  // namespace

std::vector<std::string> readFrames(std::string_view data, size_t& goodBytes) {
  std::vector<std::string> out;
  goodBytes = 0;
  std::string_view payload;
  for (size_t n; goodBytes < data.size() && (n = frameAt(data.substr(goodBytes), payload)) != 0; goodBytes += n)
    out.emplace_back(payload);
  return out;
}

JournalScan scanJournal(std::string_view data) {
  JournalScan scan;
  size_t pos = 0;
  std::string_view payload;
  while (pos < data.size()) {
    if (const size_t n = frameAt(data.substr(pos), payload)) {
      scan.frames.push_back({pos, std::string(payload)});
      pos += n;
      if (scan.damagedAt != JournalScan::kNone) ++scan.wholeAfterDamage;
      scan.goodBytes = pos;
      continue;
    }
    // Not a record here. Torn by a crash, it is the last thing in the file;
    // a whole record further on means the damage is in the middle.
    size_t next = pos;
    while ((next = data.find(kMagic, next + 1)) != std::string_view::npos && !frameAt(data.substr(next), payload)) {
    }
    if (next == std::string_view::npos) break;
    if (scan.damagedAt == JournalScan::kNone) scan.damagedAt = pos;
    pos = next;
  }
  return scan;
}

std::string encodeRecord(const JournalRecord& r) {
  nlohmann::json j = {{"time", r.time}, {"kind", r.kind},     {"printer", r.printer}, {"key", r.key},
                      {"hash", r.hash}, {"status", r.status}, {"answer", r.answer}};
  return j.dump();
}

bool decodeRecord(std::string_view payload, JournalRecord& r) {
  const nlohmann::json j = nlohmann::json::parse(payload, nullptr, false);
  if (!j.is_object()) return false;
  try {
    r.time = j.at("time").get<int64_t>();
    r.kind = j.at("kind").get<std::string>();
    r.printer = j.at("printer").get<std::string>();
    r.key = j.at("key").get<std::string>();
    r.hash = j.at("hash").get<uint64_t>();
    r.status = j.at("status").get<int>();
    r.answer = j.at("answer").get<std::string>();
  } catch (const nlohmann::json::exception&) {
    return false;
  }
  return r.kind == "start" || r.kind == "done";
}

Journal::~Journal() {
  if (fd_ >= 0) ::close(fd_);
}

bool Journal::open(const std::string& dir, int64_t now, int64_t retentionSeconds, std::vector<JournalRecord>& records,
                   std::string& error, bool dropDamaged) {
  records.clear();
  std::error_code ec;
  if (std::filesystem::create_directories(dir, ec))
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
  if (ec) {
    error = "cannot create the journal folder " + dir + ": " + ec.message();
    return false;
  }
  dir_ = dir;
  path_ = (std::filesystem::path(dir) / "journal").string();
  retentionSeconds_ = retentionSeconds;
  dropDamaged_ = dropDamaged;
  return rewrite(now, records, error) && openForAppend(error);
}

bool Journal::rewrite(int64_t now, std::vector<JournalRecord>& records, std::string& error) {
  std::string data;
  bool missing = false;
  if (!platform::readRegularFile(path_, data, &error, &missing)) {
    if (!missing) return false;  // a link, a folder or unreadable: named in error
    data.clear();
  }
  const JournalScan scan = scanJournal(data);
  bool dropped = scan.goodBytes != data.size() || scan.damagedAt != JournalScan::kNone;
  if (scan.damagedAt != JournalScan::kNone && !dropDamaged_) {
    error = "the journal " + path_ + " is damaged at byte " + std::to_string(scan.damagedAt) + ", and " +
            std::to_string(scan.wholeAfterDamage) +
            " whole records follow it. The keys of the damaged records are unknown, so a retry of one of them "
            "could print again: the service does not start. Start with --journal-drop-damaged to keep the whole "
            "records and forget the damaged ones";
    return false;
  }
  for (const JournalFrame& f : scan.frames) {
    JournalRecord r;
    if (!decodeRecord(f.payload, r)) {
      if (!dropDamaged_) {
        error = "the journal " + path_ + " holds a record it cannot read at byte " + std::to_string(f.offset) +
                "; start with --journal-drop-damaged to forget it";
        return false;
      }
      dropped = true;
      continue;
    }
    if (now - r.time > retentionSeconds_) {
      dropped = true;
      continue;
    }
    records.push_back(std::move(r));
  }
  size_ = data.size();
  if (dropped) {
    // Written whole under a new, exclusive name beside the old file and renamed
    // over it, so a crash here leaves one complete journal or the other, and
    // nothing planted under a guessable name is written through.
    std::string out;
    for (const JournalRecord& r : records) out += frameRecord(encodeRecord(r));
    if (!platform::replaceFile(path_, out, &error)) {
      error = "cannot rewrite " + path_ + ": " + error;
      return false;
    }
    size_ = out.size();
  }
  sizeAfterRewrite_ = size_;
  records_ = records.size();
  return true;
}

bool Journal::openForAppend(std::string& error) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    error = errno == ELOOP ? path_ + " is a symbolic link; the journal is never written through one"
                           : "cannot open " + path_ + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    error = path_ + " is not a regular file";
    return false;
  }
  syncFolder(dir_);
  return true;
}

bool Journal::append(const JournalRecord& r) {
  if (fd_ < 0) return false;
  // One write of the whole frame: with O_APPEND it lands at the end in one
  // piece, or is torn only by a crash, which the reader detects.
  const std::string frame = frameRecord(encodeRecord(r));
  if (!writeAll(fd_, frame) || ::fdatasync(fd_) != 0) return false;
  size_ += frame.size();
  ++records_;
  if (size_ < compactionFloor_ || size_ < 2 * sizeAfterRewrite_) return true;
  // The record is on the disk already: a compaction that fails leaves the file
  // as it was, still whole, and the next append tries again.
  ::close(fd_);
  fd_ = -1;
  std::vector<JournalRecord> kept;
  std::string error;
  const bool rewritten = rewrite(r.time, kept, error);
  if (!openForAppend(error)) return false;
  if (!rewritten) sizeAfterRewrite_ = size_;  // no retry on every append
  return true;
}

}  // namespace tarvion::serve
