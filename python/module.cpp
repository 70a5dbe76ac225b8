// orvane._orvane: the compiled functions under the Python module orvane.
// They take arguments already checked and put in plain form by
// orvane/__init__.py (styles and formats as numbers, paths as bytes), convert
// with the interpreter lock released, and return plain values; that module
// turns them into the results and exceptions its callers see.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "conversion/batch_run.h"
#include "conversion/converter.h"
#include "conversion/cue_list.h"
#include "conversion/naming.h"
#include "conversion/page.h"
#include "conversion/sources.h"

namespace py = pybind11;

namespace orvane {
namespace {

TranscriptStyle StyleOf(int style) {
  switch (style) {
    case 1:
      return TranscriptStyle::kClean;
    case 2:
      return TranscriptStyle::kParagraphs;
    case 3:
      return TranscriptStyle::kTimedParagraphs;
    default:
      return TranscriptStyle::kDefault;
  }
}

// -1 stands for "as the file's name says".
std::optional<CaptionFormat> FormatOf(int format) {
  if (format < 0) return std::nullopt;
  return static_cast<CaptionFormat>(format);
}

// The bytes of a buffer, held while the lock is released: a bytearray whose
// buffer is held cannot be resized meanwhile.
class HeldBytes {
 public:
  explicit HeldBytes(const py::buffer& buffer) : info_(buffer.request()) {
    if (info_.ndim > 1 || info_.itemsize != 1) {
      throw py::type_error("caption bytes must be a flat buffer of bytes");
    }
  }
  std::string_view view() const {
    return {static_cast<const char*>(info_.ptr), static_cast<std::size_t>(info_.size)};
  }

