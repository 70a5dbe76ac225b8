#include "conversion/batch_run.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "conversion/conversion.h"

namespace orvane {
namespace {

NativeString CourseTitleFor(const NativeString& folder) {
  NativeString course = folder;
  platform::RemoveLastComponent(course);
  platform::RemoveLastComponent(course);
  if (platform::LastComponent(course).find(platform::FromAscii("__")) == NativeString::npos) {
    return {};
  }
  return ReadCourseTitle(course);
}

}  // namespace

bool IsError(BatchMessage message) { return message != BatchMessage::kFilesConverted; }

NativeString MessageText(BatchMessage message, const NativeString& folder) {
  switch (message) {
    case BatchMessage::kSelectFolderFirst:
      return platform::FromAscii("Please select a folder first.");
    case BatchMessage::kNoCaptionFiles:
      return platform::FromAscii("No .vtt files found in the selected folder.");
    case BatchMessage::kErrorOpening:
      return platform::FromAscii("Error opening file(s).");
    case BatchMessage::kErrorWriting:
      return platform::FromAscii("Error writing file(s).");
    case BatchMessage::kFilesConverted:
      return platform::FromAscii("Files converted to folder: ") + folder;
  }
  return {};
}

bool HasCaptionExtension(const NativeString& name) {
  constexpr std::string_view kExtension = ".vtt";
  if (name.size() < kExtension.size()) return false;
  const auto tail = name.size() - kExtension.size();
  for (std::size_t i = 0; i < kExtension.size(); ++i) {
    auto c = name[tail + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<platform::NativeChar>(c - 'A' + 'a');
    if (c != static_cast<platform::NativeChar>(kExtension[i])) return false;
  }
  return true;
}

namespace {

// Files listed ahead of the oldest message not yet reported, per thread: few
// enough to keep memory small, enough that the files of the next folders of a
// tree are waiting while the last ones of a folder are converted.
constexpr std::size_t kAheadPerJob = 64;

// The transcript paths of one folder's caption files, the one place that
// decides which caption may write a path. Captions whose names differ only in
// case share one transcript path: the first of them that writes it keeps it,
// and each later one fails with kOpenFailed rather than replace it. Used by
// the thread that lists and reports only.
class TranscriptPaths {
 public:
  // True when the caption file listed now may write `output`. For a path
  // listed before, whether an earlier file wrote it is known only once every
  // earlier file is reported: `report_earlier` is called to report them first.
  template <class ReportEarlier>
  bool MayWrite(const NativeString& output, ReportEarlier report_earlier) {
    if (listed_.insert(output).second) return true;
    report_earlier();
    return written_.count(output) == 0;
  }
  // Takes note, as it is reported, of the `result` of a file that may write `output`.
  void Reported(const NativeString& output, ConversionResult result) {
    if (result == ConversionResult::kConverted) written_.insert(output);
  }

 private:
  std::set<NativeString> listed_;   // the transcript paths of the caption files listed so far
  std::set<NativeString> written_;  // of them, those written by the run
};

// One folder converted as a batch.
struct Folder {
  std::shared_ptr<const NativeString> title;  // read by the converting threads too
  TranscriptPaths transcripts;
};

// One message of a run, in listing order: the conversion of a caption file,
// whose message is known once it is converted, or a message decided at once.
struct Entry {
  std::shared_ptr<Folder> folder;  // for a caption file
  NativeString input;
  NativeString output;  // empty when the caption file may not write its transcript
  BatchMessage message = BatchMessage::kFilesConverted;  // when not a caption file
  NativeString subject;
  // Set by the converting thread, then read by the reporting thread.
  ConversionResult result = ConversionResult::kConverted;
  bool done = false;
};

// The messages of a run from the oldest not yet reported, in listing order,
// while their files are converted on other threads in any order. Entries are
// added and reported by one thread; any thread completes them.
class ReportingWindow {
 public:
  // Adds `entry` at the end and returns it, held until it is reported.
  Entry& Add(std::unique_ptr<Entry> entry) { return *entries_.emplace_back(std::move(entry)); }

  // Records the `result` of converting `entry`, which is then done.
  void Complete(Entry& entry, ConversionResult result) {
    const std::lock_guard lock(mutex_);
    entry.result = result;
    entry.done = true;
    if (waiting_) done_.notify_one();
  }

  // Hands the entries at the front that are done to `report`, in order and
  // one at a time, waiting for the oldest to be done while more than `keep`
  // remain.
  template <class Report>
  void Flush(std::size_t keep, Report report) {
    while (!entries_.empty() && Settle(*entries_.front(), entries_.size() > keep)) {
      const std::unique_ptr<Entry> entry = std::move(entries_.front());
      entries_.pop_front();
      report(*entry);
    }
  }

 private:
  // True when `entry` is done; with `wait`, once it is.
  bool Settle(Entry& entry, bool wait) {
    std::unique_lock lock(mutex_);
    if (!entry.done && wait) {
      waiting_ = true;
      done_.wait(lock, [&entry] { return entry.done; });
      waiting_ = false;
    }
    return entry.done;
  }

  std::deque<std::unique_ptr<Entry>> entries_;  // used by the reporting thread only
  std::mutex mutex_;                            // the entries' results, and waiting_
  std::condition_variable done_;                // an entry is done
  bool waiting_ = false;                        // the reporting thread waits for one
};

// The caption files waiting for a converting thread.
class WorkQueue {
 public:
  // Adds a file to convert; `entry` must stay until it is completed.
  void Push(Entry& entry) {
    bool wake = false;
    {
      const std::lock_guard lock(mutex_);
      waiting_.push_back(&entry);
      wake = idle_ > 0;  // a busy thread takes the file when it is done
    }
    if (wake) work_.notify_one();
  }

  // Ends the queue: Take returns null once no file waits.
  void Close() {
    {
      const std::lock_guard lock(mutex_);
      closed_ = true;
    }
    work_.notify_all();
  }

  // Waits for a file and takes it, for a thread whose last file was of
  // `folder` (null for none): the oldest of that folder while no other thread
  // works there, else the oldest of a folder where no thread works, else the
  // oldest. `folder` becomes the taken file's, counted as worked in until the
  // thread's next Take. Returns null once the queue is closed and no file
  // waits.
  Entry* Take(const Folder*& folder) {
    std::unique_lock lock(mutex_);
    const Folder* last = std::exchange(folder, nullptr);
    if (last != nullptr) busy_.erase(std::find(busy_.begin(), busy_.end(), last));
    ++idle_;
    work_.wait(lock, [this] { return !waiting_.empty() || closed_; });
    --idle_;
    if (waiting_.empty()) return nullptr;
    const auto next = NextFor(last);
    Entry* entry = *next;
    waiting_.erase(next);
    folder = entry->folder.get();
    busy_.push_back(folder);
    return entry;
  }

 private:
  // Threads in folders of their own do not queue on one folder's lock in the
  // kernel when they create and rename transcripts.
  std::deque<Entry*>::iterator NextFor(const Folder* last) {
    const auto busy = [this](const Folder* folder) {
      return std::find(busy_.begin(), busy_.end(), folder) != busy_.end();
    };
    auto free = waiting_.end();
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
      const Folder* folder = (*it)->folder.get();
      if (busy(folder)) continue;
      if (folder == last) return it;
      if (free == waiting_.end()) free = it;
    }
    return free != waiting_.end() ? free : waiting_.begin();
  }

  std::mutex mutex_;
  // A plain condition variable and a flag rather than stop tokens: the stop
  // callbacks' semaphores can miss a wake-up in MinGW's libstdc++, which
  // left a run waiting forever for its threads to end.
  std::condition_variable work_;     // a file waits, or the queue is closed
  std::deque<Entry*> waiting_;       // files not yet taken by a thread
  std::vector<const Folder*> busy_;  // the folder of each file being converted
  unsigned idle_ = 0;                // threads waiting for a file
  bool closed_ = false;
};

// A thread's converter, kept from file to file of one title so that its
// buffers are reused, and made anew when the title changes.
class ConverterCache {
 public:
  // Converts in `style`, counting the bytes read in `bytes_read` when not null.
  ConverterCache(TranscriptStyle style, std::atomic<std::uint64_t>* bytes_read)
      : style_(style), bytes_read_(bytes_read) {}

  // Converts the caption file of `entry` with its folder's title.
  ConversionResult Convert(const Entry& entry) {
    const std::shared_ptr<const NativeString>& title = entry.folder->title;
    if (title_ != title) {
      converter_.emplace(*title, style_);
      converter_->CountBytesIn(bytes_read_);
      title_ = title;
    }
    return converter_->Convert(entry.input, entry.output);
  }

 private:
  TranscriptStyle style_;
  std::atomic<std::uint64_t>* bytes_read_;
  std::shared_ptr<const NativeString> title_;  // of the files `converter_` is for
  std::optional<CaptionConverter> converter_;
};

// Converts caption files in the order they are added and reports every
// message in that order from the adding thread. With more than one job the
// files are converted on that many threads, at most kAheadPerJob per thread
// ahead of the oldest message not yet reported.
class Pipeline {
 public:
  Pipeline(const BatchOptions& options, BatchReporter& reporter)
      : options_(options),
        reporter_(reporter),
        limit_(kAheadPerJob * std::size_t{options.jobs}),
        sequential_(options.style, BytesRead()) {
    if (options.jobs <= 1) return;
    workers_.reserve(options.jobs);
    for (unsigned i = 0; i < options.jobs; ++i) {
      try {
        workers_.emplace_back([this] { Work(); });
      } catch (const std::system_error&) {
        // Fewer threads than jobs, or none: the run is the same, only slower.
        break;
      }
    }
  }
  ~Pipeline() {
    queue_.Close();
    for (std::thread& worker : workers_) worker.join();
  }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Adds the conversion of `input`, of `size` bytes, into `output`, for the
  // batch `folder`.
  void Convert(const std::shared_ptr<Folder>& folder, NativeString input, NativeString output,
               std::uint64_t size) {
    if (BatchProgress* progress = options_.progress; progress != nullptr) {
      progress->bytes_found.fetch_add(size);
      progress->files_found.fetch_add(1);
    }
    auto entry = std::make_unique<Entry>();
    entry->folder = folder;
    entry->input = std::move(input);
    if (!folder->transcripts.MayWrite(output, [this] { Finish(); })) {
      entry->result = ConversionResult::kOpenFailed;
      entry->done = true;
    } else {
      entry->output = std::move(output);
      if (workers_.empty()) {
        entry->result = sequential_.Convert(*entry);
        entry->done = true;
      }
    }
    Add(std::move(entry));
  }

  // Adds a message decided now.
  void Tell(BatchMessage message, const NativeString& subject) {
    auto entry = std::make_unique<Entry>();
    entry->message = message;
    entry->subject = subject;
    entry->done = true;
    Add(std::move(entry));
  }

  // Reports every message still to come.
  void Finish() {
    window_.Flush(0, [this](const Entry& entry) { Report(entry); });
  }

 private:
  std::atomic<std::uint64_t>* BytesRead() const {
    return options_.progress != nullptr ? &options_.progress->bytes_read : nullptr;
  }

  void Add(std::unique_ptr<Entry> entry) {
    Entry& added = window_.Add(std::move(entry));
    if (!added.done) queue_.Push(added);
    window_.Flush(limit_, [this](const Entry& done) { Report(done); });
  }

  void Report(const Entry& entry) {
    BatchProgress* progress = options_.progress;
    if (entry.folder == nullptr) {
      reporter_.Report(entry.message, entry.subject);
      if (progress != nullptr && entry.message == BatchMessage::kFilesConverted) {
        progress->folders_done.fetch_add(1);
      }
      return;
    }
    entry.folder->transcripts.Reported(entry.output, entry.result);
    switch (entry.result) {
      case ConversionResult::kConverted:
        break;
      case ConversionResult::kOpenFailed:
        reporter_.Report(BatchMessage::kErrorOpening, entry.input);
        break;
      case ConversionResult::kWriteFailed:
        reporter_.Report(BatchMessage::kErrorWriting, entry.input);
        break;
    }
    if (progress != nullptr) progress->files_done.fetch_add(1);
  }

  // A converting thread: converts the files it takes until the run ends.
  void Work() {
    ConverterCache converter(options_.style, BytesRead());
    const Folder* folder = nullptr;
    while (Entry* entry = queue_.Take(folder)) {
      window_.Complete(*entry, converter.Convert(*entry));
    }
  }

  const BatchOptions options_;
  BatchReporter& reporter_;
  const std::size_t limit_;
  ConverterCache sequential_;  // with one job
  ReportingWindow window_;
  WorkQueue queue_;
  std::vector<std::thread> workers_;  // joined by the destructor
};

enum class Listed { kConverted, kNoCaptionFile, kUnreadable };

// Lists `folder` and adds its caption files to `pipeline`, then its closing
// messages, as RunBatch does; adds nothing when it holds no caption file.
// With `subfolders`, also appends there the names of its sub-folders that are
// not links.
Listed ConvertFolder(const NativeString& folder, Pipeline& pipeline, BatchProgress* progress,
                     std::vector<NativeString>* subfolders) {
  using Scope = platform::DirectoryListing::Scope;
  platform::DirectoryListing listing(folder,
                                     subfolders != nullptr ? Scope::kEverything : Scope::kCaptions);
  std::shared_ptr<Folder> batch;
  NativeString input = folder;
  input += platform::PathSeparator();
  const std::size_t name_start = input.size();
  for (; listing.ok(); listing.Next()) {
    const NativeString& name = listing.name();
    if (subfolders != nullptr && listing.is_directory() && !listing.is_link() &&
        name != platform::FromAscii(".") && name != platform::FromAscii("..")) {
      subfolders->push_back(name);
    }
    if (!HasCaptionExtension(name)) continue;
    if (batch == nullptr) {
      batch = std::make_shared<Folder>();
      batch->title = std::make_shared<const NativeString>(CourseTitleFor(folder));
      if (progress != nullptr) progress->folders_found.fetch_add(1);
    }
    if (listing.is_directory()) continue;
    // The separator is always inserted, even after a folder path that ends in one.
    input.replace(name_start, NativeString::npos, name);
    // A stat per file on POSIX: only when someone watches.
    const std::uint64_t size = progress != nullptr ? listing.size() : 0;
    pipeline.Convert(batch, input, MakeOutputPath(input), size);
  }
  if (batch == nullptr) return listing.failed() ? Listed::kUnreadable : Listed::kNoCaptionFile;
  // Entries after a failed read of the folder were never seen: the folder
  // itself could not be read completely.
  if (listing.failed()) pipeline.Tell(BatchMessage::kErrorOpening, folder);
  pipeline.Tell(BatchMessage::kFilesConverted, folder);
  return Listed::kConverted;
}

// `folder` and `name` joined by one separator.
NativeString Join(const NativeString& folder, const NativeString& name) {
  NativeString path = folder;
  if (path.empty() || path.back() != platform::PathSeparator()) path += platform::PathSeparator();
  return path += name;
}

}  // namespace

void RunBatch(const NativeString& folder, TranscriptStyle style, BatchReporter& reporter) {
  BatchOptions options;
  options.style = style;
  RunBatches(folder, options, reporter);
}

void RunBatches(const NativeString& folder, const BatchOptions& options, BatchReporter& reporter) {
  if (folder.empty()) {
    reporter.Report(BatchMessage::kSelectFolderFirst, folder);
    return;
  }
  Pipeline pipeline(options, reporter);
  if (!options.recursive) {
    // Also when reading the folder failed before any caption file was found.
    if (ConvertFolder(folder, pipeline, options.progress, nullptr) != Listed::kConverted) {
      pipeline.Tell(BatchMessage::kNoCaptionFiles, folder);
    }
    pipeline.Finish();
    return;
  }
  // Depth first: the folders still to list, the next one last.
  std::vector<NativeString> pending = {folder};
  std::vector<NativeString> subfolders;
  bool any_batch = false;
  bool root_told = false;
  while (!pending.empty()) {
    const NativeString current = std::move(pending.back());
    pending.pop_back();
    subfolders.clear();
    switch (ConvertFolder(current, pipeline, options.progress, &subfolders)) {
      case Listed::kConverted:
        any_batch = true;
        break;
      case Listed::kUnreadable:
        pipeline.Tell(BatchMessage::kNoCaptionFiles, current);
        root_told = root_told || current == folder;
        break;
      case Listed::kNoCaptionFile:
        break;
    }
    std::sort(subfolders.begin(), subfolders.end(), std::greater<>());
    for (const NativeString& name : subfolders) pending.push_back(Join(current, name));
  }
  if (!any_batch && !root_told) pipeline.Tell(BatchMessage::kNoCaptionFiles, folder);
  pipeline.Finish();
}

}  // namespace orvane
