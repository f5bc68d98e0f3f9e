// tabfetch-admin view EXTRACT SECTION [--csv]: an extract file split into
// its records by the section's record layout, as a table or as CSV.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_main.h"
#include "admin/admin_text.h"
#include "admin/command_support.h"
#include "admin/commands.h"
#include "admin/definition_check.h"
#include "admin/extract_view.h"
#include "common/file_util.h"
#include "common/path_resolve.h"
#include "extract/field_format.h"
#include "querydef/query_definition.h"

namespace admin {
namespace {

// An extract file read in blocks.
class ExtractStream {
 public:
  explicit ExtractStream(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)),
        error_(fd_.valid() ? 0 : errno),
        block_(kBlockSize, '\0') {}

  // The next block; false at the end of the file or on an error (error()).
  bool Next() {
    if (error_ != 0) return false;
    for (;;) {
      const ssize_t got = ::read(fd_.get(), block_.data(), block_.size());
      if (got > 0) {
        size_ = static_cast<std::size_t>(got);
        return true;
      }
      if (got == 0) return false;
      if (errno != EINTR) {
        error_ = errno;
        return false;
      }
    }
  }
  std::string_view block() const {
    return std::string_view(block_.data(), size_);
  }
  int error() const { return error_; }

 private:
  static constexpr std::size_t kBlockSize = 1 << 16;
  common::UniqueFd fd_;
  int error_;
  std::string block_;
  std::size_t size_ = 0;
};

}  // namespace

int RunView(const Args& args, std::FILE* out, std::FILE* err) {
  const std::string& extract_path = args.positional[0];
  const std::string& section = args.positional[1];
  LoadedDefinition loaded;
  if (!LoadDefinitionFile(args, section, loaded, err)) return kExitError;
  querydef::QueryDefinition def;
  extract::ClearColumnDefinitions(def.columns);
  const querydef::TerminalName sample{kSampleTerminal, kSampleTerminal, {}};
  // The terminal name does not change the layout; a refused one still
  // loads the columns.
  if (querydef::GetIniValuesFromProfile(loaded.profile, section, sample, false,
                                        out, def) == querydef::kNoStatement) {
    PrintMessage(err, "section [" + DisplayText(section) + "] of " +
                          loaded.shown_file +
                          " has no statement: tabfetch never wrote an "
                          "extract for it");
    return kExitError;
  }
  const std::vector<ViewColumn> columns = ViewColumns(def.columns);
  const std::size_t record_length =
      extract::CompileLayout(def.columns).record_length;
  if (record_length == 0) {
    PrintMessage(err, "no column of section [" + DisplayText(section) +
                          "] contributes to the record (record length 0): "
                          "the extract cannot be split");
    return kExitError;
  }
  // The file is read as a stream, one block and one record at a time: a
  // table takes two passes (the widths, then the rows), CSV one.
  const std::string path = common::ResolvePath(extract_path);
  const bool csv = args.Flag("--csv");
  const bool latin1 = args.Flag("--latin1");
  std::vector<std::size_t> widths = TableWidths(columns);
  std::size_t count = 0;
  ExtractRecords tail;
  for (int pass = csv ? 1 : 0; pass < 2; ++pass) {
    ExtractStream stream(path);
    if (stream.error() != 0) {
      PrintMessage(err, CannotRead("the extract file", extract_path,
                                   stream.error()));
      return kExitError;
    }
    RecordSplitter splitter(record_length);
    count = 0;
    tail = ExtractRecords();
    const RecordSplitter::Each each = [&](const std::string& record) {
      ++count;
      if (pass == 0) {
        WidenTable(columns, record, widths);
      } else if (csv) {
        PrintCsvRow(columns, record, latin1, out);
      } else {
        PrintTableRow(columns, widths, record, out);
      }
    };
    if (pass == 1) {
      if (csv) {
        PrintCsvHead(columns, latin1, out);
      } else {
        PrintTableHead(columns, widths, out);
      }
    }
    while (stream.Next()) splitter.Feed(stream.block(), each);
    if (stream.error() != 0) {
      std::fflush(out);
      PrintMessage(err, CannotRead("the extract file", extract_path,
                                   stream.error()));
      return kExitError;
    }
    splitter.Finish(each, tail);
  }
  if (!csv) {
    PrintLine(out, "(" + std::to_string(count) +
                       (count == 1 ? " record of " : " records of ") +
                       std::to_string(record_length) + " bytes)");
  }
  const ExtractRecords& split = tail;
  for (const std::string& note : loaded.notes) {
    PrintMessage(err, "warning: " + note);
  }
  if (split.partial) {
    PrintMessage(
        err, "the extract file " + ShownPath(extract_path) +
                 " ends with a partial record: " +
                 std::to_string(split.partial_bytes) + " bytes at offset " +
                 std::to_string(split.partial_offset) +
                 " do not make a record of " + std::to_string(record_length) +
                 " bytes (another record length, or a damaged file)");
    return kExitFindings;
  }
  return kExitClean;
}

}  // namespace admin
