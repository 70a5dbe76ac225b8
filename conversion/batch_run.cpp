#include "conversion/batch_run.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "conversion/conversion.h"

namespace orvane {
namespace {

CourseTitle CourseTitleFor(const NativeString& folder) {
  NativeString course = folder;
  platform::RemoveLastComponent(course);
  platform::RemoveLastComponent(course);
  if (platform::LastComponent(course).find(platform::FromAscii("__")) == NativeString::npos) {
    return {};
  }
  return FindCourseTitle(course);
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

namespace {

// Files listed ahead of the oldest message not yet reported, per thread: few
// enough to keep memory small, enough that the files of the next folders of a
// tree are waiting while the last ones of a folder are converted.
constexpr std::size_t kAheadPerJob = 64;

// Folders of the walk above the one being listed that stay open; those
// further up are opened again through ".." when the walk comes back to them.
constexpr std::size_t kOpenLevels = 8;
// Batches whose folders stay open for their files in flight: past it, the
// run waits for the oldest files before it opens another folder.
constexpr long kOpenBatches = 16;
// Descriptors kept for everything but the converting threads: the standard
// streams, the walk, the batches, a listing, a course manifest, and the
// front end's own.
constexpr std::uint64_t kReservedDescriptors = 3 + kOpenLevels + kOpenBatches + 4 + 16;
// Descriptors a converting thread holds at once: its caption and its transcript.
constexpr std::uint64_t kDescriptorsPerJob = 2;

// The path of `name` in the folder at `folder`, for messages: the separator is
// always inserted, even after a folder path that ends in one.
NativeString InFolder(const NativeString& folder, const NativeString& name) {
  NativeString path = folder;
  path += platform::PathSeparator();
  return path += name;
}

// The transcript names of one folder's caption files, the one place that
// decides which caption may write a name. Captions whose names differ only in
// the case of their extension share one transcript name: the first of them
// that writes it keeps it, and each later one fails with kOpenFailed rather
// than replace it. Names are held as 64-bit hashes, so that a folder of any
// size costs little: two names of one hash, a chance of about one in 10^9 in
// a folder of 100,000 captions, would refuse the later one as a twin. Used by
// the thread that lists and reports only.
class TranscriptPaths {
 public:
  // True when the caption file listed now may write `output`. For a name
  // listed before, whether an earlier file wrote it is known only once every
  // earlier file is reported: `report_earlier` is called to report them first.
  template <class ReportEarlier>
  bool MayWrite(const NativeString& output, ReportEarlier report_earlier) {
    const std::size_t hash = Hash(output);
    if (listed_.insert(hash).second) return true;
    report_earlier();
    return written_.count(hash) == 0;
  }
  // Takes note, as it is reported, of the `result` of a file that may write `output`.
  void Reported(const NativeString& output, ConversionResult result) {
    if (result == ConversionResult::kConverted) written_.insert(Hash(output));
  }

 private:
  static_assert(sizeof(std::size_t) == 8, "hashes of 64 bits");
  static std::size_t Hash(const NativeString& name) { return std::hash<NativeString>{}(name); }

  std::unordered_set<std::size_t> listed_;   // the transcript names listed so far
  std::unordered_set<std::size_t> written_;  // of them, those written by the run
};

// One folder converted as a batch. Its files are opened relative to `folder`,
// never by their paths, which serve the messages only.
struct Batch {
  NativeString path;
  std::shared_ptr<const platform::Folder> folder;  // read by the converting threads too
  std::shared_ptr<const CourseTitle> title;        // likewise
  TranscriptPaths transcripts;
};

// One message of a run, in listing order: the conversion of a caption file,
// whose message is known once it is converted, or a message decided at once.
struct Entry {
  std::shared_ptr<Batch> batch;  // for a caption file
  NativeString input;            // its name in the batch's folder
  NativeString output;  // the transcript's name; empty when the caption file may not write it
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

  // The entries not yet reported.
  std::size_t size() const { return entries_.size(); }

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
  Entry* Take(const Batch*& folder) {
    std::unique_lock lock(mutex_);
    const Batch* last = std::exchange(folder, nullptr);
    if (last != nullptr) busy_.erase(std::find(busy_.begin(), busy_.end(), last));
    ++idle_;
    work_.wait(lock, [this] { return !waiting_.empty() || closed_; });
    --idle_;
    if (waiting_.empty()) return nullptr;
    const auto next = NextFor(last);
    Entry* entry = *next;
    waiting_.erase(next);
    folder = entry->batch.get();
    busy_.push_back(folder);
    return entry;
  }

 private:
  // Threads in folders of their own do not queue on one folder's lock in the
  // kernel when they create and rename transcripts.
  std::deque<Entry*>::iterator NextFor(const Batch* last) {
    const auto busy = [this](const Batch* folder) {
      return std::find(busy_.begin(), busy_.end(), folder) != busy_.end();
    };
    auto free = waiting_.end();
    for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
      const Batch* folder = (*it)->batch.get();
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
  std::condition_variable work_;    // a file waits, or the queue is closed
  std::deque<Entry*> waiting_;      // files not yet taken by a thread
  std::vector<const Batch*> busy_;  // the folder of each file being converted
  unsigned idle_ = 0;               // threads waiting for a file
  bool closed_ = false;
};

// A thread's converter, kept from file to file of one title so that its
// buffers are reused, and made anew when the title changes.
class ConverterCache {
 public:
  // Converts as `options` say, counting the bytes read in `bytes_read` when
  // not null.
  ConverterCache(const BatchOptions& options, std::atomic<std::uint64_t>* bytes_read)
      : options_(options), bytes_read_(bytes_read) {}

  // Converts the caption file of `entry` with its folder's title.
  ConversionResult Convert(const Entry& entry) {
    const std::shared_ptr<const CourseTitle>& title = entry.batch->title;
    if (title_ != title) {
      converter_.emplace(*title, options_.style);
      converter_->CountBytesIn(bytes_read_);
      if (options_.html) {
        converter_->WritePages(options_.style == TranscriptStyle::kTimedParagraphs,
                               options_.language);
      }
      title_ = title;
    }
    return converter_->Convert(*entry.batch->folder, entry.input, entry.output);
  }

 private:
  const BatchOptions& options_;
  std::atomic<std::uint64_t>* bytes_read_;
  std::shared_ptr<const CourseTitle> title_;  // of the files `converter_` is for
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
        jobs_(options.list_only ? 1 : JobsWithin(options.jobs, platform::OpenFilesLimit())),
        limit_(kAheadPerJob * std::size_t{jobs_}),
        sequential_(options_, BytesRead()) {
    if (jobs_ <= 1) return;
    workers_.reserve(jobs_);
    for (unsigned i = 0; i < jobs_; ++i) {
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

  // Adds the conversion of `input`, of `size` bytes, into `output`, both
  // names in the folder of `batch`.
  void Convert(const std::shared_ptr<Batch>& batch, NativeString input, NativeString output,
               std::uint64_t size) {
    if (BatchProgress* progress = options_.progress; progress != nullptr) {
      progress->bytes_found.fetch_add(size);
      progress->files_found.fetch_add(1);
    }
    auto entry = std::make_unique<Entry>();
    entry->batch = batch;
    entry->input = std::move(input);
    if (options_.list_only) {
      entry->done = true;
    } else if (!batch->transcripts.MayWrite(output, [this] { Finish(); })) {
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

  // Whether the run converts SubRip and SBV files too.
  bool all_formats() const { return options_.all_formats; }

  // A new batch, counted as open until the last of its files is reported.
  std::shared_ptr<Batch> NewBatch() {
    ++open_batches_;
    return std::shared_ptr<Batch>(new Batch, [this](const Batch* batch) {
      --open_batches_;
      delete batch;
    });
  }

  // Reports the oldest files, waiting for them, until fewer than
  // kOpenBatches batches hold their folders open.
  void MakeRoomForBatch() {
    while (open_batches_ >= kOpenBatches && window_.size() > 0) {
      window_.Flush(window_.size() - 1, [this](const Entry& entry) { Report(entry); });
    }
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
    if (entry.batch == nullptr) {
      reporter_.Report(entry.message, entry.subject);
      if (progress != nullptr && entry.message == BatchMessage::kFilesConverted) {
        progress->folders_done.fetch_add(1);
      }
      return;
    }
    entry.batch->transcripts.Reported(entry.output, entry.result);
    reporter_.File(entry.batch->path, entry.input, entry.result);
    switch (entry.result) {
      case ConversionResult::kConverted:
        break;
      case ConversionResult::kOpenFailed:
        reporter_.Report(BatchMessage::kErrorOpening, InFolder(entry.batch->path, entry.input));
        break;
      case ConversionResult::kWriteFailed:
        reporter_.Report(BatchMessage::kErrorWriting, InFolder(entry.batch->path, entry.input));
        break;
    }
    if (progress != nullptr) progress->files_done.fetch_add(1);
  }

  // A converting thread: converts the files it takes until the run ends.
  void Work() {
    ConverterCache converter(options_, BytesRead());
    const Batch* folder = nullptr;
    while (Entry* entry = queue_.Take(folder)) {
      window_.Complete(*entry, converter.Convert(*entry));
    }
  }

  // `jobs`, or fewer when the descriptors a process may hold would not do for
  // them: fewer files in flight rather than files that fail to open.
  static unsigned JobsWithin(unsigned jobs, std::uint64_t descriptors) {
    const std::uint64_t spare =
        descriptors > kReservedDescriptors ? descriptors - kReservedDescriptors : 0;
    return static_cast<unsigned>(
        std::clamp<std::uint64_t>(spare / kDescriptorsPerJob, 1, std::max(jobs, 1u)));
  }

  const BatchOptions options_;
  BatchReporter& reporter_;
  const unsigned jobs_;
  const std::size_t limit_;
  ConverterCache sequential_;          // with one job
  std::atomic<long> open_batches_{0};  // before the window, whose entries hold batches
  ReportingWindow window_;
  WorkQueue queue_;
  std::vector<std::thread> workers_;  // joined by the destructor
};

enum class Listed { kConverted, kNoCaptionFile, kUnreadable };

// A sub-folder found by a walk, not yet entered.
struct Subfolder {
  NativeString name;
  platform::FileId id;  // as listed: a folder put in its place is not entered
};

// Lists the open folder `folder`, at `path`, and adds its caption files to
// `pipeline`, then its closing messages, as RunBatch does; adds nothing when
// it holds no caption file. With `subfolders`, also appends there its
// sub-folders that are not links. Removes stale temporary files of earlier
// runs as it lists.
// With every format asked for, the folder is listed once per format that it
// holds, WebVTT first, then SubRip, then SBV: a caption file whose transcript
// a file of an earlier format gives is passed over without a message, which
// its name alone decides, before anything is read.
Listed ConvertFolder(const std::shared_ptr<const platform::Folder>& folder,
                     const NativeString& path, Pipeline& pipeline, BatchProgress* progress,
                     std::vector<Subfolder>* subfolders) {
  using Scope = platform::DirectoryListing::Scope;
  const bool all_formats = pipeline.all_formats();
  const Scope scope = subfolders != nullptr || all_formats ? Scope::kEverything : Scope::kCaptions;
  std::shared_ptr<Batch> batch;
  bool failed = false;
  // The transcripts that files of the formats listed before give, by hash.
  std::unordered_set<std::size_t> taken;
  std::unordered_set<std::size_t> taken_now;
  bool held[3] = {true, false, false};  // the formats the folder holds
  for (const CaptionFormat pass :
       {CaptionFormat::kWebVtt, CaptionFormat::kSubRip, CaptionFormat::kSbv}) {
    if (!held[static_cast<int>(pass)]) continue;
    const bool first = pass == CaptionFormat::kWebVtt;
    platform::DirectoryListing listing(*folder, scope);
    for (; listing.ok(); listing.Next()) {
      const NativeString& name = listing.name();
      if (first && subfolders != nullptr && listing.is_directory() && !listing.is_link() &&
          name != platform::FromAscii(".") && name != platform::FromAscii("..")) {
        subfolders->push_back({name, listing.folder_id()});
      }
      const std::optional<CaptionFormat> format = CaptionFormatOfName(name);
      if (!format || (!all_formats && *format != CaptionFormat::kWebVtt)) {
        if (first) platform::RemoveStaleTemporary(*folder, name);
        continue;
      }
      if (*format != pass) {
        held[static_cast<int>(*format)] = true;
        continue;
      }
      NativeString output = MakeOutputPath(name);
      if (all_formats && !listing.is_directory()) {
        const std::size_t key = std::hash<NativeString>{}(output);
        if (taken.count(key) != 0) continue;
        taken_now.insert(key);
      }
      if (batch == nullptr) {
        pipeline.MakeRoomForBatch();
        batch = pipeline.NewBatch();
        batch->path = path;
        batch->folder = folder;
        batch->title = std::make_shared<const CourseTitle>(CourseTitleFor(path));
        if (progress != nullptr) progress->folders_found.fetch_add(1);
      }
      if (listing.is_directory()) continue;
      // A stat per file on POSIX: only when someone watches.
      const std::uint64_t size = progress != nullptr ? listing.size() : 0;
      pipeline.Convert(batch, name, std::move(output), size);
    }
    failed = failed || listing.failed();
    taken.insert(taken_now.begin(), taken_now.end());
    taken_now.clear();
  }
  if (batch == nullptr) return failed ? Listed::kUnreadable : Listed::kNoCaptionFile;
  // Entries after a failed read of the folder were never seen: the folder
  // itself could not be read completely.
  if (failed) pipeline.Tell(BatchMessage::kErrorOpening, path);
  pipeline.Tell(BatchMessage::kFilesConverted, path);
  return Listed::kConverted;
}

// `folder` and `name` joined by one separator.
NativeString Join(const NativeString& folder, const NativeString& name) {
  NativeString path = folder;
  if (path.empty() || path.back() != platform::PathSeparator()) path += platform::PathSeparator();
  return path += name;
}

// A folder of a depth-first walk, with the sub-folders it has yet to enter.
struct Level {
  std::shared_ptr<const platform::Folder> folder;  // null while closed to spare descriptors
  NativeString path;
  platform::FileId id;
  std::vector<Subfolder> subfolders;  // the next one last
};

// Ends the walk's last level. The level above it, closed to spare
// descriptors, is opened again through ".." of the one left, and only when it
// is the folder it was; otherwise the rest of it is not walked and it is
// reported with kErrorOpening.
void Leave(std::vector<Level>& levels, Pipeline& pipeline) {
  const Level left = std::move(levels.back());
  levels.pop_back();
  if (levels.empty() || levels.back().folder != nullptr) return;
  Level& parent = levels.back();
  auto folder = std::make_shared<platform::Folder>();
  if (left.folder != nullptr && folder->OpenParent(*left.folder, parent.id)) {
    parent.folder = std::move(folder);
  } else if (!parent.subfolders.empty()) {
    parent.subfolders.clear();
    pipeline.Tell(BatchMessage::kErrorOpening, parent.path);
  }
}

// Walks the tree under the open folder `root` at `path` depth first, by
// folder handles: a sub-folder is opened relative to its parent, without
// following links, and only when it is still the folder listed. Tells
// kNoCaptionFiles for a folder that cannot be read. Returns whether any
// folder held caption files, and `root_told` whether the root was unreadable.
bool WalkTree(std::shared_ptr<const platform::Folder> root, const NativeString& path,
              Pipeline& pipeline, BatchProgress* progress, bool& root_told) {
  std::vector<Level> levels;
  levels.push_back({std::move(root), path, {}, {}});
  levels.back().id = levels.back().folder->id();
  bool any_batch = false;
  for (bool list = true; !levels.empty();) {
    Level& level = levels.back();
    if (list) {
      switch (ConvertFolder(level.folder, level.path, pipeline, progress, &level.subfolders)) {
        case Listed::kConverted:
          any_batch = true;
          break;
        case Listed::kUnreadable:
          pipeline.Tell(BatchMessage::kNoCaptionFiles, level.path);
          root_told = root_told || levels.size() == 1;
          break;
        case Listed::kNoCaptionFile:
          break;
      }
      std::sort(level.subfolders.begin(), level.subfolders.end(),
                [](const Subfolder& a, const Subfolder& b) { return a.name > b.name; });
    }
    list = false;
    if (level.subfolders.empty()) {
      Leave(levels, pipeline);
      continue;
    }
    const Subfolder next = std::move(level.subfolders.back());
    level.subfolders.pop_back();
    NativeString next_path = Join(level.path, next.name);
    auto child = std::make_shared<platform::Folder>();
    // Gone, unreadable, or replaced by a link or another folder since it was
    // listed: not entered.
    if (!child->OpenChild(*level.folder, next.name, next.id)) {
      pipeline.Tell(BatchMessage::kNoCaptionFiles, next_path);
      continue;
    }
    if (levels.size() > kOpenLevels) levels[levels.size() - 1 - kOpenLevels].folder.reset();
    levels.push_back({std::move(child), std::move(next_path), next.id, {}});
    list = true;
  }
  return any_batch;
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
  auto root = std::make_shared<platform::Folder>();
  const bool opened = root->Open(folder);
  if (!options.recursive) {
    // Also when reading the folder failed before any caption file was found.
    if (!opened ||
        ConvertFolder(root, folder, pipeline, options.progress, nullptr) != Listed::kConverted) {
      pipeline.Tell(BatchMessage::kNoCaptionFiles, folder);
    }
    pipeline.Finish();
    return;
  }
  bool root_told = false;
  if (!opened) {
    pipeline.Tell(BatchMessage::kNoCaptionFiles, folder);
  } else if (!WalkTree(std::move(root), folder, pipeline, options.progress, root_told) &&
             !root_told) {
    pipeline.Tell(BatchMessage::kNoCaptionFiles, folder);
  }
  pipeline.Finish();
}

void ConvertListed(const NativeString& folder, std::span<const NativeString> names,
                   const BatchOptions& options, BatchReporter& reporter) {
  auto opened = std::make_shared<platform::Folder>();
  if (!opened->Open(folder)) {
    for (const NativeString& name : names) {
      reporter.File(folder, name, ConversionResult::kOpenFailed);
      reporter.Report(BatchMessage::kErrorOpening, InFolder(folder, name));
    }
    return;
  }
  BatchOptions converting = options;
  converting.list_only = false;
  Pipeline pipeline(converting, reporter);
  std::shared_ptr<Batch> batch = pipeline.NewBatch();
  batch->path = folder;
  batch->folder = std::move(opened);
  batch->title = std::make_shared<const CourseTitle>(CourseTitleFor(folder));
  for (const NativeString& name : names) {
    pipeline.Convert(batch, name, MakeOutputPath(name), 0);
  }
  batch.reset();
  pipeline.Finish();
}

}  // namespace orvane