 private:
  py::buffer_info info_;
};

// A converter kept per thread for the style, title and format last asked
// for, so that a call per small file does not make its buffers anew.
CaptionConverter& ConverterFor(int style, const std::string& title, int format) {
  struct Cached {
    int style = -2;
    std::string title;
    int format = -2;
    std::unique_ptr<CaptionConverter> converter;
  };
  thread_local Cached cached;
  if (cached.converter == nullptr || cached.style != style || cached.title != title ||
      cached.format != format) {
    cached.converter.reset();
    cached.converter = std::make_unique<CaptionConverter>(title, StyleOf(style));
    const std::optional<CaptionFormat> forced = FormatOf(format);
    cached.converter->set_stream_format(forced.value_or(CaptionFormat::kWebVtt));
    cached.converter->set_file_format(forced);
    cached.style = style;
    cached.title = title;
    cached.format = format;
  }
  return *cached.converter;
}

py::bytes ToBytes(const std::string& text) { return {text.data(), text.size()}; }

// (result, transcript): the transcript of caption bytes held in memory.
std::tuple<int, py::bytes> TranscriptOfBytes(const py::buffer& captions, int style,
                                             const std::string& title, int format) {
  const HeldBytes bytes(captions);
  StringSink sink;
  ConversionResult result;
  {
    py::gil_scoped_release unlocked;
    result = ConverterFor(style, title, format).ConvertBytes(bytes.view(), sink);
  }
  return {static_cast<int>(result), ToBytes(sink.text)};
}

// (result, transcript): the transcript of a caption file, read as it is converted.
std::tuple<int, py::bytes> TranscriptOfFile(const std::string& path, int style,
                                            const std::string& title, int format) {
  StringSink sink;
  ConversionResult result;
  {
    py::gil_scoped_release unlocked;
    result = ConverterFor(style, title, format).ConvertToSink(path, sink);
  }
  return {static_cast<int>(result), ToBytes(sink.text)};
}

int ConvertFile(const std::string& source, const std::string& target, int style,
                const std::string& title, int format) {
  py::gil_scoped_release unlocked;
  return static_cast<int>(ConverterFor(style, title, format).Convert(source, target));
}

py::str Utf8(const std::string& text) {
  PyObject* object =
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  if (object == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(object);
}

// The cues of caption bytes, each made by `make_cue(start, end, lines)`, each
// line by `make_line(text, speaker)`, speaker None when nobody is named.
py::list Cues(const py::buffer& captions, int format, const py::object& make_cue,
              const py::object& make_line) {
  const HeldBytes bytes(captions);
  std::vector<CueListEntry> cues;
  {
    py::gil_scoped_release unlocked;
    cues = ReadCueList(bytes.view(), FormatOf(format).value_or(CaptionFormat::kWebVtt));
  }
  py::list list(cues.size());
  std::size_t at = 0;
  for (const CueListEntry& cue : cues) {
    py::list lines(cue.lines.size());
    std::size_t line_at = 0;
    for (const CueListLine& line : cue.lines) {
      lines[line_at++] =
          make_line(Utf8(line.text),
                    line.speaker.empty() ? py::object(py::none()) : py::object(Utf8(line.speaker)));
    }
    list[at++] = make_cue(static_cast<double>(cue.timing.start) / 1000.0,
                          static_cast<double>(cue.timing.end) / 1000.0, std::move(lines));
  }
  return list;
}

// One event of a run, in its order: a caption file ("file", folder, name,
// result, message or "") or a folder message ("folder", folder, "", message
// number, message).
using Event = std::tuple<std::string, std::string, std::string, int, std::string>;

// Keeps a run's events; a file's failure message is added to its event.
class EventRecorder : public BatchReporter {
 public:
  void File(const NativeString& folder, const NativeString& name,
            ConversionResult result) override {
    events_.emplace_back("file", folder, name, static_cast<int>(result), std::string());
  }
  void Report(BatchMessage message, const NativeString& subject) override {
    if (!events_.empty() && std::get<0>(events_.back()) == "file" &&
        std::get<4>(events_.back()).empty() &&
        std::get<3>(events_.back()) != static_cast<int>(ConversionResult::kConverted) &&
        subject == std::get<1>(events_.back()) + '/' + std::get<2>(events_.back())) {
      std::get<4>(events_.back()) = MessageText(message, subject);
      return;
    }
    events_.emplace_back("folder", subject, std::string(), static_cast<int>(message),
                         MessageText(message, subject));
  }
  std::vector<Event> Take() { return std::move(events_); }

 private:
  std::vector<Event> events_;
};

py::list ToList(const std::vector<Event>& events) {
  py::list list(events.size());
  std::size_t at = 0;
  for (const auto& [kind, folder, name, number, message] : events) {
    list[at++] = py::make_tuple(kind, py::bytes(folder), py::bytes(name), number, message);
  }
  return list;
}

BatchOptions OptionsOf(int style, bool html, bool all_formats, bool recursive, unsigned jobs,
                       const std::string& language) {
  BatchOptions options;
  options.style = StyleOf(style);
  options.html = html;
  options.all_formats = all_formats;
  options.recursive = recursive;
  options.jobs = jobs;
  options.language = language;
  return options;
}

py::list ConvertFolder(const std::string& folder, int style, bool html, bool all_formats,
                       bool recursive, unsigned jobs, const std::string& language, bool list_only) {
  BatchOptions options = OptionsOf(style, html, all_formats, recursive, jobs, language);
  options.list_only = list_only;
  EventRecorder recorder;
  {
    py::gil_scoped_release unlocked;
    RunBatches(folder, options, recorder);
  }
  return ToList(recorder.Take());
}

py::list ConvertListedFiles(const std::string& folder, const std::vector<std::string>& names,
                            int style, bool html, bool all_formats, unsigned jobs,
                            const std::string& language) {
  const BatchOptions options = OptionsOf(style, html, all_formats, false, jobs, language);
  EventRecorder recorder;
  {
    py::gil_scoped_release unlocked;
    ConvertListed(folder, names, options, recorder);
  }
  return ToList(recorder.Take());
}

}  // namespace
}  // namespace orvane

PYBIND11_MODULE(_orvane, module) {
  using namespace orvane;
  module.doc() = "The compiled part of orvane; use the functions of orvane itself.";
  module.def("transcript_of_bytes", &TranscriptOfBytes);
  module.def("transcript_of_file", &TranscriptOfFile);
  module.def("convert_file", &ConvertFile);
  module.def("cues", &Cues);
  module.def("convert_folder", &ConvertFolder);
  module.def("convert_listed", &ConvertListedFiles);
  module.def("transcript_name", [](const std::string& name) {
    return py::bytes(MakeOutputPath(std::string_view(name)));
  });
  module.def("language_tag", [](const std::string& tag) { return IsLanguageTag(tag); });
  module.def("user_language", [] { return LanguageOfLocale(platform::UserLocaleName()); });
  module.attr("CONVERTED") = static_cast<int>(ConversionResult::kConverted);
  module.attr("OPEN_FAILED") = static_cast<int>(ConversionResult::kOpenFailed);
  module.attr("WRITE_FAILED") = static_cast<int>(ConversionResult::kWriteFailed);
  module.attr("NO_CAPTION_FILES") = static_cast<int>(BatchMessage::kNoCaptionFiles);
  module.attr("ERROR_OPENING") = static_cast<int>(BatchMessage::kErrorOpening);
  module.attr("FILES_CONVERTED") = static_cast<int>(BatchMessage::kFilesConverted);
}
