#include "conversion/batch_run.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
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

// One folder converted as a batch, as the reporting thread sees it.
struct Folder {
  NativeString path;
  std::shared_ptr<const NativeString> title;  // read by the converting threads too
  std::set<NativeString> listed;              // transcript paths of its caption files so far
  std::set<NativeString> written;             // of them, those written by the run
};

// One message of the run, in listing order: the conversion of a caption file,
// whose message is known once it is done, or a message decided at once.
struct Item {
  std::shared_ptr<Folder> folder;  // for a caption file
  std::shared_ptr<const NativeString> title;
  NativeString input;
  NativeString output;
  ConversionResult result = ConversionResult::kConverted;
  BatchMessage message = BatchMessage::kFilesConverted;  // when not a caption file
  NativeString subject;
  bool done = false;
};

// Converts caption files in the order they are added and reports every
// message in that order from the adding thread. With more than one job the
// files are converted on that many threads, at most a few per thread ahead of
// the oldest message not yet reported.
class Pipeline {
 public:
  Pipeline(const BatchOptions& options, BatchReporter& reporter)
      : options_(options), reporter_(reporter), limit_(kAheadPerJob * std::size_t{options.jobs}) {
    if (options.jobs <= 1) return;
    for (unsigned i = 0; i < options.jobs; ++i) workers_.emplace_back([this] { Work(); });
  }
  ~Pipeline() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    work_.notify_all();
  }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Adds the conversion of `input` into `output`, for the batch `folder`.
  void Convert(const std::shared_ptr<Folder>& folder, NativeString input, NativeString output) {
    if (options_.progress != nullptr) options_.progress->files_found.fetch_add(1);
    auto item = std::make_unique<Item>();
    item->folder = folder;
    item->title = folder->title;
    // Captions whose names differ only in case share a transcript path: the
    // first one that writes it keeps it, and which one that is is known once
    // the earlier ones are done.
    if (!folder->listed.insert(output).second) {
      Flush(0);
      if (folder->written.count(output) != 0) {
        item->input = std::move(input);
        item->result = ConversionResult::kOpenFailed;
        item->done = true;
        Add(std::move(item));
        return;
      }
    }
    item->input = std::move(input);
    item->output = std::move(output);
    if (workers_.empty()) {
      item->result = Run(sequential_, *item);
      item->done = true;
    }
    Add(std::move(item));
  }

  // Adds a message decided now.
  void Tell(BatchMessage message, const NativeString& subject) {
    auto item = std::make_unique<Item>();
    item->message = message;
    item->subject = subject;
    item->done = true;
    Add(std::move(item));
  }

  // Reports every message still to come.
  void Finish() { Flush(0); }

 private:
  // A converter for the files of one title, made anew when the title changes.
  struct Converter {
    std::shared_ptr<const NativeString> title;
    std::optional<CaptionConverter> converter;
  };

  ConversionResult Run(Converter& converter, const Item& item) {
    if (converter.title != item.title) {
      converter.converter.emplace(*item.title, options_.style);
      if (options_.progress != nullptr) {
        converter.converter->CountBytesIn(&options_.progress->bytes_read);
      }
      converter.title = item.title;
    }
    return converter.converter->Convert(item.input, item.output);
  }

  void Add(std::unique_ptr<Item> item) {
    bool wake = false;
    {
      const std::lock_guard lock(mutex_);
      if (!item->done) {
        queue_.push_back(item.get());
        wake = idle_ > 0;  // a busy thread takes the file when it is done
      }
      window_.push_back(std::move(item));
    }
    if (wake) work_.notify_one();
    Flush(limit_);
  }

  // Reports the messages at the front that are done, then waits for more
  // until at most `keep` remain.
  void Flush(std::size_t keep) {
    std::unique_lock lock(mutex_);
    while (!window_.empty()) {
      Item& front = *window_.front();
      if (!front.done) {
        if (window_.size() <= keep) break;
        waiting_ = true;
        done_.wait(lock, [&front] { return front.done; });
        waiting_ = false;
      }
      const std::unique_ptr<Item> item = std::move(window_.front());
      window_.pop_front();
      lock.unlock();
      Report(*item);
      lock.lock();
    }
  }

  void Report(const Item& item) {
    BatchProgress* progress = options_.progress;
    if (item.folder == nullptr) {
      reporter_.Report(item.message, item.subject);
      if (progress != nullptr && item.message == BatchMessage::kFilesConverted) {
        progress->folders_done.fetch_add(1);
      }
      return;
    }
    switch (item.result) {
      case ConversionResult::kConverted:
        item.folder->written.insert(item.output);
        break;
      case ConversionResult::kOpenFailed:
        reporter_.Report(BatchMessage::kErrorOpening, item.input);
        break;
      case ConversionResult::kWriteFailed:
        reporter_.Report(BatchMessage::kErrorWriting, item.input);
        break;
    }
    if (progress != nullptr) progress->files_done.fetch_add(1);
  }

  // The waiting file a thread that last converted in `last` takes next: the
  // oldest of that folder while no other thread works there, else the oldest
  // of a folder where no thread works, else the oldest. Threads in folders
  // of their own do not queue on one folder's lock in the kernel when they
  // create and rename transcripts.
  std::deque<Item*>::iterator NextFor(const Folder* last) {
    const auto busy = [this](const Folder* folder) {
      return std::find(busy_.begin(), busy_.end(), folder) != busy_.end();
    };
    auto free = queue_.end();
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
      const Folder* folder = (*it)->folder.get();
      if (busy(folder)) continue;
      if (folder == last) return it;
      if (free == queue_.end()) free = it;
    }
    return free != queue_.end() ? free : queue_.begin();
  }

  // A converting thread: takes waiting files (see NextFor) until the run ends.
  void Work() {
    Converter converter;
    const Folder* last = nullptr;
    std::unique_lock lock(mutex_);
    for (;;) {
      ++idle_;
      work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      --idle_;
      if (queue_.empty()) return;
      const auto next = NextFor(last);
      Item* item = *next;
      queue_.erase(next);
      last = item->folder.get();
      busy_.push_back(last);
      lock.unlock();
      const ConversionResult result = Run(converter, *item);
      lock.lock();
      busy_.erase(std::find(busy_.begin(), busy_.end(), last));
      item->result = result;
      item->done = true;
      if (waiting_) done_.notify_one();
    }
  }

  const BatchOptions options_;
  BatchReporter& reporter_;
  const std::size_t limit_;
  Converter sequential_;
  std::mutex mutex_;
  std::condition_variable work_;  // a file waits, or the run ends
  std::condition_variable done_;  // a file is done
  std::deque<std::unique_ptr<Item>> window_;
  std::deque<Item*> queue_;          // files not yet taken by a thread
  std::vector<const Folder*> busy_;  // the folder of each file being converted
  bool stopping_ = false;
  unsigned idle_ = 0;                  // threads waiting for a file
  bool waiting_ = false;               // the reporting thread waits for a file to be done
  std::vector<std::jthread> workers_;  // last: joined before the rest goes
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
      batch->path = folder;
      batch->title = std::make_shared<const NativeString>(CourseTitleFor(folder));
      if (progress != nullptr) progress->folders_found.fetch_add(1);
    }
    if (listing.is_directory()) continue;
    // The separator is always inserted, even after a folder path that ends in one.
    input.replace(name_start, NativeString::npos, name);
    pipeline.Convert(batch, input, MakeOutputPath(input));
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
