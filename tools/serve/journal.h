// The service's memory of idempotency keys: one file of framed records, appended
// with O_APPEND and flushed to the disk before the call it announces runs, so a
// crash or a restart never lets a key run twice.
//
// A record on disk is a header line and its payload:
//   "TJ1 <payload bytes> <CRC-32 of the payload, 8 hex digits>\n" payload "\n"
// A torn last record (the service died inside a write) fails its length or its
// checksum; reading stops there and the file is cut back to the last whole record.
// Damage followed by whole records is not a crash: the journal refuses to open
// rather than forget the keys after it, unless told to drop the damaged part.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvion::serve {

// What a record says. "start" is written before a keyed request reaches the
// printer, "done" with its answer once it has run.
struct JournalRecord {
  int64_t time = 0;  // seconds since the epoch
  std::string kind;  // "start" or "done"
  std::string printer, key;
  uint64_t hash = 0;  // of the request body, canonical form
  int status = 0;     // HTTP status of the answer ("done")
  std::string answer;
};

uint32_t crc32(std::string_view data);
// One framed record of a payload.
std::string frameRecord(std::string_view payload);
// The payloads of the whole records at the front of data; goodBytes is where the
// last whole one ends.
std::vector<std::string> readFrames(std::string_view data, size_t& goodBytes);

// A file of records read through its damage: the whole records with where
// each starts, where the first damage is when whole records follow it, and
// where the last whole record ends (a torn tail lies beyond).
struct JournalFrame {
  size_t offset = 0;
  std::string payload;
};
struct JournalScan {
  static constexpr size_t kNone = static_cast<size_t>(-1);
  std::vector<JournalFrame> frames;
  size_t goodBytes = 0;
  size_t damagedAt = kNone;
  size_t wholeAfterDamage = 0;
};
JournalScan scanJournal(std::string_view data);

std::string encodeRecord(const JournalRecord& r);
bool decodeRecord(std::string_view payload, JournalRecord& r);

class Journal {
 public:
  Journal() = default;
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Opens (creating) dir/journal, returns the records younger than retention
  // seconds at now, and rewrites the file with only those when older ones or a
  // torn tail were found. False with a message when the folder or file cannot
  // be used: a symbolic link, or damage before the last record (unless
  // dropDamaged, which keeps the whole records and forgets the damaged ones).
  bool open(const std::string& dir, int64_t now, int64_t retentionSeconds, std::vector<JournalRecord>& records,
            std::string& error, bool dropDamaged = false);
  // Appends one record and waits for the disk; false when it could not be made
  // durable. Once the file has grown past its compaction size it is rewritten
  // with only the records younger than the retention at the record's time, so
  // a service that runs for months keeps a journal of about its retention.
  bool append(const JournalRecord& r);
  bool isOpen() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  // The file's size and the whole records in it, as this journal wrote them.
  uint64_t sizeBytes() const { return size_; }
  uint64_t records() const { return records_; }
  // The file grows to at least this many bytes, and to twice its size after the
  // last rewrite, before it is compacted.
  void setCompactionFloor(uint64_t bytes) { compactionFloor_ = bytes; }

 private:
  // Reads the file, keeps the whole records younger than the retention at now
  // and rewrites the file with them when anything was dropped.
  bool rewrite(int64_t now, std::vector<JournalRecord>& records, std::string& error);
  bool openForAppend(std::string& error);

  int fd_ = -1;
  std::string dir_, path_;
  int64_t retentionSeconds_ = 0;
  bool dropDamaged_ = false;
  uint64_t size_ = 0, records_ = 0, sizeAfterRewrite_ = 0, compactionFloor_ = 1 << 20;
};

}  // namespace tarvion::serve
